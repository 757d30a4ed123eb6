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
IoOperation* ioOperationCreate(Event* event);
void ioOperationDestroy(IoOperation* op);

struct DeviceFile;
// Exclusive open for reading and writing, only if the name exists, for overlapped I/O.
DeviceFile* deviceOpen(const char* name);
// Presence probe: open without access rights, sharing read and write, and close again.
bool deviceProbe(const char* name);
void deviceClose(DeviceFile* f);
IoStart deviceRead(DeviceFile* f, void* buffer, uint32_t length, IoOperation* op);
IoStart deviceWrite(DeviceFile* f, const void* data, uint32_t length, IoOperation* op);
IoStart deviceControl(DeviceFile* f, uint32_t code, const void* input, uint32_t inputLength, IoOperation* op);
// Result of a request without waiting: false when it failed or is still pending.
bool deviceResult(DeviceFile* f, IoOperation* op, uint32_t* transferred);
void deviceCancel(DeviceFile* f);  // cancels the calling thread's pending requests on the file
// After a cancel: returns once op has ended, so that its buffer and record may be reused.
void ioSettle(DeviceFile* f, IoOperation* op);

}  // namespace vel::platform
