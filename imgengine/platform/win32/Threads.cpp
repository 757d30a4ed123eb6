// Win32 threads, thread ids, thread-local storage and the process's end.
#include "platform/Threads.h"

#include <windows.h>
#include <process.h>

namespace vel::platform {

uint32_t currentThreadId() { return GetCurrentThreadId(); }

struct NativeThread {
  HANDLE handle;
  ThreadEntry entry;
  void* argument;
};

static unsigned __stdcall threadMain(void* p) {
  auto* t = static_cast<NativeThread*>(p);
  t->entry(t->argument);
  return 0;
}

NativeThread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes) {
  auto* t = new NativeThread{nullptr, entry, argument};
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
void threadJoin(NativeThread* t) { WaitForSingleObject(t->handle, INFINITE); }
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
