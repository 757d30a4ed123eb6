#include "devices/MemoryLine.h"

#include <thread>

namespace sim {

namespace {
constexpr auto kPoll = std::chrono::milliseconds(10);
}

MemoryLine::MemoryLine() = default;

MemoryLine::~MemoryLine() { close(); }

void MemoryLine::setBaud(uint32_t baud) {
  std::lock_guard<std::mutex> lock(m_);
  baud_ = baud;
}

void MemoryLine::corruptByte(Direction d, uint64_t after) {
  std::lock_guard<std::mutex> lock(m_);
  faults_[d].corruptAt = position_[d] + after;
}

void MemoryLine::dropByte(Direction d, uint64_t after) {
  std::lock_guard<std::mutex> lock(m_);
  faults_[d].dropAt = position_[d] + after;
}

void MemoryLine::setRandomFaults(Direction d, uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed) {
  std::lock_guard<std::mutex> lock(m_);
  faults_[d].corruptPpm = corruptPpm;
  faults_[d].dropPpm = dropPpm;
  faults_[d].rng = seed ? seed : 1;
}

void MemoryLine::stall(int ms) {
  std::lock_guard<std::mutex> lock(m_);
  stallUntil_ = Clock::now() + std::chrono::milliseconds(ms);
}

void MemoryLine::failLine() {
  std::lock_guard<std::mutex> lock(m_);
  hostFailed_ = true;
  cv_[ToHost].notify_all();
}

void MemoryLine::refuseRecovery(bool refuse) {
  std::lock_guard<std::mutex> lock(m_);
  refuseRecovery_ = refuse;
}

void MemoryLine::close() {
  std::lock_guard<std::mutex> lock(m_);
  closed_ = true;
  hostFailed_ = true;
  wakeBoth();
}

void MemoryLine::setTap(std::function<void(Direction, const uint8_t*, size_t)> tap) {
  std::lock_guard<std::mutex> lock(m_);
  tap_ = std::move(tap);
}

uint64_t MemoryLine::recoveries() const {
  std::lock_guard<std::mutex> lock(m_);
  return recoveries_;
}

uint64_t MemoryLine::bytesMoved(Direction d) const {
  std::lock_guard<std::mutex> lock(m_);
  return moved_[d];
}

uint32_t MemoryLine::nextRandom(Faults& f) {
  // xorshift32: reproducible for a given seed
  f.rng ^= f.rng << 13;
  f.rng ^= f.rng >> 17;
  f.rng ^= f.rng << 5;
  return f.rng;
}

void MemoryLine::transmit(std::unique_lock<std::mutex>& lock, Direction d, const uint8_t* data, size_t length) {
  if (baud_ > 0) {
    // Paced: the bytes arrive a piece at a time as their time on the line ends,
    // as on a serial line; one write at a time goes out in each direction.
    writerCv_.wait(lock, [&] { return !writing_[d]; });
    writing_[d] = true;
    if (tap_) tap_(d, data, length);
    const auto start = Clock::now();
    uint64_t sent = 0;
    while (length > 0) {
      const size_t piece = length < kPacedPiece ? length : kPacedPiece;
      sent += piece;
      const auto due = start + std::chrono::microseconds(sent * 10000000ull / baud_);
      lock.unlock();
      std::this_thread::sleep_until(due);
      lock.lock();
      append(d, data, piece);
      data += piece;
      length -= piece;
      lock.unlock();
      cv_[d].notify_all();
      lock.lock();
    }
    writing_[d] = false;
    lock.unlock();
    writerCv_.notify_all();
    return;
  }
  if (tap_) tap_(d, data, length);
  append(d, data, length);
  // The reader is woken once the lock is free, so that it does not wake only to wait for it.
  lock.unlock();
  cv_[d].notify_all();
}

void MemoryLine::append(Direction d, const uint8_t* data, size_t length) {
  Faults& f = faults_[d];
  const uint64_t start = position_[d];
  moved_[d] += length;
  const bool clean = f.corruptPpm == 0 && f.dropPpm == 0 && (f.dropAt < start || f.dropAt - start >= length) &&
                     (f.corruptAt < start || f.corruptAt - start >= length);
  if (clean) {
    // No fault falls on these bytes: they go as one block.
    queue_[d].insert(queue_[d].end(), data, data + length);
    position_[d] += length;
    length = 0;
  }
  for (size_t i = 0; i < length; ++i) {
    uint64_t pos = position_[d]++;
    uint8_t b = data[i];
    bool drop = pos == f.dropAt || (f.dropPpm && nextRandom(f) % 1000000 < f.dropPpm);
    if (drop) continue;
    if (pos == f.corruptAt || (f.corruptPpm && nextRandom(f) % 1000000 < f.corruptPpm)) b ^= 0x5A;
    queue_[d].push_back(b);
  }
}

// ---- host end ----

bool MemoryLine::HostEnd::failed() const {
  std::lock_guard<std::mutex> lock(line_.m_);
  return line_.hostFailed_;
}

void MemoryLine::HostEnd::read(void* buffer, size_t length, int timeoutMs) {
  std::unique_lock<std::mutex> lock(line_.m_);
  auto deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto* out = static_cast<uint8_t*>(buffer);
  auto& q = line_.queue_[ToHost];
  while (length > 0 && !line_.hostFailed_) {
    if (!line_.stalled() && !q.empty()) {
      size_t n = q.size() < length ? q.size() : length;
      std::copy(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n), out);
      q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
      out += n;
      length -= n;
      continue;
    }
    if (Clock::now() >= deadline) {
      line_.hostFailed_ = true;
      break;
    }
    auto until = line_.stalled() ? Clock::now() + kPoll : deadline;
    if (until > deadline) until = deadline;
    if (until == Clock::time_point::max())
      line_.cv_[ToHost].wait(lock);
    else
      line_.cv_[ToHost].wait_until(lock, until);
  }
}

void MemoryLine::HostEnd::write(const void* buffer, size_t length, int) {
  std::unique_lock<std::mutex> lock(line_.m_);
  if (line_.hostFailed_) return;
  line_.transmit(lock, ToImager, static_cast<const uint8_t*>(buffer), length);
}

void MemoryLine::HostEnd::abort() {
  std::lock_guard<std::mutex> lock(line_.m_);
  line_.hostFailed_ = true;
  line_.cv_[ToHost].notify_all();
}

void MemoryLine::HostEnd::reset() {
  std::unique_lock<std::mutex> lock(line_.m_);
  line_.hostFailed_ = true;
  if (line_.refuseRecovery_ || line_.closed_) {
    // A recovery that gets no answer takes its time, as on a real line.
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return;
  }
  line_.queue_[ToHost].clear();
  line_.queue_[ToImager].clear();
  line_.recoveryPending_ = true;
  line_.hostFailed_ = false;
  ++line_.recoveries_;
  line_.wakeBoth();
}

// ---- imager end ----

size_t MemoryLine::ImagerEnd::read(uint8_t* buffer, size_t max, int timeoutMs) {
  std::unique_lock<std::mutex> lock(line_.m_);
  auto deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto& q = line_.queue_[ToImager];
  for (;;) {
    if (line_.closed_ || line_.recoveryPending_ || max == 0) return 0;
    if (!line_.stalled() && !q.empty()) {
      size_t n = q.size() < max ? q.size() : max;
      std::copy(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n), buffer);
      q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
      return n;
    }
    if (Clock::now() >= deadline) return 0;
    auto until = line_.stalled() ? Clock::now() + kPoll : deadline;
    if (until > deadline) until = deadline;
    if (until == Clock::time_point::max())
      line_.cv_[ToImager].wait(lock);
    else
      line_.cv_[ToImager].wait_until(lock, until);
  }
}

void MemoryLine::ImagerEnd::write(const uint8_t* data, size_t length) {
  std::unique_lock<std::mutex> lock(line_.m_);
  if (line_.closed_ || line_.recoveryPending_) return;
  line_.transmit(lock, ToHost, data, length);
}

bool MemoryLine::ImagerEnd::closed() const {
  std::lock_guard<std::mutex> lock(line_.m_);
  return line_.closed_;
}

bool MemoryLine::ImagerEnd::takeLineRecovery() {
  std::lock_guard<std::mutex> lock(line_.m_);
  bool pending = line_.recoveryPending_;
  line_.recoveryPending_ = false;
  return pending;
}

}  // namespace sim
