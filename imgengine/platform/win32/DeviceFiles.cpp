// Win32 serial lines, driver device files, run-time libraries and posted messages.
#include "platform/Platform.h"

#include <windows.h>

namespace vel::platform {

struct IoOperation {
  OVERLAPPED ov;
};

IoOperation* ioOperationCreate(Event* event) {
  auto* op = new IoOperation{};
  op->ov.hEvent = reinterpret_cast<HANDLE>(event);
  return op;
}

void ioOperationDestroy(IoOperation* op) { delete op; }

static HANDLE fh(DeviceFile* f) { return reinterpret_cast<HANDLE>(f); }

static IoStart started(BOOL ok) {
  if (ok) return IoStart::kCompleted;
  return GetLastError() == ERROR_IO_PENDING ? IoStart::kPending : IoStart::kFailed;
}

static void rearm(IoOperation* op) {
  HANDLE e = op->ov.hEvent;
  ZeroMemory(&op->ov, sizeof op->ov);
  op->ov.hEvent = e;
}

DeviceFile* deviceOpen(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<DeviceFile*>(h);
}

bool deviceProbe(const char* name) {
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

void deviceClose(DeviceFile* f) {
  if (f) CloseHandle(fh(f));
}

IoStart deviceRead(DeviceFile* f, void* buffer, uint32_t length, IoOperation* op) {
  rearm(op);
  return started(ReadFile(fh(f), buffer, length, nullptr, &op->ov));
}

IoStart deviceWrite(DeviceFile* f, const void* data, uint32_t length, IoOperation* op) {
  rearm(op);
  return started(WriteFile(fh(f), data, length, nullptr, &op->ov));
}

IoStart deviceControl(DeviceFile* f, uint32_t code, const void* input, uint32_t inputLength, IoOperation* op) {
  rearm(op);
  DWORD returned = 0;
  return started(DeviceIoControl(fh(f), code, const_cast<void*>(input), inputLength, nullptr, 0, &returned, &op->ov));
}

bool deviceResult(DeviceFile* f, IoOperation* op, uint32_t* transferred) {
  DWORD n = 0;
  const BOOL ok = GetOverlappedResult(fh(f), &op->ov, &n, FALSE);
  if (transferred) *transferred = n;
  return ok != 0;
}

void deviceCancel(DeviceFile* f) { CancelIo(fh(f)); }

void ioSettle(DeviceFile*, IoOperation* op) {
  // A cancelled request still completes on its own time; its buffer is the caller's until then.
  for (int i = 0; i < 5000 && !HasOverlappedIoCompleted(&op->ov); ++i) Sleep(1);
}

bool serialConfigure(DeviceFile* f, const SerialSettings& s) {
  HANDLE h = fh(f);
  bool ok = SetupComm(h, s.inQueue, s.outQueue) != 0;
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = s.baudRate;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  ok = SetCommState(h, &dcb) != 0 && ok;
  ok = serialPurge(f) && ok;
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = 0;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0xFFFFFFFF;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0xFFFFFFFF;
  ok = SetCommTimeouts(h, &t) != 0 && ok;
  DWORD mask = 0;
  GetCommMask(h, &mask);
  ok = SetCommMask(h, mask | s.extraEventMask) != 0 && ok;
  return ok;
}

bool serialSetBaudRate(DeviceFile* f, uint32_t baud) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(fh(f), &dcb)) return false;
  dcb.BaudRate = baud;
  return SetCommState(fh(f), &dcb) != 0;
}

bool serialPurge(DeviceFile* f) {
  return PurgeComm(fh(f), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool serialSetBreak(DeviceFile* f, bool on) { return (on ? SetCommBreak(fh(f)) : ClearCommBreak(fh(f))) != 0; }

IoStart serialWaitEvent(DeviceFile* f, uint32_t* mask, IoOperation* op) {
  rearm(op);
  static_assert(sizeof(DWORD) == sizeof(uint32_t), "event mask width");
  return started(WaitCommEvent(fh(f), reinterpret_cast<DWORD*>(mask), &op->ov));
}

Library* libraryLoad(const char* name) { return reinterpret_cast<Library*>(LoadLibraryA(name)); }

void* libraryEntry(Library* lib, const char* entry) {
  return lib ? reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), entry)) : nullptr;
}

void libraryFree(Library* lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(static_cast<HWND>(w), message, wParam, lParam) != 0;
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostThreadMessageA(threadId, message, wParam, lParam) != 0;
}

Window messageWindowCreate() {
  return CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void messageWindowDestroy(Window w) {
  if (w) DestroyWindow(static_cast<HWND>(w));
}

bool messageTake(Message* out, uint32_t ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message >= WM_USER) {
        out->window = msg.hwnd;
        out->message = msg.message;
        out->wParam = msg.wParam;
        out->lParam = msg.lParam;
        return true;
      }
      DispatchMessageA(&msg);
      continue;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (ms != kInfinite && elapsed >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms == kInfinite ? INFINITE : ms - elapsed, QS_ALLPOSTMESSAGE);
  }
}

}  // namespace vel::platform

namespace vel::platform {

void* modulePin() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&modulePin), &module);
  return module;
}

void moduleUnpin(void* pin) {
  if (pin) FreeLibrary(static_cast<HMODULE>(pin));
}

bool processEnding() {
  using ShutdownInProgress = BOOLEAN(WINAPI*)();
  static const auto query = reinterpret_cast<ShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
  return query && query();
}

void threadExitReleasingModule(void* pin) {
  if (pin) FreeLibraryAndExitThread(static_cast<HMODULE>(pin), 0);
}

}  // namespace vel::platform
