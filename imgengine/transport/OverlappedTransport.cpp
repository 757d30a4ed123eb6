#include "transport/OverlappedTransport.h"

#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace vel {

using devices::IoStart;

OverlappedTransport::OverlappedTransport(uint32_t writePiece, ShortWrites shortWrites)
    : writePiece_(writePiece), shortWrites_(shortWrites) {}

void OverlappedTransport::wakeTransfers() {
  readOp_.event().set();
  writeOp_.event().set();
  waitOp_.event().set();
}

void OverlappedTransport::abort() {
  uint8_t expected = 0;
  if (!fault_.compare_exchange_strong(expected, 1)) return;
  wakeTransfers();
}

bool OverlappedTransport::beginReset() {
  abort();
  if (file_) return true;
  platform::sleepMs(kUnopenedResetPauseMs);
  return false;
}

bool OverlappedTransport::settle(IoStart started, devices::Operation& op, int timeoutMs, uint32_t* transferred) {
  if (started == IoStart::kFailed) return false;
  // Starting the request reset op's event: an abort that came after the caller's
  // look at the fault flag has lost its wake-up and is seen only here. The caller
  // cancels the request.
  if (failed()) return false;
  if (!op.event().wait(timeoutMs)) abort();
  if (failed()) return false;
  return file_->result(op, transferred);
}

bool OverlappedTransport::spinForRead(devices::Operation& op, const std::atomic<bool>* interrupt) {
  if (readSpinUs_ == 0) return false;
  // A moment of pure spinning catches a completer on another core; then the
  // core is offered to others, the completer among them when it shares this
  // one, at doubling intervals: a completer that runs elsewhere is not kept
  // waiting behind a stream of calls into the system.
  const auto begin = std::chrono::steady_clock::now();
  auto yieldAt = begin + std::chrono::microseconds(kPureSpinUs);
  const auto until = begin + std::chrono::microseconds(readSpinUs_);
  uint32_t n = 0;
  for (int i = 1;; ++i) {
    // Asked every few pauses: the device's record may be under the completer's lock.
    if ((i & 3) != 0) {
      _mm_pause();
      continue;
    }
    if (file_->result(op, &n)) return true;
    if (failed() || (interrupt && interrupt->load())) return false;
    if ((i & 31) != 0) continue;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return false;
    if (now >= yieldAt) {
      std::this_thread::yield();
      yieldAt = now + (now - begin);
    }
  }
}

bool OverlappedTransport::readRequest(void* buffer, uint32_t length, int timeoutMs, uint32_t* got) {
  readOp_.event().reset();
  const IoStart started = file_->read(buffer, length, readOp_);
  if (started == IoStart::kFailed) platform::sleepMs(kStartFailurePauseMs);
  if (started == IoStart::kPending && !failed() && spinForRead(readOp_, nullptr))
    return !failed() && file_->result(readOp_, got);
  return settle(started, readOp_, timeoutMs, got);
}

bool OverlappedTransport::waitRequest(void* buffer, uint32_t length, int timeoutMs, const std::atomic<bool>& interrupt,
                                      uint32_t* got) {
  *got = 0;
  if (failed() || !file_) return false;
  waitOp_.event().reset();
  const IoStart started = file_->read(buffer, length, waitOp_);
  if (started == IoStart::kFailed) {
    // As a read that could not start: the transport fails.
    platform::sleepMs(kStartFailurePauseMs);
    abort();
    return false;
  }
  // Starting the request reset the event: an interrupt that came before is
  // seen in its flag here, one that comes later sets the event; an abort of
  // the transport sets the flag failed() looks at and wakes all transfers.
  if (started == IoStart::kPending && !failed() && !interrupt.load() && !spinForRead(waitOp_, &interrupt)) {
    waitOp_.event().wait(timeoutMs);
  }
  if (!file_->result(waitOp_, got)) {
    file_->cancel(waitOp_);
    if (!file_->result(waitOp_, got)) *got = 0;
  } else {
    file_->cancel(waitOp_);
  }
  return *got > 0 && !failed();
}

void OverlappedTransport::read(void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(readLock_);
  if (failed() || !file_) return;
  const size_t missing = receive(static_cast<uint8_t*>(buffer), length, timeoutMs);
  file_->cancel(readOp_);
  if (missing > 0) abort();
}

void OverlappedTransport::write(const void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(writeLock_);
  if (failed() || !file_) return;
  auto* p = static_cast<const uint8_t*>(buffer);
  size_t left = length;
  while (left > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(left, writePiece_));
    writeOp_.event().reset();
    uint32_t put = 0;
    if (!settle(file_->write(p, piece, writeOp_), writeOp_, timeoutMs, &put)) break;
    put = std::min(put, piece);
    p += put;
    left -= put;
    // A device that accepts nothing would never finish.
    if (put == 0 || (put < piece && shortWrites_ == ShortWrites::kFail)) break;
  }
  file_->cancel(writeOp_);
  if (left > 0) abort();
}

}  // namespace vel
