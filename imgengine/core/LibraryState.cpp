#include "core/LibraryState.h"

#include "connection/DeviceConnection.h"
#include "platform/Modules.h"
#include "platform/Threads.h"

namespace vel {

LibraryState::LibraryState()
    : greyImage(kGreyImageBufferBytes),
      displayCopy(kGreyImageBufferBytes),
      binaryImage(kBinaryImageBufferBytes) {}

void LibraryState::startUsbWatcher() {
  ScopedLock guard(watcherLock);
  if (watcherStarted) return;
  // The watcher polls for the imager's USB devices (10,000-byte stack, priority 0).
  // It holds a reference on the module that contains it, taken here before it starts,
  // and ends by dropping that reference and exiting in one step: the library is not
  // unmapped under a running watcher, and unload never has to wait for a thread's
  // exit (which inside the platform's unload notification would wait on the loader
  // lock the unloading thread holds).
  // On posix there is no pin: unload joins the watcher before the code goes.
  if (!pnpRescan) pnpRescan = std::make_unique<PnpRescan>();
  void* pin = platform::modulePin();
  try {
    usbWatcher = std::make_unique<WorkerThread>(10000, 15000000, [this, pin](WorkerThread& self) {
      runUsbWatcher(self, usbWatch, *pnpRescan);
      platform::threadExitReleasingModule(pin);
    });
  } catch (const std::exception&) {
    platform::moduleUnpin(pin);
    return;
  }
  watcherStarted = 1;
  usbWatcher->resume();
}

LibraryState::~LibraryState() {
  if (watcherStarted) {
    usbWatcher->stop();
    if (platform::processEnding()) {
      // The system ends the watcher with the process; waiting for it could hang.
      // Its object and library are left behind: nothing else runs after this.
      usbWatcher.release();
      pnpRescan.release();
    } else {
      usbWatcher->join();
    }
  }
}

}  // namespace vel
