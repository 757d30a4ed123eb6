// A simulated serial line between the host's COM port and the imager. The host
// side is what the library opens through the device seam; the imager side is an
// ImagerLine. Breaks set by the host are answered with a break of the imager's
// own (unless refused), modem-status and error events can be injected, and the
// line can be paced at a baud rate (10 bit times per byte).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/HostRequests.h"
#include "imager/ImagerLine.h"
#include "transport/DeviceSeam.h"

namespace sim {

class SimSerialLine : public ImagerLine, public std::enable_shared_from_this<SimSerialLine> {
 public:
  explicit SimSerialLine(int portNumber);
  ~SimSerialLine() override;

  const std::string& name() const { return name_; }
  // The name a host opens port N by: "\\.\COMN".
  static std::string portName(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

  // Imager end. Between a break the host started and takeLineRecovery, reads
  // return nothing and writes are dropped, as the break is part of the stream.
  size_t read(uint8_t* buffer, size_t max, int timeoutMs) override;
  void write(const uint8_t* data, size_t length) override;
  bool closed() const override;
  bool takeLineRecovery() override;

  // Test controls.
  void setAnswerBreaks(bool answer);          // default: answered
  void setBreakAnswerDelayMs(int ms);         // default 1 ms, within the host's 50 ms window
  // vel::devices::kLine* bits, seen by the host's watcher; a CTS or DSR change
  // turns that level over (both are on while the imager is attached).
  void injectLineEvent(uint32_t bits);
  uint32_t modemLevels() const;               // vel::devices::kModem* bits
  void setPacingBaud(uint32_t baud);          // 0 = unpaced (default)
  // Noise on the way to the host: each byte the imager sends is corrupted (one
  // bit flipped) or lost with these probabilities per million, from a seeded generator.
  void setNoise(uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed);
  // The same for the bytes the host sends to the imager.
  void setHostNoise(uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed);
  uint64_t noisyBytes() const;                // bytes corrupted or lost so far, both ways
  void holdByOtherProgram(bool held);         // the port is in use elsewhere: opens fail
  int breakCount() const;                     // breaks the host has started (clear to set)
  int breakRequests() const;                  // host requests to set the break, also while already set
  bool breakOn() const;                       // the host's break condition
  int openCount() const;
  uint32_t lastBaudRate() const;
  vel::devices::LineFormat lineFormat() const;  // the framing the host set last
  int purgeCount() const;                       // host purges of both directions
  bool hostOpen() const;
  std::vector<uint32_t> readRequests() const;  // sizes of the host's read requests
  // Runs on the host's thread as each host read request starts, before the line takes it.
  void setBeforeHostRead(std::function<void()> hook);

  // Host end: the library's serial line (null when the port is held).
  std::unique_ptr<vel::devices::SerialLine> openHost();
  // A network port server's read beside the opened host end: waits at most
  // timeoutMs for bytes due to the host and takes up to max of them.
  size_t hostReceive(uint8_t* buffer, size_t max, int timeoutMs);

 private:
  class Host;
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
  };
  struct Pending {
    vel::devices::Operation* op = nullptr;
    std::thread::id starter;
    uint8_t* in = nullptr;
    uint32_t length = 0;
    uint32_t* mask = nullptr;
    Clock::time_point due;
  };

  // Delivers whatever is due: bytes to a pending host read, completed host writes, events.
  void pumpLocked();
  size_t dueBytes(const std::deque<Chunk>& q, Clock::time_point now) const;
  // Takes up to max of the bytes that are due from q.
  size_t takeDue(std::deque<Chunk>& q, uint8_t* buffer, size_t max);
  Clock::time_point wireTime(Clock::time_point& wireFree, size_t bytes);
  void service();

  // Host operations (called through Host).
  vel::devices::IoStart hostRead(void* buffer, uint32_t length, vel::devices::Operation& op);
  vel::devices::IoStart hostWrite(const void* data, uint32_t length, vel::devices::Operation& op);
  vel::devices::IoStart hostWaitEvent(uint32_t* mask, vel::devices::Operation& op);
  bool hostResult(const vel::devices::Operation& op, uint32_t* transferred) const;
  void hostCancel(vel::devices::Operation& op);
  void hostSetBreak(bool on);
  void hostPurge();
  void hostClose();

  std::string name_;
  mutable std::mutex m_;
  std::condition_variable imagerCv_;
  std::condition_variable hostCv_;
  std::deque<Chunk> toHost_, toImager_;
  Pending read_, write_, wait_;
  HostRequests requests_;
  uint32_t events_ = 0;
  uint32_t modemLevels_ = vel::devices::kModemCtsOn | vel::devices::kModemDsrOn;
  Clock::time_point eventsDue_{};
  bool answerBreaks_ = true;
  int answerDelayMs_ = 1;
  bool held_ = false, hostOpen_ = false, closed_ = false, breakOn_ = false;
  int breaks_ = 0, breakRequests_ = 0, opens_ = 0, recoveries_ = 0;
  uint32_t baud_ = 0, lastBaud_ = 0;
  vel::devices::LineFormat lineFormat_{0, 0, 0, false, false, false};
  int purges_ = 0;
  std::vector<uint32_t> readRequests_;
  std::function<void()> beforeHostRead_;
  Clock::time_point hostWireFree_{}, imagerWireFree_{};
  struct Noise {
    uint32_t corruptPpm = 0, dropPpm = 0, state = 1;
    uint64_t hits = 0;
  } noise_, hostNoise_;
  // Applies a direction's noise to bytes on their way.
  void addNoiseLocked(Noise& noise, std::vector<uint8_t>& bytes);
  bool running_ = true;
  std::condition_variable serviceCv_;
  std::thread service_;
};

}  // namespace sim
