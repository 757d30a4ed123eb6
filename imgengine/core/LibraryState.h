// The one library-wide record: connection objects, versions, classification,
// locks and the shared image buffers. Built at library load, destroyed at unload.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/DeviceConfiguration.h"
#include "config/ImagerIdentity.h"
#include "base/ByteStream.h"
#include "base/Sync.h"
#include "connection/UsbWatcher.h"
#include "base/WorkerThread.h"

namespace vel {

class DeviceConnection;

constexpr size_t kGreyImageBufferBytes = 3932214;  // 1280 x 1024 x 3 + 54
constexpr size_t kBinaryImageBufferBytes = 164352;

class LibraryState {
 public:
  LibraryState();
  ~LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;

  // The open connection: its transport, and the connection built over it
  // (destroyed first). Null when not connected.
  std::unique_ptr<ByteStream> transport;
  std::unique_ptr<DeviceConnection> connection;

  VersionRecord versions;
  int processorType = kProcessorMx1;
  int sensorType = kSensorStandard;
  int channelTimeout = -1;

  Mutex commandLock;
  Mutex transferLock;
  Mutex watcherLock;

  // Shared image targets, allocated once.
  std::vector<uint8_t> greyImage;
  std::vector<uint8_t> displayCopy;
  std::vector<uint8_t> binaryImage;
  uint32_t greyDataSize = 0;
  uint8_t compressedGrey = 0;
  uint8_t* displayBuffer = nullptr;
  uint8_t lastCaptureFlags = 0;

  // USB presence watcher, created and started by the first ready registration (a
  // thread created at load but never started could not be ended inside the
  // platform's unload notification). Its targets and present flag live in usbWatch.
  std::unique_ptr<PnpRescan> pnpRescan;  // loaded before the watcher starts, freed after it ended
  std::unique_ptr<WorkerThread> usbWatcher;
  std::atomic<uint8_t> watcherStarted{0};
  UsbWatchTargets usbWatch;
  // Starts the watcher once; later calls do nothing. A thread that cannot be
  // created leaves it unstarted, to be tried again by the next registration.
  void startUsbWatcher();
};

LibraryState& library();
// The host copy of the imager's configuration lives beside the state:
// deviceConfiguration(), declared in config/DeviceConfiguration.h.

}  // namespace vel
