#include "core/LibraryState.h"

#include "connection/DeviceConnection.h"
#include "platform/Modules.h"
#include "platform/Threads.h"

namespace vel {

namespace {
constexpr size_t kUsbWatcherStackBytes = 10000;
constexpr int kUsbWatcherPriority = kPriorityNormal;
}  // namespace

LibraryState::LibraryState()
    : greyImage(kGreyImageBufferBytes),
      displayCopy(kGreyImageBufferBytes),
      binaryImage(kBinaryImageBufferBytes) {}

LibraryState::~LibraryState() {
  stopUsbWatcher();
  closeConnection();
}

void LibraryState::attachConnection(std::unique_ptr<DeviceConnection> connection,
                                    std::unique_ptr<ByteStream> transport) {
  closeConnection();
  transport_ = std::move(transport);
  connection_ = std::move(connection);
}

void LibraryState::closeConnection() {
  connection_.reset();
  transport_.reset();
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
