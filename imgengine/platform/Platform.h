// The only interface through which ImgEngine reaches the operating system.
// win32/ implements it with the Win32 API, posix/ with POSIX threads and calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

// Wait without a time limit.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds timeout as the library passes them (-1 = no limit) to a wait argument.
inline uint32_t waitMs(int timeoutMs) { return timeoutMs < 0 ? kInfinite : static_cast<uint32_t>(timeoutMs); }

uint32_t tickCount();  // milliseconds since an arbitrary start, wrapping at 2^32
void sleepMs(uint32_t ms);
uint32_t currentThreadId();

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

// Threads are created suspended; resume starts them once.
struct Thread;
using ThreadEntry = void (*)(void* argument);
Thread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes);  // null on failure
bool threadSetPriority(Thread* t, int priority);  // result of the platform call
void threadResume(Thread* t);
void threadJoin(Thread* t);
void threadDestroy(Thread* t);  // after join

// Thread-local slot holding one pointer per thread.
struct TlsSlot;
TlsSlot* tlsAllocate();
void tlsFree(TlsSlot* slot);
void tlsSet(TlsSlot* slot, void* value);
void* tlsGet(TlsSlot* slot);

}  // namespace vel::platform
