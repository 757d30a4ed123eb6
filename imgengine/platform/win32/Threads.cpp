// Win32 threads, thread ids, thread-local storage and the process's end.
#include "platform/Threads.h"

#include <windows.h>
#include <process.h>

namespace vel::platform {

uint32_t currentThreadId() { return GetCurrentThreadId(); }

// Where a thread is once its entry has returned.
enum ThreadState : LONG { kRunning = 0, kFinished = 1, kParked = 2 };

struct NativeThread {
  HANDLE handle;
  ThreadEntry entry;
  void* argument;
  volatile LONG state;
};

// Set when the library is unloaded while the process goes on (FreeLibrary). The
// unloading thread holds the loader lock, and a thread's exit waits for that lock:
// joining a thread by its exit would never return.
static volatile LONG g_unloading = 0;

// The library's own entry point: the unload is noted before the C++ runtime runs
// the static destructors, which tear the connection down and join its threads.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) InterlockedExchange(&g_unloading, 1);
  return TRUE;
}

static unsigned __stdcall threadMain(void* p) {
  auto* t = static_cast<NativeThread*>(p);
  t->entry(t->argument);
  if (InterlockedCompareExchange(&g_unloading, 0, 0)) {
    // The unloading thread ends this one here, where it holds nothing and runs no
    // more of the library's code.
    InterlockedExchange(&t->state, kParked);
    for (;;) Sleep(INFINITE);
  }
  InterlockedExchange(&t->state, kFinished);
  return 0;
}

NativeThread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes) {
  auto* t = new NativeThread{nullptr, entry, argument, kRunning};
  const uintptr_t handle =
      _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), threadMain, t, CREATE_SUSPENDED, nullptr);
  if (handle == 0) {
    delete t;
    return nullptr;
  }
  t->handle = reinterpret_cast<HANDLE>(handle);
  return t;
}

bool threadSetPriority(NativeThread* t, int priority) { return SetThreadPriority(t->handle, priority) != 0; }
void threadResume(NativeThread* t) { ResumeThread(t->handle); }
void threadJoin(NativeThread* t) {
  if (!InterlockedCompareExchange(&g_unloading, 0, 0)) {
    WaitForSingleObject(t->handle, INFINITE);
    return;
  }
  // Under the loader lock: wait for the entry to return, then end the thread. One
  // that finished before the unload began is given a moment to leave the runtime's
  // thread end (it then waits for the loader lock, holding nothing).
  while (InterlockedCompareExchange(&t->state, kRunning, kRunning) == kRunning) Sleep(1);
  constexpr DWORD kLeaveRuntimeMs = 100;
  if (t->state == kFinished && WaitForSingleObject(t->handle, kLeaveRuntimeMs) == WAIT_OBJECT_0) return;
  TerminateThread(t->handle, 0);
  WaitForSingleObject(t->handle, INFINITE);
}
void threadDestroy(NativeThread* t) {
  if (!t) return;
  CloseHandle(t->handle);
  delete t;
}

bool processEnding() {
  using ShutdownInProgress = BOOLEAN(WINAPI*)();
  static const auto query = reinterpret_cast<ShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
  return query && query();
}

// The slot pointer holds the TLS index plus one, so that index 0 is not a null pointer.
static DWORD tlsIndex(TlsSlot* slot) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(slot) - 1); }
TlsSlot* tlsAllocate() { return reinterpret_cast<TlsSlot*>(static_cast<uintptr_t>(TlsAlloc()) + 1); }
void tlsFree(TlsSlot* slot) { if (slot) TlsFree(tlsIndex(slot)); }
void tlsSet(TlsSlot* slot, void* value) { TlsSetValue(tlsIndex(slot), value); }
void* tlsGet(TlsSlot* slot) { return TlsGetValue(tlsIndex(slot)); }

}  // namespace vel::platform
