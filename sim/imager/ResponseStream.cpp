#include "imager/ResponseStream.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sim {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kAckPollMs = 50;
constexpr size_t kNoStall = SIZE_MAX;

size_t slot(Channel channel) { return channel == Channel::Command ? 0 : 1; }
}  // namespace

// ---- TransferControl ----

void TransferControl::setPieceSize(size_t maxBytes) {
  std::lock_guard<std::mutex> g(m_);
  pieceSize_ = maxBytes;
}

void TransferControl::stall(Channel channel, size_t afterBytes, int ms) {
  std::lock_guard<std::mutex> g(m_);
  Stall& s = stalls_[slot(channel)];
  s.armed = true;
  s.at = afterBytes;
  s.ms = ms;
}

void TransferControl::releaseStall() {
  std::lock_guard<std::mutex> g(m_);
  for (Stall& s : stalls_) s.armed = false;
  ++releases_;
  cv_.notify_all();
}

void TransferControl::cutBarcodeRecord(Channel channel, size_t index, std::function<void()> onCut) {
  std::lock_guard<std::mutex> g(m_);
  cuts_[slot(channel)] = Cut{true, index, std::move(onCut)};
}

void TransferControl::setAckTimeout(int ms) {
  std::lock_guard<std::mutex> g(m_);
  ackTimeoutMs_ = ms;
}

void TransferControl::shutDown() {
  std::lock_guard<std::mutex> g(m_);
  shutDown_ = true;
  cv_.notify_all();
}

size_t TransferControl::pieceSize() const {
  std::lock_guard<std::mutex> g(m_);
  return pieceSize_;
}

int TransferControl::ackTimeoutMs() const {
  std::lock_guard<std::mutex> g(m_);
  return ackTimeoutMs_;
}

bool TransferControl::shuttingDown() const {
  std::lock_guard<std::mutex> g(m_);
  return shutDown_;
}

size_t TransferControl::bytesBeforeStall(Channel channel, size_t written) const {
  std::lock_guard<std::mutex> g(m_);
  const Stall& s = stalls_[slot(channel)];
  if (!s.armed || s.at < written) return kNoStall;
  return s.at - written;
}

void TransferControl::holdStall(Channel channel, const std::function<bool()>& abandoned) {
  std::unique_lock<std::mutex> g(m_);
  Stall& s = stalls_[slot(channel)];
  if (!s.armed) return;
  s.armed = false;
  const uint64_t releases = releases_;
  const auto until = s.ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(s.ms);
  s.holding = true;
  cv_.notify_all();
  // Nothing signals the end of the transfer's session: it is looked at every few milliseconds.
  while (!shutDown_ && releases_ == releases && !abandoned()) {
    const auto now = Clock::now();
    if (now >= until) break;
    cv_.wait_until(g, std::min(until, now + std::chrono::milliseconds(kAckPollMs)));
  }
  s.holding = false;
}

bool TransferControl::waitUntilStalled(Channel channel, int timeoutMs) const {
  std::unique_lock<std::mutex> g(m_);
  const Stall& s = stalls_[slot(channel)];
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return s.holding; });
}

bool TransferControl::takeCut(Channel channel, size_t index, std::function<void()>& onCut) {
  std::lock_guard<std::mutex> g(m_);
  Cut& c = cuts_[slot(channel)];
  if (!c.armed || c.index != index) return false;
  c.armed = false;
  onCut = std::move(c.onCut);
  return true;
}

// ---- ResponseStream ----

ResponseStream::ResponseStream(ImagerPort& out, ImagerPort& acks, Channel channel, TransferControl& control)
    : out_(out), in_(acks), channel_(channel), control_(control) {}

bool ResponseStream::over(TransferEnd end) {
  if (!over_) end_ = end;
  over_ = true;
  return false;
}

bool ResponseStream::put(const uint8_t* data, size_t length) {
  const size_t piece = control_.pieceSize();
  while (length > 0) {
    if (over_) return false;
    if (control_.shuttingDown()) return over(TransferEnd::ShutDown);
    if (out_.ended()) return over(TransferEnd::Reset);
    const size_t room = control_.bytesBeforeStall(channel_, bytes_);
    if (room == 0) {
      // What came before the stall point reaches the host; then nothing moves.
      out_.flush();
      control_.holdStall(channel_, [this] { return out_.ended(); });
      continue;
    }
    size_t part = std::min(length, room);
    if (piece > 0) part = std::min(part, piece);
    out_.write(data, part);
    if (piece > 0) out_.flush();
    data += part;
    length -= part;
    bytes_ += part;
  }
  return !over_;
}

bool ResponseStream::put16(uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  return put(b, sizeof b);
}

bool ResponseStream::put32(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return put(b, sizeof b);
}

bool ResponseStream::acknowledged() {
  if (over_) return false;
  out_.flush();
  const auto deadline = Clock::now() + std::chrono::milliseconds(control_.ackTimeoutMs());
  uint8_t ack = 0;
  for (;;) {
    if (control_.shuttingDown()) return over(TransferEnd::ShutDown);
    if (in_.ended()) return over(TransferEnd::Reset);
    if (in_.read(&ack, 1, kAckPollMs) == 1) break;
    if (Clock::now() >= deadline) return over(TransferEnd::NoAcknowledgement);
    // A link that has shut down answers at once; do not spin on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  acks_.push_back(ack);
  if (ack == 0) return over(TransferEnd::StoppedByHost);
  return true;
}

bool ResponseStream::cutAt(size_t barcodeIndex) {
  std::function<void()> onCut;
  if (over_ || !control_.takeCut(channel_, barcodeIndex, onCut)) return false;
  out_.flush();
  over(TransferEnd::Cut);
  if (onCut) onCut();
  return true;
}

void ResponseStream::finish() { out_.flush(); }

}  // namespace sim
