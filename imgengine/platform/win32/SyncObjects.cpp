// Win32 mutex, event and semaphore.
#include "platform/SyncObjects.h"

#include <windows.h>

namespace vel::platform {

// Each object is the Win32 handle itself behind an opaque pointer type.
template <typename T>
static HANDLE h(T* p) { return reinterpret_cast<HANDLE>(p); }
template <typename T>
static T* wrap(HANDLE handle) { return reinterpret_cast<T*>(handle); }

NativeMutex* mutexCreate() { return wrap<NativeMutex>(CreateMutexA(nullptr, FALSE, nullptr)); }
void mutexDestroy(NativeMutex* m) { if (m) CloseHandle(h(m)); }
void mutexLock(NativeMutex* m) { WaitForSingleObject(h(m), INFINITE); }
bool mutexTryLock(NativeMutex* m) { return WaitForSingleObject(h(m), 0) == WAIT_OBJECT_0; }
void mutexUnlock(NativeMutex* m) { ReleaseMutex(h(m)); }

NativeEvent* eventCreate(bool manualReset, bool initiallySet) {
  return wrap<NativeEvent>(CreateEventA(nullptr, manualReset, initiallySet, nullptr));
}
void eventDestroy(NativeEvent* e) { if (e) CloseHandle(h(e)); }
void eventSet(NativeEvent* e) { SetEvent(h(e)); }
void eventReset(NativeEvent* e) { ResetEvent(h(e)); }
bool eventWait(NativeEvent* e, uint32_t ms) { return WaitForSingleObject(h(e), ms) == WAIT_OBJECT_0; }

NativeSemaphore* semaphoreCreate(long initial, long maximum) {
  return wrap<NativeSemaphore>(CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}
void semaphoreDestroy(NativeSemaphore* s) { if (s) CloseHandle(h(s)); }
bool semaphoreWait(NativeSemaphore* s, uint32_t ms) { return WaitForSingleObject(h(s), ms) == WAIT_OBJECT_0; }
void semaphoreRelease(NativeSemaphore* s, long count) { ReleaseSemaphore(h(s), count, nullptr); }

}  // namespace vel::platform
