// USB HID scanner: presence check through SetupAPI, an overlapped reader of 65-byte
// input reports, and a thread that waits for the scanner and reconnects it.
#include <windows.h>
// windows.h first: the HID and SetupAPI headers rely on its types. The HID header
// declares no C linkage of its own.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstdio>
#include <vector>

#include "Sources.h"

namespace keycaster {

namespace {

void messageBox(const char* format, unsigned long value) {
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<int>(value));
  MessageBoxA(nullptr, text, "KeyCaster", MB_OK);
}

}  // namespace

// One reader thread and the device it holds; the thread closes the device when it ends.
struct HidSource::Reader {
  HANDLE device = INVALID_HANDLE_VALUE;
  std::atomic<bool> run{true};  // hidReaderRun of this reader
  BarcodeHandOver* handOver = nullptr;
  // Kept off the thread's stack: a read that does not finish cancelling still has
  // somewhere to write.
  OVERLAPPED overlapped{};
  uint8_t report[kHidReportBytes] = {};
};

struct HidSource::Watch {
  HidSource* source = nullptr;
  std::atomic<bool> run{true};  // hidWatchRun of this thread
  bool watchdog = false;
};

namespace {

DWORD WINAPI readerThread(LPVOID arg) {
  auto* holder = static_cast<std::shared_ptr<HidSource::Reader>*>(arg);
  std::shared_ptr<HidSource::Reader> r = *holder;
  delete holder;

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    CloseHandle(r->device);
    return 0;
  }
  r->overlapped.hEvent = event;
  HidReportAssembler assembler;
  std::vector<uint8_t> barcode;
  bool inFlight = false;

  while (r->run) {
    ResetEvent(event);
    DWORD got = 0;
    inFlight = true;
    if (!ReadFile(r->device, r->report, kHidReportBytes, &got, &r->overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_DEVICE_NOT_CONNECTED) {
        inFlight = false;
        if (r->run) messageBox("Read error= %d", error);
        break;
      }
      bool stopped = false;
      while (WaitForSingleObject(event, 100) == WAIT_TIMEOUT) {
        if (!r->run) {
          stopped = true;
          break;
        }
      }
      if (stopped) break;
    }
    inFlight = false;
    if (!GetOverlappedResult(r->device, &r->overlapped, &got, FALSE)) {
      const DWORD error = GetLastError();
      if (error == ERROR_DEVICE_NOT_CONNECTED) continue;
      if (!r->run) break;
      messageBox("GetOverlappedResult error: %d", error);
      continue;
    }
    if (got < kHidReportBytes - 1) {
      if (!r->run) break;
      messageBox("Only read %d bytes", got);
      continue;
    }
    if (assembler.feed(r->report, got, barcode)) r->handOver->deliver(barcode.data(), barcode.size());
  }

  if (inFlight) {
    CancelIo(r->device);
    // Wait for the cancelled read to let go of the buffer; a device that never
    // completes it keeps the reader record alive instead.
    if (WaitForSingleObject(event, 1000) == WAIT_TIMEOUT) {
      new std::shared_ptr<HidSource::Reader>(r);
      CloseHandle(r->device);
      return 0;
    }
  }
  CloseHandle(event);
  CloseHandle(r->device);
  return 0;
}

}  // namespace

HANDLE HidSource::find(bool fromWatchdog) {
  GUID guid;
  HidD_GetHidGuid(&guid);
  HDEVINFO info = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;

  HANDLE found = INVALID_HANDLE_VALUE;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(info, nullptr, &guid, index, &data)) break;
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(info, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || needed > 65536) continue;
    std::vector<uint8_t> storage(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(info, &data, detail, needed, nullptr, nullptr)) continue;

    HANDLE h = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(h, &attributes)) {
      MessageBoxA(nullptr, "Couldn't get HID attributes", "KeyCaster", MB_OK);
      CloseHandle(h);
      if (fromWatchdog) {
        std::lock_guard<std::mutex> guard(lock_);
        if (reader_) {
          MessageBoxA(nullptr, "Disconnect!", "KeyCaster", MB_OK);
          reader_->run = false;
          reader_.reset();
        }
      }
      break;
    }
    if (attributes.VendorID == kHidVendorId && attributes.ProductID == kHidProductId) {
      found = h;
      break;
    }
    CloseHandle(h);
  }
  SetupDiDestroyDeviceInfoList(info);
  return found;
}

void HidSource::startReaderLocked(HANDLE device) {
  auto reader = std::make_shared<Reader>();
  reader->device = device;
  reader->handOver = &handOver_;
  auto* holder = new std::shared_ptr<Reader>(reader);
  HANDLE thread = CreateThread(nullptr, 0, readerThread, holder, 0, nullptr);
  if (!thread) {
    delete holder;
    CloseHandle(device);
    return;
  }
  CloseHandle(thread);
  reader_ = reader;
}

void HidSource::startWatch(bool watchdog) {
  auto watch = std::make_shared<Watch>();
  watch->source = this;
  watch->watchdog = watchdog;
  auto* holder = new std::shared_ptr<Watch>(watch);
  HANDLE thread = CreateThread(nullptr, 0, watchThread, holder, 0, nullptr);
  if (!thread) {
    delete holder;
    return;
  }
  CloseHandle(thread);
  watch_ = watch;
}

void HidSource::start() {
  std::unique_lock<std::mutex> guard(lock_);
  if (reader_) return;
  if (watch_) watch_->run = false;
  watch_.reset();
  guard.unlock();
  HANDLE device = find(false);
  guard.lock();
  if (device != INVALID_HANDLE_VALUE) {
    startReaderLocked(device);
    startWatch(true);
  } else {
    startWatch(false);
  }
}

bool HidSource::deviceOpen() {
  std::lock_guard<std::mutex> guard(lock_);
  return reader_ != nullptr;
}

void HidSource::stop() {
  std::lock_guard<std::mutex> guard(lock_);
  if (reader_) reader_->run = false;
  reader_.reset();
  if (watch_) watch_->run = false;
  watch_.reset();
}

void HidSource::stopWatch() {
  std::lock_guard<std::mutex> guard(lock_);
  if (watch_) watch_->run = false;
  watch_.reset();
}

void HidSource::stopReader() {
  std::lock_guard<std::mutex> guard(lock_);
  if (reader_) reader_->run = false;
  reader_.reset();
}

DWORD WINAPI HidSource::watchThread(LPVOID arg) {
  auto* holder = static_cast<std::shared_ptr<Watch>*>(arg);
  std::shared_ptr<Watch> w = *holder;
  delete holder;
  HidSource& source = *w->source;

  while (w->run) {
    // 1200 ms between checks, in slices so that Stop ends the thread promptly.
    for (int slice = 0; slice < 12 && w->run; ++slice) Sleep(100);
    if (!w->run) break;
    if (w->watchdog) SetThreadExecutionState(ES_SYSTEM_REQUIRED);
    HANDLE device = source.find(w->watchdog);

    std::lock_guard<std::mutex> guard(source.lock_);
    if (!w->run) {
      if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
      break;
    }
    if (device == INVALID_HANDLE_VALUE) {
      if (source.reader_) {
        source.reader_->run = false;  // the reader ends and closes its device
        source.reader_.reset();
      }
    } else if (!source.reader_) {
      source.startReaderLocked(device);
      w->watchdog = true;
    } else {
      CloseHandle(device);  // the scanner is already being read
    }
  }
  return 0;
}

}  // namespace keycaster
