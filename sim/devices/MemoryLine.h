// An in-memory line between a host transport (a vel::ByteStream) and an imager
// (a sim::ImagerLine), with optional pacing and fault injection.
//
// Host end: reads and writes with timeouts; a read that times out fails the
// stream; abort() fails it and wakes blocked calls; reset() is the line recovery:
// it discards what is in flight on both directions, brings the stream back and
// tells the imager end (takeLineRecovery), unless recovery is refused.
// Imager end: between a recovery and the imager taking it, read() answers 0 at
// once and the imager's writes are lost, as during a break on a serial line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "imager/ImagerLine.h"
#include "base/ByteStream.h"

namespace sim {

class MemoryLine {
 public:
  enum Direction { ToImager = 0, ToHost = 1 };

  MemoryLine();
  ~MemoryLine();
  MemoryLine(const MemoryLine&) = delete;
  MemoryLine& operator=(const MemoryLine&) = delete;

  vel::ByteStream& host() { return host_; }
  ImagerLine& imager() { return imager_; }

  // Limits each direction to baud / 10 bytes per second (0 = unpaced).
  void setBaud(uint32_t baud);

  // Faults. Counts are bytes from now on in that direction (0 = the next byte).
  void corruptByte(Direction d, uint64_t after);
  void dropByte(Direction d, uint64_t after);
  // Random faults: each byte is corrupted / dropped with probability ppm / 1,000,000.
  void setRandomFaults(Direction d, uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed);
  // Nothing moves in either direction for ms milliseconds.
  void stall(int ms);
  // A line event: the host stream fails (the host resynchronises).
  void failLine();
  // Line recovery fails while refused.
  void refuseRecovery(bool refuse);
  // The line is gone: the imager end reports closed and the host end fails.
  void close();

  // Sees every write on the line as it was made (before faults), with the lock held.
  void setTap(std::function<void(Direction, const uint8_t*, size_t)> tap);

  // Statistics.
  uint64_t recoveries() const;
  uint64_t bytesMoved(Direction d) const;

 private:
  class HostEnd : public vel::ByteStream {
   public:
    explicit HostEnd(MemoryLine& line) : line_(line) {}
    using vel::ByteStream::read;
    using vel::ByteStream::write;
    bool failed() const override;
    void read(void* buffer, size_t length, int timeoutMs) override;
    void write(const void* buffer, size_t length, int timeoutMs) override;
    void flush() override {}
    void abort() override;
    void reset() override;

   private:
    MemoryLine& line_;
  };

  class ImagerEnd : public ImagerLine {
   public:
    explicit ImagerEnd(MemoryLine& line) : line_(line) {}
    size_t read(uint8_t* buffer, size_t max, int timeoutMs) override;
    void write(const uint8_t* data, size_t length) override;
    bool closed() const override;
    bool takeLineRecovery() override;

   private:
    MemoryLine& line_;
  };

  struct Faults {
    uint64_t corruptAt = UINT64_MAX;
    uint64_t dropAt = UINT64_MAX;
    uint32_t corruptPpm = 0;
    uint32_t dropPpm = 0;
    uint32_t rng = 1;
  };

  using Clock = std::chrono::steady_clock;

  // Paced writes deliver this many bytes at a time.
  static constexpr size_t kPacedPiece = 64;

  // Appends with pacing and faults applied, then wakes the reader of that
  // direction; called with the lock held, returns with it released.
  void transmit(std::unique_lock<std::mutex>& lock, Direction d, const uint8_t* data, size_t length);
  // Appends with faults applied; with the lock held.
  void append(Direction d, const uint8_t* data, size_t length);
  bool stalled() const { return Clock::now() < stallUntil_; }
  void wakeBoth() {
    cv_[ToImager].notify_all();
    cv_[ToHost].notify_all();
  }
  uint32_t nextRandom(Faults& f);

  mutable std::mutex m_;
  // One per direction, for the end that reads it: bytes arriving one way wake
  // only the reader of that way.
  std::condition_variable cv_[2];
  std::condition_variable writerCv_;  // a paced write ended
  bool writing_[2] = {false, false};  // a paced write is under way in that direction
  std::deque<uint8_t> queue_[2];
  Faults faults_[2];
  uint64_t position_[2] = {0, 0};
  uint64_t moved_[2] = {0, 0};
  uint32_t baud_ = 0;
  Clock::time_point stallUntil_{};
  bool hostFailed_ = false;
  bool recoveryPending_ = false;
  bool refuseRecovery_ = false;
  bool closed_ = false;
  uint64_t recoveries_ = 0;
  std::function<void(Direction, const uint8_t*, size_t)> tap_;
  HostEnd host_{*this};
  ImagerEnd imager_{*this};
};

}  // namespace sim
