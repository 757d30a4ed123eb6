// The one library-wide record: the connection with its operations, versions,
// classification, locks, the cancel watchdog and the shared image buffers, and
// the USB watcher. Built at library load, destroyed at unload.
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
#include "connection/CommandLock.h"
#include "connection/UsbWatcher.h"
#include "image/SharedImages.h"
#include "operations/CancelWatchdog.h"
#include "operations/HostOperation.h"
#include "operations/TriggerOperation.h"

namespace vel {

class DeviceConnection;

// The objects of one connection. Destruction tears them down in their order: the
// event reader is stopped and running transfers are aborted (nothing waits for
// a stalled imager), then the trigger operation, the host operation, the
// connection (which still sends its close command) and the transport go.
struct Session {
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Asks a running host transfer to stop at its next block and waits for it to end,
  // at most the cancel watchdog's time: the imager hears the host's stop and ends
  // its response, instead of taking the next connection's commands on the command
  // channel for acknowledgements. A transfer still running then has the request
  // taken back (it is aborted next, and publishes what it received).
  void finishHostTransfer();
  // Stops the event reader and aborts the operations' running transfers.
  void stopTransfers();

  std::unique_ptr<ByteStream> transport;  // null when the caller owns the line
  std::unique_ptr<HostOperation> host;
  std::unique_ptr<TriggerOperation> trigger;
  std::unique_ptr<DeviceConnection> connection;
};

class LibraryState {
 public:
  LibraryState();
  // Stops the USB watcher, then closes the connection (when the process is
  // ending its threads are gone and it is only forgotten).
  ~LibraryState();
  LibraryState(const LibraryState&) = delete;
  LibraryState& operator=(const LibraryState&) = delete;

  // The open connection; null when not connected. Read it holding the command
  // lock or inside withSession: it is removed under both.
  DeviceConnection* connection() const { return session_ ? session_->connection.get() : nullptr; }
  // The host operation of the open connection, or null; under the command lock.
  HostOperation* hostOperation() const { return session_ ? session_->host.get() : nullptr; }
  // Runs use(session or null) under the session lock, which is only ever held briefly.
  template <typename Use>
  auto withSession(Use use) {
    ScopedLock hold(sessionLock_);
    return use(session_.get());
  }
  // Makes a built session the open connection; an earlier one is closed first.
  void attachSession(std::unique_ptr<Session> session);
  // A session of an open connection and its transport (null: the caller owns the line).
  void attachConnection(std::unique_ptr<DeviceConnection> connection, std::unique_ptr<ByteStream> transport);
  // Stops the open connection's transfers, removes it under the command lock and
  // the session lock and tears it down outside them.
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

  // Held by connect and disconnect for their whole run.
  Mutex connectLock;
  CommandLock commandLock;
  Mutex transferLock;
  CancelWatchdog watchdog;

  // Shared image buffers, allocated once.
  SharedImages images;
  std::atomic<uint8_t*> displayBuffer{nullptr};
  uint8_t lastCaptureFlags = 0;

 private:
  // Starts the watcher once; later calls do nothing. A thread that cannot be
  // created leaves it unstarted, to be tried again by the next registration.
  void startUsbWatcher();
  void stopUsbWatcher();

  Mutex sessionLock_;
  std::unique_ptr<Session> session_;

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
