// Win32 threads, synchronisation objects, time and thread-local storage.
#include "platform/Platform.h"

#include <windows.h>
#include <process.h>

namespace vel::platform {

uint32_t tickCount() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }
uint32_t currentThreadId() { return GetCurrentThreadId(); }

// Each platform object is the Win32 handle itself behind an opaque pointer type.
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

struct Thread {
  HANDLE handle;
  ThreadEntry entry;
  void* argument;
};

static unsigned __stdcall threadMain(void* p) {
  auto* t = static_cast<Thread*>(p);
  t->entry(t->argument);
  return 0;
}

Thread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes) {
  auto* t = new Thread{nullptr, entry, argument};
  const uintptr_t handle =
      _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), threadMain, t, CREATE_SUSPENDED, nullptr);
  if (handle == 0) {
    delete t;
    return nullptr;
  }
  t->handle = reinterpret_cast<HANDLE>(handle);
  return t;
}

bool threadSetPriority(Thread* t, int priority) { return SetThreadPriority(t->handle, priority) != 0; }
void threadResume(Thread* t) { ResumeThread(t->handle); }
void threadJoin(Thread* t) { WaitForSingleObject(t->handle, INFINITE); }
void threadDestroy(Thread* t) {
  if (!t) return;
  CloseHandle(t->handle);
  delete t;
}

// The slot pointer holds the TLS index plus one, so that index 0 is not a null pointer.
static DWORD tlsIndex(TlsSlot* slot) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(slot) - 1); }
TlsSlot* tlsAllocate() { return reinterpret_cast<TlsSlot*>(static_cast<uintptr_t>(TlsAlloc()) + 1); }
void tlsFree(TlsSlot* slot) { if (slot) TlsFree(tlsIndex(slot)); }
void tlsSet(TlsSlot* slot, void* value) { TlsSetValue(tlsIndex(slot), value); }
void* tlsGet(TlsSlot* slot) { return TlsGetValue(tlsIndex(slot)); }

}  // namespace vel::platform
