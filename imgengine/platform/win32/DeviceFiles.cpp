// Win32 driver device files and serial lines: files opened for overlapped I/O.
#include "platform/DeviceFiles.h"

#include "platform/win32/OverlappedFile.h"

namespace vel::platform {

IoOperation* ioOperationCreate(NativeEvent* event) {
  auto* op = new IoOperation{};
  op->ov.hEvent = reinterpret_cast<HANDLE>(event);
  return op;
}

void ioOperationDestroy(IoOperation* op) { delete op; }

NativeFile* deviceOpen(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<NativeFile*>(h);
}

bool deviceProbe(const char* name) {
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

void deviceClose(NativeFile* f) {
  if (f) CloseHandle(fileHandle(f));
}

IoStart deviceRead(NativeFile* f, void* buffer, uint32_t length, IoOperation* op) {
  rearm(op);
  return started(ReadFile(fileHandle(f), buffer, length, nullptr, &op->ov));
}

IoStart deviceWrite(NativeFile* f, const void* data, uint32_t length, IoOperation* op) {
  rearm(op);
  return started(WriteFile(fileHandle(f), data, length, nullptr, &op->ov));
}

IoStart deviceControl(NativeFile* f, uint32_t code, const void* input, uint32_t inputLength, IoOperation* op) {
  rearm(op);
  DWORD returned = 0;
  return started(
      DeviceIoControl(fileHandle(f), code, const_cast<void*>(input), inputLength, nullptr, 0, &returned, &op->ov));
}

bool deviceResult(NativeFile* f, IoOperation* op, uint32_t* transferred) {
  DWORD n = 0;
  const BOOL ok = GetOverlappedResult(fileHandle(f), &op->ov, &n, FALSE);
  if (transferred) *transferred = n;
  return ok != 0;
}

void deviceCancel(NativeFile* f) { CancelIo(fileHandle(f)); }

void ioSettle(NativeFile*, IoOperation* op) {
  // A cancelled request still completes on its own time; its buffer is the caller's
  // until then. A driver that never completes it is given up on after this many
  // one-millisecond sleeps (at least five seconds).
  constexpr int kSettlePolls = 5000;
  for (int i = 0; i < kSettlePolls && !HasOverlappedIoCompleted(&op->ov); ++i) Sleep(1);
}

}  // namespace vel::platform
