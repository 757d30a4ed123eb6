#include "core/LibraryState.h"

#include "connection/DeviceConnection.h"
#include "platform/Modules.h"
#include "platform/Threads.h"
#include "platform/Time.h"

namespace vel {

namespace {
constexpr size_t kUsbWatcherStackBytes = 10000;
constexpr int kUsbWatcherPriority = kPriorityNormal;
}  // namespace

LibraryState::LibraryState() = default;

Session::~Session() {
  stopTransfers();
  trigger.reset();
  host.reset();
  connection.reset();
  transport.reset();
}

void Session::finishHostTransfer() {
  if (!host) return;
  host->askToStop();
  const uint32_t start = platform::tickCount();
  while (host->transferRunning()) {
    if (platform::tickCount() - start >= CancelWatchdog::kTimeoutMs) {
      host->withdrawStop();
      return;
    }
    platform::sleepMs(1);
  }
}

void Session::stopTransfers() {
  if (connection) connection->stopEventReader();
  if (trigger) trigger->abortTransfers();
  if (host) host->abortTransfers();
}

LibraryState::~LibraryState() {
  stopUsbWatcher();
  if (platform::processEnding()) {
    // The system has ended the connection's threads with the process; joining
    // them could hang. Nothing runs after this.
    session_.release();
    return;
  }
  closeConnection();
}

void LibraryState::attachSession(std::unique_ptr<Session> session) {
  ScopedLock serial(connectLock);
  closeConnection();
  CommandHold command(commandLock);
  ScopedLock hold(sessionLock_);
  session_ = std::move(session);
}

void LibraryState::attachConnection(std::unique_ptr<DeviceConnection> connection,
                                    std::unique_ptr<ByteStream> transport) {
  auto session = std::make_unique<Session>();
  session->transport = std::move(transport);
  session->connection = std::move(connection);
  attachSession(std::move(session));
}

void LibraryState::closeConnection() {
  ScopedLock serial(connectLock);
  if (!session_) return;
  session_->finishHostTransfer();
  // A stalled transfer would keep the command lock from the removal below.
  session_->stopTransfers();
  std::unique_ptr<Session> closing;
  {
    CommandHold command(commandLock);
    ScopedLock hold(sessionLock_);
    closing = std::move(session_);
  }
  closing.reset();
}

void LibraryState::registerUsbReadyWindow(platform::Window window) {
  usbWatch_.window = window;
  startUsbWatcher();
}

void LibraryState::registerUsbReadyThread(uint32_t threadId) {
  usbWatch_.thread = threadId;
  startUsbWatcher();
}

void LibraryState::startUsbWatcher() {
  ScopedLock guard(watcherLock_);
  if (watcherStarted_) return;
  // The watcher holds a reference on the module that contains it, taken here before
  // it starts, and ends by dropping that reference and exiting in one step: the
  // library is not unmapped under a running watcher, and unload never has to wait
  // for a thread's exit (which inside the platform's unload notification would wait
  // on the loader lock the unloading thread holds). On posix there is no pin:
  // unload joins the watcher before the code goes.
  if (!pnpRescan_) pnpRescan_ = std::make_unique<PnpRescan>();
  void* pin = platform::modulePin();
  try {
    usbWatcher_ = std::make_unique<WorkerThread>(kUsbWatcherStackBytes, kUsbWatcherPriority,
                                                 [this, pin](WorkerThread& self) {
                                                   runUsbWatcher(self, usbWatch_, *pnpRescan_);
                                                   platform::threadExitReleasingModule(pin);
                                                 });
  } catch (const std::exception&) {
    platform::moduleUnpin(pin);
    return;
  }
  watcherStarted_ = true;
  usbWatcher_->resume();
}

void LibraryState::stopUsbWatcher() {
  if (!watcherStarted_) return;
  usbWatcher_->stop();
  if (platform::processEnding()) {
    // The system ends the watcher with the process; waiting for it could hang.
    // Its object and library are left behind: nothing else runs after this.
    usbWatcher_.release();
    pnpRescan_.release();
  } else {
    usbWatcher_->join();
  }
}

}  // namespace vel
