// USB ready notification: the targets of WM_USB_READY_STATUS. The first
// registration of either kind starts the library's USB watcher.
#include "ImgEngine.h"
#include "core/LibraryState.h"

extern "C" {

void VEL_API VelRegisterUsbReadyStatusNotifyWindow(VelWindow window) {
  vel::library().registerUsbReadyWindow(reinterpret_cast<vel::platform::Window>(window));
}

void VEL_API VelRegisterUsbReadyStatusNotifyThread(unsigned int threadId) {
  vel::library().registerUsbReadyThread(threadId);
}

}  // extern "C"
