// The library's watcher for the first USB driver's device objects: posts
// WM_USB_READY_STATUS to the registered window and thread on every change of
// presence, and asks the plug-and-play library to rescan while none is present.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/WorkerThread.h"
#include "platform/Messages.h"
#include "platform/Modules.h"

namespace vel {

constexpr uint32_t kWmUsbReadyStatus = 0x0400 + 260;
constexpr int kUsbWatchNumbers = 128;
constexpr uint32_t kUsbWatchPeriodMs = 100;
constexpr char kPnpLibraryName[] = "VelmoraPnpLibrary.dll";
constexpr char kPnpRescanEntry[] = "RescanPnpDevices";

struct UsbWatchTargets {
  std::atomic<platform::Window> window{nullptr};
  std::atomic<uint32_t> thread{0};
  std::atomic<uint8_t> present{0};
};

// The plug-and-play library's rescan entry, held while the library is loaded. The
// thread that starts the watcher loads it and the owner frees it once the watcher
// has ended: the watcher itself never loads or frees a library, which would wait
// for the loader that a thread unloading ImgEngine holds while it joins the watcher.
class PnpRescan {
 public:
  PnpRescan();  // without the library, or its entry, rescans do nothing
  ~PnpRescan();
  PnpRescan(const PnpRescan&) = delete;
  PnpRescan& operator=(const PnpRescan&) = delete;

  void operator()() const;

 private:
  using Entry = void (*)();
  platform::Library* library_;
  Entry entry_;
};

// The watcher's run loop, until the thread's stop flag is set.
void runUsbWatcher(WorkerThread& self, UsbWatchTargets& targets, const PnpRescan& rescan);

// True when any of "\\.\CorvidUsbDriverDevice0".."127" answers a presence probe.
bool usbDevicePresent();

}  // namespace vel
