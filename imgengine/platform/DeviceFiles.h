// Driver device files and serial lines opened by name, driven with overlapped
// requests.
#pragma once

#include <cstdint>

#include "platform/SyncObjects.h"

namespace vel::platform {

// How an overlapped request started.
enum class IoStart { kCompleted, kPending, kFailed };

// Overlapped operation record bound to a manual-reset event that the system
// signals when the request completes.
struct IoOperation;
IoOperation* ioOperationCreate(NativeEvent* event);
void ioOperationDestroy(IoOperation* op);

struct NativeFile;
// Exclusive open for reading and writing, only if the name exists, for overlapped I/O.
NativeFile* deviceOpen(const char* name);
// Presence probe: open without access rights, sharing read and write, and close again.
bool deviceProbe(const char* name);
void deviceClose(NativeFile* f);
IoStart deviceRead(NativeFile* f, void* buffer, uint32_t length, IoOperation* op);
IoStart deviceWrite(NativeFile* f, const void* data, uint32_t length, IoOperation* op);
IoStart deviceControl(NativeFile* f, uint32_t code, const void* input, uint32_t inputLength, IoOperation* op);
// Result of a request without waiting: false when it failed or is still pending.
bool deviceResult(NativeFile* f, IoOperation* op, uint32_t* transferred);
void deviceCancel(NativeFile* f);  // cancels the calling thread's pending requests on the file
// After a cancel: returns once op has ended, so that its buffer and record may be reused.
void ioSettle(NativeFile* f, IoOperation* op);

}  // namespace vel::platform
