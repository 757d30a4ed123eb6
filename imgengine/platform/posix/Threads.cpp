// POSIX threads, thread ids and thread-local storage.
#include "platform/Threads.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

#include "platform/SyncObjects.h"

namespace vel::platform {

namespace {
// The kernel's id of this thread, asked once: every message post and every progress
// poll needs it, and the system call is most of their cost.
thread_local uint32_t t_threadId = 0;
// A forked child's one thread is a new thread: it asks again.
[[maybe_unused]] const int g_forgetThreadIdInChild = pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; });
}  // namespace

uint32_t currentThreadId() {
  if (t_threadId == 0) t_threadId = static_cast<uint32_t>(syscall(SYS_gettid));
  return t_threadId;
}

// A created thread waits on its start gate until it is resumed.
struct NativeThread {
  pthread_t handle;
  ThreadEntry entry;
  void* argument;
  NativeEvent* startGate;
};

namespace {
void* threadMain(void* p) {
  auto* t = static_cast<NativeThread*>(p);
  eventWait(t->startGate, kInfinite);
  t->entry(t->argument);
  return nullptr;
}
}  // namespace

NativeThread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes) {
  auto* t = new NativeThread{{}, entry, argument, eventCreate(true, false)};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // The library's small stack sizes are Windows commit sizes; POSIX needs more room.
  constexpr size_t kMinimumStackBytes = 256 * 1024;
  pthread_attr_setstacksize(&attr, std::max(stackBytes, kMinimumStackBytes));
  const int rc = pthread_create(&t->handle, &attr, threadMain, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    eventDestroy(t->startGate);
    delete t;
    return nullptr;
  }
  return t;
}

// Threads run at the default priority on Linux: raising it needs privileges the
// library does not ask for, and the call's result is not checked by callers.
bool threadSetPriority(NativeThread*, int) { return false; }

void threadResume(NativeThread* t) { eventSet(t->startGate); }
void threadJoin(NativeThread* t) { pthread_join(t->handle, nullptr); }
void threadDestroy(NativeThread* t) {
  if (!t) return;
  eventDestroy(t->startGate);
  delete t;
}

bool processEnding() { return false; }

struct TlsSlot {
  pthread_key_t key;
};
TlsSlot* tlsAllocate() {
  auto* s = new TlsSlot;
  pthread_key_create(&s->key, nullptr);
  return s;
}
void tlsFree(TlsSlot* slot) {
  if (!slot) return;
  pthread_key_delete(slot->key);
  delete slot;
}
void tlsSet(TlsSlot* slot, void* value) { pthread_setspecific(slot->key, value); }
void* tlsGet(TlsSlot* slot) { return pthread_getspecific(slot->key); }

}  // namespace vel::platform
