// The imager's end of the port links, over any ImagerLine: the resynchronisation
// answer with the imager's own token, and either packet framing (CRC, 2-bit
// sequence numbers, two credits per port and direction, acknowledgements,
// retransmission after a resynchronisation with the same host) or direct framing
// (32-bit header, no acknowledgement). It offers ports 0..15 to an imager
// application through ImagerPorts.
//
// Port directions: by default the imager writes on even ports (the host's input
// ports 0, 2, ...) and reads on odd ports; setImagerWrites changes a port.
// On the direct framing every ImagerPort::write is one message, so an
// application writes in the pieces the host reads (the host faults a message
// longer than its pending read). Each message's header and payload, and the
// pieces of the resynchronisation answer, are separate line writes: on USB a host
// read takes at most one write. On a line that reports host writes (USB) the
// direct framing works through the host's bytes on the host's own thread, and a
// port read waits a moment before it blocks: a block's acknowledgement costs no
// thread hand-off when the host answers at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imager/ImagerLine.h"
#include "imager/ImagerPorts.h"

namespace sim {

enum class Framing { Packet, Direct };

class ImagerLink : public ImagerPorts {
 public:
  static constexpr int kPorts = 16;
  static constexpr size_t kMaxPayload = 1016;
  static constexpr uint32_t kMaxDirectMessage = 1u << 24;

  // Starts the link's reader thread at once; token: the imager's link token (bit 0 is cleared).
  ImagerLink(ImagerLine& line, Framing framing, uint32_t token);
  ~ImagerLink() override;
  ImagerLink(const ImagerLink&) = delete;
  ImagerLink& operator=(const ImagerLink&) = delete;

  ImagerPort& port(int number) override;
  std::unique_ptr<ImagerPort> sessionPort(int number) override;
  // Stops serving: blocked port reads and writes return, the reader thread ends.
  void shutdown();
  void setImagerWrites(int number, bool writes);

  // The imager asks the host to resynchronise (a line event on a serial line).
  // Called after a damaged frame and when the host has not acknowledged a
  // packet for stallMs. Without a handler the imager drops damaged frames and waits.
  void setLineEventHandler(std::function<void()> handler, int stallMs = 300);

  // Faults.
  void loseState();                    // forget all port state; the next answer carries bit 0
  void refuseResync(bool refuse);      // ignore the host's resynchronisation bytes
  void dropOutgoingPackets(int count); // the next count data packets are not written
  void corruptOutgoingPackets(int count);

  // Statistics.
  uint64_t resyncsAnswered() const { return resyncs_.load(); }
  uint64_t damagedFrames() const { return damaged_.load(); }
  uint64_t portResets() const { return portResets_.load(); }
  // Resynchronisations whose host token differed from the known host's: on one
  // link that is a token damaged on the way, and the imager drops its ports.
  uint64_t strangeTokens() const { return strangeTokens_.load(); }
  // Data packets the faults above dropped or corrupted on their way out.
  uint64_t packetsDropped() const { return dropped_.load(); }
  uint64_t packetsCorrupted() const { return corrupted_.load(); }

 private:
  class Port;
  class SessionPort;
  static constexpr uint64_t kAnySession = UINT64_MAX;  // the port state of the moment
  struct Outgoing {
    int sequence;
    std::vector<uint8_t> wire;
    std::chrono::steady_clock::time_point sentAt;
  };
  struct Incoming {
    int sequence;
    std::vector<uint8_t> payload;
    size_t used = 0;
  };
  struct PortState {
    bool imagerWrites = false;
    // imager reads
    int expected = 2;
    std::deque<Incoming> packets;
    std::deque<uint8_t> bytes;  // direct framing
    std::deque<int> recentAcks;
    // imager writes: bytes not yet in a packet are pending[pendingHead..]; the
    // first `flushed` of them go even as a short packet.
    std::vector<uint8_t> pending;
    size_t pendingHead = 0;
    size_t flushed = 0;
    int nextSequence = 2;
    std::deque<Outgoing> unacked;
    size_t unsent() const { return pending.size() - pendingHead; }
    // Nothing waits for a credit but a partly filled packet.
    bool drained() const { return flushed == 0 && unsent() < kMaxPayload; }
  };

  void run();
  // Takes the host's bytes from the line (waiting at most timeoutMs) and works
  // through them; false when none came.
  bool pumpLine(std::vector<uint8_t>& buffer, int timeoutMs);
  // Direct framing on a line that reports host writes: the bytes are worked
  // through on the host's thread as they arrive.
  void onArrival();
  void onBytes(const uint8_t* data, size_t length);
  void onFrames(const uint8_t* data, size_t length);
  void onHuntByte(uint8_t b);
  void answerResync(uint32_t hostToken);
  void onPacket(const uint8_t* wire, size_t length);
  void onMessage(uint32_t header, std::vector<uint8_t>&& payload);
  void damaged();
  void resetPorts();  // with m_ held
  void checkStalls();
  void writeWire(std::vector<uint8_t> wire, bool data);

  // A session is the epoch of the port state; kAnySession follows the link's.
  size_t portRead(int n, uint8_t* buffer, size_t length, int timeoutMs, uint64_t session);
  void portWrite(int n, const uint8_t* data, size_t length, uint64_t session);
  void portFlush(int n, uint64_t session);
  // Puts what port n has ready into packets while it has credits and writes
  // them with one line write; whoever frees a credit or adds bytes calls it.
  void pumpPackets(int n, uint64_t session);
  // Sends what port n has ready and waits until only a partly filled packet is left.
  void waitDrained(int n, uint64_t epoch);
  bool sessionEnded(uint64_t session) const;
  std::vector<uint8_t> buildPacket(int n, int sequence, const uint8_t* data, size_t length) const;

  ImagerLine& line_;
  const Framing framing_;
  uint32_t token_;

  std::mutex writeLock_;  // taken before m_
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::condition_variable drainedCv_;  // a port's writes went into packets, or the state changed
  PortState ports_[kPorts];
  std::vector<std::unique_ptr<Port>> views_;
  uint64_t epoch_ = 0;  // advances when all port state is dropped
  bool lostState_ = false;
  bool haveHost_ = false;
  uint32_t hostToken_ = 0;
  bool refuse_ = false;
  int dropPackets_ = 0;
  int corruptPackets_ = 0;
  std::function<void()> lineEvent_;
  int stallMs_ = 300;
  std::atomic<bool> stop_{false};

  // Whoever works through the host's bytes: the reader thread, or on a line
  // with an arrival handler the host's writes as well.
  std::mutex parseLock_;
  bool arrivalHandler_ = false;
  std::vector<uint8_t> arrivalBuffer_;  // under parseLock_
  std::condition_variable idleCv_;      // with m_: the reader thread's pause while the handler does its work

  // reader state (reader thread only)
  bool hunting_ = true;
  bool recovered_ = false;
  // From a line recovery to the answer nothing but the answer may go out; under writeLock_.
  bool quiet_ = false;  // the host ran its line recovery since hunting began
  uint32_t huntWindow_ = 0xFFFFFFFF;
  int tokenBytes_ = -1;
  uint32_t tokenValue_ = 0;
  std::vector<uint8_t> frame_;
  size_t frameNeed_ = 4;
  uint32_t creditsReturned_ = 0;  // ports whose acknowledgements arrived in the bytes at hand

  std::atomic<uint64_t> resyncs_{0};
  std::atomic<uint64_t> damaged_{0};
  std::atomic<uint64_t> portResets_{0};
  std::atomic<uint64_t> strangeTokens_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> corrupted_{0};
  std::thread reader_;
};

}  // namespace sim
