#include "operations/CancelWatchdog.h"

#include "platform/Messages.h"

namespace vel {

void CancelWatchdog::open(OperationKind kind) {
  ScopedLock hold(lock_);
  slot(kind) = Slot{};
}

void CancelWatchdog::close(OperationKind kind) {
  ScopedLock hold(lock_);
  Slot& s = slot(kind);
  s.closed = true;
  s.timer = 0;
  if (s.stream) s.stream->abort();
}

bool CancelWatchdog::begin(OperationKind kind, ByteStream& stream) {
  ScopedLock hold(lock_);
  Slot& s = slot(kind);
  s.timer = 0;
  if (s.closed) {
    stream.abort();
    return false;
  }
  s.stream = &stream;
  return true;
}

void CancelWatchdog::end(OperationKind kind) {
  ScopedLock hold(lock_);
  Slot& s = slot(kind);
  s.stream = nullptr;
  s.timer = 0;
}

bool CancelWatchdog::closed(OperationKind kind) {
  ScopedLock hold(lock_);
  return slot(kind).closed;
}

void CancelWatchdog::polled(OperationKind kind) {
  ScopedLock hold(lock_);
  slot(kind).timer = 0;
}

void CancelWatchdog::cancel(OperationKind kind, std::atomic<bool>& stopFlag) {
  ScopedLock hold(lock_);
  Slot& s = slot(kind);
  if (!s.stream) return;
  stopFlag = true;
  if (s.timer == 0) s.timer = platform::timerStart(kTimeoutMs, &CancelWatchdog::fired, this);
}

bool CancelWatchdog::askToStop(OperationKind kind, std::atomic<bool>& stopFlag) {
  ScopedLock hold(lock_);
  if (!slot(kind).stream) return false;
  stopFlag = true;
  return true;
}

bool CancelWatchdog::running(OperationKind kind) {
  ScopedLock hold(lock_);
  return slot(kind).stream != nullptr;
}

void CancelWatchdog::fired(void* self, uintptr_t timer) {
  auto* watchdog = static_cast<CancelWatchdog*>(self);
  ScopedLock hold(watchdog->lock_);
  for (Slot& s : watchdog->slots_) {
    if (s.timer != timer) continue;
    s.timer = 0;
    if (s.stream) s.stream->abort();
  }
}

}  // namespace vel
