#include "transport/OverlappedTransport.h"

#include <algorithm>

namespace vel {

using devices::IoStart;

OverlappedTransport::OverlappedTransport(uint32_t writePiece, ShortWrites shortWrites)
    : writePiece_(writePiece), shortWrites_(shortWrites) {}

void OverlappedTransport::wakeTransfers() {
  readOp_.event().set();
  writeOp_.event().set();
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

bool OverlappedTransport::readRequest(void* buffer, uint32_t length, int timeoutMs, uint32_t* got) {
  readOp_.event().reset();
  const IoStart started = file_->read(buffer, length, readOp_);
  if (started == IoStart::kFailed) platform::sleepMs(kStartFailurePauseMs);
  return settle(started, readOp_, timeoutMs, got);
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
