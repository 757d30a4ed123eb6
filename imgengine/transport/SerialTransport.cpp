#include "transport/SerialTransport.h"

#include <algorithm>

#include "transport/PortMap.h"

namespace vel {

using devices::IoStart;

namespace {
constexpr uint32_t kLineFailures = devices::kLineCts | devices::kLineDsr | devices::kLineBreak | devices::kLineError;
}

// The watcher's stop also wakes its pending line-event wait and fails the transport.
class SerialTransport::LineWatcher : public WorkerThread {
 public:
  explicit LineWatcher(SerialTransport& owner)
      : WorkerThread(kWatcherStack, kWatcherPriority, [&owner](WorkerThread& self) { owner.watch(self); }),
        owner_(owner) {}
  void stop() override {
    WorkerThread::stop();
    owner_.watchOp_.event().set();
    owner_.abort();
  }

 private:
  SerialTransport& owner_;
};

SerialTransport::SerialTransport(int portNumber) : OverlappedTransport(kPiece, ShortWrites::kFail) {
  watcher_ = std::make_unique<LineWatcher>(*this);
  line_ = openPortLine(portNumber);
  if (!line_) return;
  attach(line_.get());
  devices::SerialSettings settings;
  settings.extraEventMask = kLineFailures;
  line_->configure(settings);
  line_->purge();
  watcher_->resume();
  // The fault flag stays set: the link's first read fails and its resynchronisation resets the line.
}

SerialTransport::~SerialTransport() {
  abort();
  if (line_) {
    watcher_->stop();
    watcher_->join();
    attach(nullptr);
    line_.reset();
  }
  watcher_.reset();  // a watcher that never ran is released here
}

size_t SerialTransport::receive(uint8_t* buffer, size_t wanted, int timeoutMs) {
  while (wanted > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(wanted, kPiece));
    uint32_t got = 0;
    if (!readRequest(buffer, piece, timeoutMs, &got) || got != piece) break;
    buffer += piece;
    wanted -= piece;
  }
  return wanted;
}

void SerialTransport::reset() {
  if (!beginReset()) return;
  const int attempts = lineState_.load() == kLineModemChange ? kFirstResetAttempts : kResetAttempts;
  // Only an answer to this reset's own breaks counts: a break the line reported
  // earlier (the imager restarting, noise) must not pass for the handshake.
  if (!line_->reconnect()) {
    platform::sleepMs(kUnopenedResetPauseMs);
    return;
  }
  breakSeen_.reset();
  // Over a network the answer comes a round trip later.
  const int breakWaitMs = kBreakWaitMs + static_cast<int>(line_->roundTripMs());
  for (int attempt = 1;; ++attempt) {
    line_->setBreak(true);
    platform::sleepMs(kBreakSettleMs);
    if (breakSeen_.wait(breakWaitMs)) break;
    if (attempt == attempts) return;  // still failed, the break condition stays set
    line_->setBreak(false);
    platform::sleepMs(kBreakSettleMs);
  }
  line_->purge();
  breakSeen_.reset();
  line_->setBreak(false);
  platform::sleepMs(kBreakSettleMs);
  lineState_ = kLineRecovered;
  recovered();
}

bool SerialTransport::setBaudRate(uint32_t baud) { return line_ && line_->setBaudRate(baud); }

void SerialTransport::watch(WorkerThread& self) {
  while (!self.stopRequested()) {
    watchOp_.event().reset();
    eventBits_ = 0;
    const IoStart s = line_->waitEvent(&eventBits_, watchOp_);
    if (s == IoStart::kFailed) {
      platform::sleepMs(kStartFailurePauseMs);
      line_->cancel(watchOp_);
      wakeTransfers();
      continue;
    }
    // A stop that came before the wait started has set the event too late to be seen otherwise.
    if (!self.stopRequested()) watchOp_.event().wait();
    if (self.stopRequested()) {
      line_->cancel(watchOp_);
      wakeTransfers();
      return;
    }
    uint32_t n = 0;
    if (!line_->result(watchOp_, &n)) {
      line_->cancel(watchOp_);
      wakeTransfers();
      continue;
    }
    const uint32_t bits = eventBits_;
    if (bits & (devices::kLineBreak | devices::kLineError)) lineState_ = kLineBreakOrError;
    if (bits & (devices::kLineCts | devices::kLineDsr)) lineState_ = kLineModemChange;
    // Break seen goes before the failure: a reset started because of this very
    // event then clears it and waits for a fresh answer.
    if (bits & devices::kLineBreak) breakSeen_.set();
    if (bits & kLineFailures) {
      abort();
      wakeTransfers();  // also when the transport had failed already
    }
  }
}

}  // namespace vel
