// The one library-wide record: the connection, versions, classification, locks and
// the shared image buffers, and the USB watcher. Built at library load, destroyed
// at unload.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/ByteStream.h"
#include "base/Sync.h"
#include "base/WorkerThread.h"
#include "config/DeviceConfiguration.h"
#include "config/ImagerIdentity.h"
#include "connection/UsbWatcher.h"

namespace vel {

class DeviceConnection;

constexpr size_t kGreyImageBufferBytes = 3932214;  // 1280 x 1024 x 3 + 54
constexpr size_t kBinaryImageBufferBytes = 164352;

class LibraryState {
 public:
  LibraryState();
  // Stops the USB watcher, then closes the connection and its transport.
  ~LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;

  // The open connection; null when not connected.
  DeviceConnection* connection() const { return connection_.get(); }
  // Takes over an open connection and, when the state is to own it, its transport;
  // a previous connection is closed first.
  void attachConnection(std::unique_ptr<DeviceConnection> connection, std::unique_ptr<ByteStream> transport);
  // Closes the connection, then its transport.
  void closeConnection();

  // USB ready notification: WM_USB_READY_STATUS goes to the window and the thread
  // registered last (null or 0: none). The first registration of either kind
  // starts the USB watcher.
  void registerUsbReadyWindow(platform::Window window);
  void registerUsbReadyThread(uint32_t threadId);
  bool usbWatcherStarted() const { return watcherStarted_.load(); }

  VersionRecord versions;
  int processorType = kProcessorMx1;
  int sensorType = kSensorStandard;
  int channelTimeout = -1;

  Mutex commandLock;
  Mutex transferLock;

  // Shared image targets, allocated once.
  std::vector<uint8_t> greyImage;
  std::vector<uint8_t> displayCopy;
  std::vector<uint8_t> binaryImage;
  uint32_t greyDataSize = 0;
  uint8_t compressedGrey = 0;
  uint8_t* displayBuffer = nullptr;
  uint8_t lastCaptureFlags = 0;

 private:
  // Starts the watcher once; later calls do nothing. A thread that cannot be
  // created leaves it unstarted, to be tried again by the next registration.
  void startUsbWatcher();
  void stopUsbWatcher();

  // The connection is destroyed before the transport it runs over.
  std::unique_ptr<ByteStream> transport_;
  std::unique_ptr<DeviceConnection> connection_;

  // The watcher is created and started by the first ready registration (a thread
  // created at load but never started could not be ended inside the platform's
  // unload notification). Its targets and present flag live in usbWatch_.
  Mutex watcherLock_;
  UsbWatchTargets usbWatch_;
  std::unique_ptr<PnpRescan> pnpRescan_;  // loaded before the watcher starts, freed after it ended
  std::unique_ptr<WorkerThread> usbWatcher_;
  std::atomic<bool> watcherStarted_{false};
};

LibraryState& library();
// The host copy of the imager's configuration lives beside the state:
// deviceConfiguration(), declared in config/DeviceConfiguration.h.

}  // namespace vel
