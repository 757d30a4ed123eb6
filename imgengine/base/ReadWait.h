// A stream whose reader can wait for its next bytes without taking them: the
// wait ends on bytes, on a timeout or when the reader's interrupt flag is set,
// and neither a timeout nor an interrupt fails the stream.
#pragma once

#include <atomic>

namespace vel {

class ReadWait {
 public:
  virtual ~ReadWait() = default;
  // True once a read would start on bytes already received. False on timeout
  // (negative: no limit), when interrupt is set (before or during the wait) or
  // when the stream failed; the stream's failed() tells the last apart.
  virtual bool waitReadable(int timeoutMs, const std::atomic<bool>& interrupt) = 0;
  // Wakes a waitReadable whose interrupt flag the caller has just set.
  virtual void interruptWait() = 0;
};

}  // namespace vel
