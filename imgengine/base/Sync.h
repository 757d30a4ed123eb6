// Owners of the platform's mutex, event and semaphore, and a scope guard.
#pragma once

#include <stdexcept>

#include "platform/SyncObjects.h"
#include "platform/Time.h"

namespace vel {

class Mutex {
 public:
  Mutex() : m_(platform::mutexCreate()) {
    if (!m_) throw std::runtime_error("mutex creation failed");
  }
  ~Mutex() { platform::mutexDestroy(m_); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() { platform::mutexLock(m_); }
  bool tryLock() { return platform::mutexTryLock(m_); }
  void unlock() { platform::mutexUnlock(m_); }

 private:
  platform::NativeMutex* m_;
};

// Unlocks its mutex on every way out of the scope.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& m) : m_(m) { m_.lock(); }
  ~ScopedLock() { m_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Mutex& m_;
};

class Event {
 public:
  explicit Event(bool manualReset, bool initiallySet = false)
      : e_(platform::eventCreate(manualReset, initiallySet)) {
    if (!e_) throw std::runtime_error("event creation failed");
  }
  ~Event() { platform::eventDestroy(e_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set() { platform::eventSet(e_); }
  void reset() { platform::eventReset(e_); }
  void wait() { platform::eventWait(e_, platform::kInfinite); }
  // Answers whether the event was signalled within timeoutMs (negative: no limit).
  bool wait(int timeoutMs) { return platform::eventWait(e_, platform::waitMs(timeoutMs)); }
  platform::NativeEvent* native() { return e_; }

 private:
  platform::NativeEvent* e_;
};

class Semaphore {
 public:
  Semaphore(long initial, long maximum) : s_(platform::semaphoreCreate(initial, maximum)) {
    if (!s_) throw std::runtime_error("semaphore creation failed");
  }
  ~Semaphore() { platform::semaphoreDestroy(s_); }
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  bool wait(uint32_t ms) { return platform::semaphoreWait(s_, ms); }
  void release() { platform::semaphoreRelease(s_, 1); }

 private:
  platform::NativeSemaphore* s_;
};

}  // namespace vel
