#include "transport/SerialTransport.h"

#include <algorithm>

namespace vel {

using devices::IoStart;

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

std::string SerialTransport::portName(int portNumber) {
  if (portNumber < 1 || portNumber > 99) return {};
  // The device namespace form: "COM10" and above are not device names inside a
  // plain path, and "\\.\COMn" names the same device as "COMn" for 1..9.
  return "\\\\.\\COM" + std::to_string(portNumber);
}

SerialTransport::SerialTransport(int portNumber) {
  watcher_ = std::make_unique<LineWatcher>(*this);
  const std::string name = portName(portNumber);
  if (name.empty()) return;
  line_ = devices::provider().openSerial(name.c_str());
  if (!line_) return;
  opened_ = 1;
  devices::SerialSettings settings;
  settings.extraEventMask = devices::kLineCts | devices::kLineDsr | devices::kLineBreak | devices::kLineError;
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
    line_.reset();
  }
  watcher_.reset();  // a watcher that never ran is released here
}

void SerialTransport::wakeTransfers() {
  readOp_.event().set();
  writeOp_.event().set();
}

void SerialTransport::abort() {
  uint8_t expected = 0;
  if (!fault_.compare_exchange_strong(expected, 1)) return;
  wakeTransfers();
}

void SerialTransport::read(void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(readLock_);
  if (failed() || !line_) return;
  auto* p = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  while (wanted > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(wanted, kPiece));
    readOp_.event().reset();
    const IoStart s = line_->read(p, piece, readOp_);
    if (s == IoStart::kFailed) {
      platform::sleepMs(1);
      break;
    }
    if (!readOp_.event().wait(timeoutMs)) abort();
    if (failed()) break;
    uint32_t got = 0;
    if (!line_->result(readOp_, &got) || got != piece) break;
    p += piece;
    wanted -= piece;
  }
  line_->cancel(readOp_);
  if (wanted > 0) abort();
}

void SerialTransport::write(const void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(writeLock_);
  if (failed() || !line_) return;
  auto* p = static_cast<const uint8_t*>(buffer);
  size_t left = length;
  while (left > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(left, kPiece));
    writeOp_.event().reset();
    if (line_->write(p, piece, writeOp_) == IoStart::kFailed) break;
    if (!writeOp_.event().wait(timeoutMs)) abort();
    if (failed()) break;
    uint32_t put = 0;
    if (!line_->result(writeOp_, &put) || put != piece) break;
    p += piece;
    left -= piece;
  }
  line_->cancel(writeOp_);
  if (left > 0) abort();
}

void SerialTransport::reset() {
  abort();
  if (!line_) {
    platform::sleepMs(50);
    return;
  }
  const int attempts = lineState_.load() == kLineModemChange ? kFirstResetAttempts : kResetAttempts;
  // Only an answer to this reset's own breaks counts: a break the line reported
  // earlier (the imager restarting, noise) must not pass for the handshake.
  breakSeen_.reset();
  for (int attempt = 1;; ++attempt) {
    line_->setBreak(true);
    platform::sleepMs(2);
    if (breakSeen_.wait(kBreakWaitMs)) break;
    if (attempt == attempts) return;  // still failed, the break condition stays set
    line_->setBreak(false);
    platform::sleepMs(2);
  }
  line_->purge();
  breakSeen_.reset();
  line_->setBreak(false);
  platform::sleepMs(2);
  lineState_ = kLineRecovered;
  fault_ = 0;
}

bool SerialTransport::setBaudRate(uint32_t baud) { return line_ && line_->setBaudRate(baud); }

void SerialTransport::watch(WorkerThread& self) {
  while (!self.stopRequested()) {
    watchOp_.event().reset();
    eventBits_ = 0;
    const IoStart s = line_->waitEvent(&eventBits_, watchOp_);
    if (s == IoStart::kFailed) {
      platform::sleepMs(1);
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
    if (bits & (devices::kLineCts | devices::kLineDsr | devices::kLineBreak | devices::kLineError)) {
      fault_ = 1;
      wakeTransfers();
    }
  }
}

}  // namespace vel
