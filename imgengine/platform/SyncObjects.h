// Mutex, event and semaphore of the operating system. Waits take milliseconds
// (kInfinite = no limit, platform/Time.h).
#pragma once

#include <cstdint>

#include "platform/Time.h"

namespace vel::platform {

// Mutex that the holding thread may lock again (each lock needs its unlock).
struct NativeMutex;
NativeMutex* mutexCreate();
void mutexDestroy(NativeMutex* m);
void mutexLock(NativeMutex* m);
bool mutexTryLock(NativeMutex* m);
void mutexUnlock(NativeMutex* m);

// Event with manual or automatic reset.
struct NativeEvent;
NativeEvent* eventCreate(bool manualReset, bool initiallySet);
void eventDestroy(NativeEvent* e);
void eventSet(NativeEvent* e);
void eventReset(NativeEvent* e);
bool eventWait(NativeEvent* e, uint32_t ms);  // true when signalled, false on timeout

// Counting semaphore.
struct NativeSemaphore;
NativeSemaphore* semaphoreCreate(long initial, long maximum);
void semaphoreDestroy(NativeSemaphore* s);
bool semaphoreWait(NativeSemaphore* s, uint32_t ms);  // true when a count was taken
void semaphoreRelease(NativeSemaphore* s, long count);

}  // namespace vel::platform
