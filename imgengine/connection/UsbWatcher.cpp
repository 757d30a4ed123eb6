#include "connection/UsbWatcher.h"

#include <string>

#include "base/trace/Recorder.h"
#include "transport/DeviceSeam.h"
#include "transport/UsbTransport.h"

namespace vel {

bool usbDevicePresent() {
  for (int i = 0; i < kUsbWatchNumbers; ++i) {
    if (devices::provider().probeDevice(UsbStreamBase::deviceName(kUsbDeviceName, i).c_str())) return true;
  }
  return false;
}

namespace {
void notify(UsbWatchTargets& targets, intptr_t status) {
  // Targets are read at the moment of posting; a failed post (window gone) is ignored.
  bool posted = false;
  if (platform::Window w = targets.window.load()) posted |= platform::postWindowMessage(w, kWmUsbReadyStatus, 0, status);
  if (uint32_t t = targets.thread.load()) posted |= platform::postThreadMessage(t, kWmUsbReadyStatus, 0, status);
  if (posted && trace::on()) trace::notification("WM_USB_READY_STATUS 0," + std::to_string(status));
}
}  // namespace

PnpRescan::PnpRescan()
    : library_(platform::libraryLoad(kPnpLibraryName)),
      entry_(reinterpret_cast<Entry>(platform::libraryEntry(library_, kPnpRescanEntry))) {}

PnpRescan::~PnpRescan() { platform::libraryFree(library_); }

void PnpRescan::operator()() const {
  if (entry_) entry_();
}

void runUsbWatcher(WorkerThread& self, UsbWatchTargets& targets, const PnpRescan& rescan) {
  while (!self.stopRequested()) {
    if (self.stopEvent().wait(kUsbWatchPeriodMs) || self.stopRequested()) break;
    if (usbDevicePresent()) {
      if (!targets.present.load()) {
        targets.present = 1;
        notify(targets, 1);
      }
    } else if (targets.present.load()) {
      targets.present = 0;
      notify(targets, 0);
    } else {
      rescan();
    }
  }
}

}  // namespace vel
