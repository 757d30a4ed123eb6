// The running transfer of each operation and the watchdog of a cancel. A
// transfer counts as running from the moment its response is handed to the
// operation, before the worker has begun to read it, so that a cancel or a
// disconnect made right after the request reaches it. A cancel asks the
// transfer to stop at its next acknowledgement and starts a 1,250 ms timer on
// the cancelling thread (which must take its messages); a poll of the transfer
// disarms it. When it fires still armed, no block was acknowledged in that time
// (also when the worker has not read a byte yet) and the transfer it was armed
// for is aborted: its stream fails and a blocked read returns. The watchdog
// never touches another operation's transfer, an idle operation or a transfer
// that has ended. Timers are never stopped from another thread: a disarmed timer
// fires later and does nothing.
//
// The watchdog lives as long as the library; operations open their slot when
// they are made and close it when they go. Closing aborts the running transfer
// and every one that begins afterwards, so that tearing a connection down never
// waits for a stalled imager.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/ByteStream.h"
#include "base/Sync.h"

namespace vel {

enum class OperationKind : int { Host = 0, Trigger = 1 };

class CancelWatchdog {
 public:
  static constexpr uint32_t kTimeoutMs = 1250;

  void open(OperationKind kind);
  void close(OperationKind kind);

  // A transfer on stream is handed over (a watchdog armed earlier is disarmed).
  // Answers false, with the stream aborted, when the slot is closed.
  bool begin(OperationKind kind, ByteStream& stream);
  void end(OperationKind kind);
  bool closed(OperationKind kind);
  // The transfer asked whether to stop: the watchdog armed for it is disarmed.
  void polled(OperationKind kind);
  // While a transfer runs: sets stopFlag and, unless armed already, arms the
  // watchdog on the calling thread. Without a running transfer nothing happens.
  void cancel(OperationKind kind, std::atomic<bool>& stopFlag);
  // While a transfer runs: sets stopFlag without arming the watchdog. Answers
  // whether a transfer runs.
  bool askToStop(OperationKind kind, std::atomic<bool>& stopFlag);
  bool running(OperationKind kind);

 private:
  struct Slot {
    ByteStream* stream = nullptr;  // the running transfer's
    bool closed = false;
    uintptr_t timer = 0;  // the armed timer; 0 = disarmed
  };
  static void fired(void* self, uintptr_t timer);
  Slot& slot(OperationKind kind) { return slots_[static_cast<int>(kind)]; }

  Mutex lock_;
  Slot slots_[2];
};

}  // namespace vel
