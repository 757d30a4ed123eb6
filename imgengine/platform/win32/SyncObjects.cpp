// Win32 mutex, event and semaphore.
#include "platform/SyncObjects.h"

#include <windows.h>

namespace vel::platform {

// Each object is the Win32 handle itself behind an opaque pointer type.
template <typename T>
static HANDLE h(T* p) { return reinterpret_cast<HANDLE>(p); }
template <typename T>
static T* wrap(HANDLE handle) { return reinterpret_cast<T*>(handle); }

Mutex* mutexCreate() { return wrap<Mutex>(CreateMutexA(nullptr, FALSE, nullptr)); }
void mutexDestroy(Mutex* m) { if (m) CloseHandle(h(m)); }
void mutexLock(Mutex* m) { WaitForSingleObject(h(m), INFINITE); }
bool mutexTryLock(Mutex* m) { return WaitForSingleObject(h(m), 0) == WAIT_OBJECT_0; }
void mutexUnlock(Mutex* m) { ReleaseMutex(h(m)); }

Event* eventCreate(bool manualReset, bool initiallySet) {
  return wrap<Event>(CreateEventA(nullptr, manualReset, initiallySet, nullptr));
}
void eventDestroy(Event* e) { if (e) CloseHandle(h(e)); }
void eventSet(Event* e) { SetEvent(h(e)); }
void eventReset(Event* e) { ResetEvent(h(e)); }
bool eventWait(Event* e, uint32_t ms) { return WaitForSingleObject(h(e), ms) == WAIT_OBJECT_0; }

Semaphore* semaphoreCreate(long initial, long maximum) {
  return wrap<Semaphore>(CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}
void semaphoreDestroy(Semaphore* s) { if (s) CloseHandle(h(s)); }
bool semaphoreWait(Semaphore* s, uint32_t ms) { return WaitForSingleObject(h(s), ms) == WAIT_OBJECT_0; }
void semaphoreRelease(Semaphore* s, long count) { ReleaseSemaphore(h(s), count, nullptr); }

}  // namespace vel::platform
