// Inside the Win32 device files: the overlapped record and the helpers that
// DeviceFiles.cpp and Serial.cpp share.
#pragma once

#include <windows.h>

#include "platform/DeviceFiles.h"

namespace vel::platform {

struct IoOperation {
  OVERLAPPED ov;
};

// A device file is the Win32 file handle itself.
inline HANDLE fileHandle(NativeFile* f) { return reinterpret_cast<HANDLE>(f); }

// How a request started, from the call's result and the thread's last error.
inline IoStart started(BOOL ok) {
  if (ok) return IoStart::kCompleted;
  return GetLastError() == ERROR_IO_PENDING ? IoStart::kPending : IoStart::kFailed;
}

// Clears the record for the next request, keeping its event.
inline void rearm(IoOperation* op) {
  HANDLE e = op->ov.hEvent;
  ZeroMemory(&op->ov, sizeof op->ov);
  op->ov.hEvent = e;
}

}  // namespace vel::platform
