// Mutex, event and semaphore of the operating system. Waits take milliseconds
// (kInfinite = no limit, platform/Time.h).
#pragma once

#include <cstdint>

#include "platform/Time.h"

namespace vel::platform {

// Mutex that the holding thread may lock again (each lock needs its unlock).
struct Mutex;
Mutex* mutexCreate();
void mutexDestroy(Mutex* m);
void mutexLock(Mutex* m);
bool mutexTryLock(Mutex* m);
void mutexUnlock(Mutex* m);

// Event with manual or automatic reset.
struct Event;
Event* eventCreate(bool manualReset, bool initiallySet);
void eventDestroy(Event* e);
void eventSet(Event* e);
void eventReset(Event* e);
bool eventWait(Event* e, uint32_t ms);  // true when signalled, false on timeout

// Counting semaphore.
struct Semaphore;
Semaphore* semaphoreCreate(long initial, long maximum);
void semaphoreDestroy(Semaphore* s);
bool semaphoreWait(Semaphore* s, uint32_t ms);  // true when a count was taken
void semaphoreRelease(Semaphore* s, long count);

}  // namespace vel::platform
