// Mutex, event and semaphore over POSIX mutexes and monotonic condition variables.
#include "platform/SyncObjects.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace vel::platform {

namespace {

// Absolute CLOCK_MONOTONIC deadline ms from now.
timespec deadlineAfter(uint32_t ms) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

void initMonotonicCond(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
}

// Waits on cond until ready() or the time is up; the caller holds lock.
template <typename Ready>
bool waitUntil(pthread_cond_t* cond, pthread_mutex_t* lock, uint32_t ms, Ready ready) {
  if (ms == kInfinite) {
    while (!ready()) pthread_cond_wait(cond, lock);
    return true;
  }
  // A zero wait only looks: a timed wait on a deadline already past still goes
  // to the kernel and off the processor.
  if (ms == 0) return ready();
  const timespec deadline = deadlineAfter(ms);
  while (!ready()) {
    if (pthread_cond_timedwait(cond, lock, &deadline) == ETIMEDOUT) return ready();
  }
  return true;
}

}  // namespace

struct NativeMutex {
  pthread_mutex_t m;
};

NativeMutex* mutexCreate() {
  auto* m = new NativeMutex;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&m->m, &attr);
  pthread_mutexattr_destroy(&attr);
  return m;
}
void mutexDestroy(NativeMutex* m) {
  if (!m) return;
  pthread_mutex_destroy(&m->m);
  delete m;
}
void mutexLock(NativeMutex* m) { pthread_mutex_lock(&m->m); }
bool mutexTryLock(NativeMutex* m) { return pthread_mutex_trylock(&m->m) == 0; }
void mutexUnlock(NativeMutex* m) { pthread_mutex_unlock(&m->m); }

struct NativeEvent {
  pthread_mutex_t lock;
  pthread_cond_t cond;
  bool manualReset;
  bool set;
};

NativeEvent* eventCreate(bool manualReset, bool initiallySet) {
  auto* e = new NativeEvent;
  pthread_mutex_init(&e->lock, nullptr);
  initMonotonicCond(&e->cond);
  e->manualReset = manualReset;
  e->set = initiallySet;
  return e;
}
void eventDestroy(NativeEvent* e) {
  if (!e) return;
  pthread_cond_destroy(&e->cond);
  pthread_mutex_destroy(&e->lock);
  delete e;
}
void eventSet(NativeEvent* e) {
  pthread_mutex_lock(&e->lock);
  e->set = true;
  if (e->manualReset)
    pthread_cond_broadcast(&e->cond);
  else
    pthread_cond_signal(&e->cond);
  pthread_mutex_unlock(&e->lock);
}
void eventReset(NativeEvent* e) {
  pthread_mutex_lock(&e->lock);
  e->set = false;
  pthread_mutex_unlock(&e->lock);
}
bool eventWait(NativeEvent* e, uint32_t ms) {
  pthread_mutex_lock(&e->lock);
  const bool signalled = waitUntil(&e->cond, &e->lock, ms, [e] { return e->set; });
  if (signalled && !e->manualReset) e->set = false;
  pthread_mutex_unlock(&e->lock);
  return signalled;
}

struct NativeSemaphore {
  pthread_mutex_t lock;
  pthread_cond_t cond;
  long count;
  long maximum;
};

NativeSemaphore* semaphoreCreate(long initial, long maximum) {
  auto* s = new NativeSemaphore;
  pthread_mutex_init(&s->lock, nullptr);
  initMonotonicCond(&s->cond);
  s->count = initial;
  s->maximum = maximum;
  return s;
}
void semaphoreDestroy(NativeSemaphore* s) {
  if (!s) return;
  pthread_cond_destroy(&s->cond);
  pthread_mutex_destroy(&s->lock);
  delete s;
}
bool semaphoreWait(NativeSemaphore* s, uint32_t ms) {
  pthread_mutex_lock(&s->lock);
  const bool taken = waitUntil(&s->cond, &s->lock, ms, [s] { return s->count > 0; });
  if (taken) --s->count;
  pthread_mutex_unlock(&s->lock);
  return taken;
}
void semaphoreRelease(NativeSemaphore* s, long count) {
  pthread_mutex_lock(&s->lock);
  s->count = std::min(s->maximum, s->count + count);
  pthread_cond_broadcast(&s->cond);
  pthread_mutex_unlock(&s->lock);
}

}  // namespace vel::platform
