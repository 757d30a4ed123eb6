#include "imager/ImagerLink.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "imager/WireCrc.h"

namespace sim {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kHeader = 4;
constexpr uint8_t kAnswerMark = 0xA5;  // the non-zero byte before the imager's token
constexpr size_t kRecentAcks = 2;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
constexpr size_t kArrivalBuffer = 4096;
constexpr int kIdleLookMs = 20;
}  // namespace

class ImagerLink::Port : public ImagerPort {
 public:
  Port(ImagerLink& link, int number) : link_(link), number_(number) {}
  size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
    return link_.portRead(number_, buffer, length, timeoutMs, kAnySession);
  }
  void write(const uint8_t* data, size_t length) override { link_.portWrite(number_, data, length, kAnySession); }
  void flush() override { link_.portFlush(number_, kAnySession); }

 private:
  ImagerLink& link_;
  int number_;
};

class ImagerLink::SessionPort : public ImagerPort {
 public:
  SessionPort(ImagerLink& link, int number, uint64_t session) : link_(link), number_(number), session_(session) {}
  size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
    return link_.portRead(number_, buffer, length, timeoutMs, session_);
  }
  void write(const uint8_t* data, size_t length) override { link_.portWrite(number_, data, length, session_); }
  void flush() override { link_.portFlush(number_, session_); }
  bool ended() const override { return link_.sessionEnded(session_); }

 private:
  ImagerLink& link_;
  int number_;
  uint64_t session_;
};

ImagerLink::ImagerLink(ImagerLine& line, Framing framing, uint32_t token)
    : line_(line), framing_(framing), token_(token & ~1u) {
  for (int i = 0; i < kPorts; ++i) {
    ports_[i].imagerWrites = (i % 2) == 0;
    views_.push_back(std::make_unique<Port>(*this, i));
  }
  if (framing_ == Framing::Direct) {
    arrivalBuffer_.resize(kArrivalBuffer);
    arrivalHandler_ = line_.setArrivalHandler([this] { onArrival(); });
  }
  reader_ = std::thread([this] { run(); });
}

ImagerLink::~ImagerLink() { shutdown(); }

void ImagerLink::shutdown() {
  // No host write works on this link once the handler is gone.
  if (arrivalHandler_) line_.setArrivalHandler(nullptr);
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_all();
    idleCv_.notify_all();
    drainedCv_.notify_all();
  }
  if (reader_.joinable()) reader_.join();
}

ImagerPort& ImagerLink::port(int number) {
  if (number < 0 || number >= kPorts) throw std::out_of_range("imager port number");
  return *views_[static_cast<size_t>(number)];
}

std::unique_ptr<ImagerPort> ImagerLink::sessionPort(int number) {
  if (number < 0 || number >= kPorts) throw std::out_of_range("imager port number");
  std::lock_guard<std::mutex> lock(m_);
  return std::make_unique<SessionPort>(*this, number, epoch_);
}

bool ImagerLink::sessionEnded(uint64_t session) const {
  std::lock_guard<std::mutex> lock(m_);
  return epoch_ != session;
}

void ImagerLink::setImagerWrites(int number, bool writes) {
  std::lock_guard<std::mutex> lock(m_);
  if (number >= 0 && number < kPorts) ports_[number].imagerWrites = writes;
}

void ImagerLink::setLineEventHandler(std::function<void()> handler, int stallMs) {
  std::lock_guard<std::mutex> lock(m_);
  lineEvent_ = std::move(handler);
  stallMs_ = stallMs;
}

void ImagerLink::loseState() {
  std::lock_guard<std::mutex> lock(m_);
  lostState_ = true;
  resetPorts();
}

void ImagerLink::refuseResync(bool refuse) {
  std::lock_guard<std::mutex> lock(m_);
  refuse_ = refuse;
}

void ImagerLink::dropOutgoingPackets(int count) {
  std::lock_guard<std::mutex> lock(m_);
  dropPackets_ = count;
}

void ImagerLink::corruptOutgoingPackets(int count) {
  std::lock_guard<std::mutex> lock(m_);
  corruptPackets_ = count;
}

// ---- reader thread ----

void ImagerLink::run() {
  std::vector<uint8_t> buffer(kArrivalBuffer);
  while (!stop_.load()) {
    if (arrivalHandler_) {
      // The host's writes do the work; a look now and then catches a line
      // recovery with no write after it and bytes from before the handler.
      {
        std::lock_guard<std::mutex> parse(parseLock_);
        while (pumpLine(buffer, 0)) {
        }
      }
      std::unique_lock<std::mutex> lock(m_);
      idleCv_.wait_for(lock, std::chrono::milliseconds(kIdleLookMs), [this] { return stop_.load(); });
      continue;
    }
    if (!pumpLine(buffer, kIdleLookMs) && line_.closed())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    checkStalls();
  }
}

bool ImagerLink::pumpLine(std::vector<uint8_t>& buffer, int timeoutMs) {
  std::unique_lock<std::mutex> w(writeLock_);
  if (line_.takeLineRecovery()) {
    // The host recovered the line: whatever was half received is gone, and
    // the host reads nothing but the answer until it has it.
    quiet_ = true;
    hunting_ = true;
    recovered_ = true;
    huntWindow_ = 0xFFFFFFFF;
    tokenBytes_ = -1;
    frame_.clear();
  }
  w.unlock();
  const size_t n = line_.read(buffer.data(), buffer.size(), timeoutMs);
  if (n > 0) onBytes(buffer.data(), n);
  return n > 0;
}

void ImagerLink::onArrival() {
  std::lock_guard<std::mutex> parse(parseLock_);
  if (stop_.load()) return;
  while (pumpLine(arrivalBuffer_, 0)) {
  }
}

void ImagerLink::onBytes(const uint8_t* data, size_t length) {
  onFrames(data, length);
  // The credits that came back go to the packets waiting for them, once all the
  // acknowledgements at hand are counted.
  uint32_t ports = creditsReturned_;
  creditsReturned_ = 0;
  for (int n = 0; ports != 0; ++n, ports >>= 1)
    if (ports & 1u) pumpPackets(n, kAnySession);
}

void ImagerLink::onFrames(const uint8_t* data, size_t length) {
  size_t i = 0;
  while (i < length) {
    if (hunting_) {
      onHuntByte(data[i++]);
      continue;
    }
    size_t need = frameNeed_ - frame_.size();
    size_t take = need < length - i ? need : length - i;
    frame_.insert(frame_.end(), data + i, data + i + take);
    i += take;
    if (frame_.size() < frameNeed_) continue;
    if (frameNeed_ == kHeader) {
      // Header complete: it tells how much payload follows.
      uint32_t payload = framing_ == Framing::Packet ? static_cast<uint32_t>((frame_[2] | (frame_[3] << 8)) >> 6)
                                                     : le32(frame_.data()) >> 6;
      uint32_t limit = framing_ == Framing::Packet ? kMaxPayload : kMaxDirectMessage;
      if (payload > limit) {
        frame_.clear();
        damaged();
        continue;
      }
      frameNeed_ = kHeader + payload;
      if (payload > 0) continue;
    }
    std::vector<uint8_t> frame;
    frame.swap(frame_);
    frameNeed_ = kHeader;
    if (framing_ == Framing::Packet)
      onPacket(frame.data(), frame.size());
    else if (frame.size() > kHeader)
      onMessage(le32(frame.data()), std::vector<uint8_t>(frame.begin() + kHeader, frame.end()));
  }
}

void ImagerLink::onHuntByte(uint8_t b) {
  // Before the host's line recovery the line still carries frames, which may
  // hold the handshake's bytes by chance.
  if (!recovered_) return;
  if (tokenBytes_ >= 0) {
    tokenValue_ |= static_cast<uint32_t>(b) << (8 * tokenBytes_);
    if (++tokenBytes_ == 4) {
      tokenBytes_ = -1;
      huntWindow_ = 0xFFFFFFFF;
      answerResync(tokenValue_);
    }
    return;
  }
  huntWindow_ = ((huntWindow_ << 8) | b) & 0xFFFFFF;
  if (huntWindow_ == 0x0000FF) {
    tokenBytes_ = 0;
    tokenValue_ = 0;
  }
}

void ImagerLink::answerResync(uint32_t hostToken) {
  std::lock_guard<std::mutex> w(writeLock_);
  std::lock_guard<std::mutex> lock(m_);
  if (refuse_) return;  // stays hunting
  bool sameHost = haveHost_ && hostToken == hostToken_;
  // Direct framing sends nothing again: the host fails its ports after any
  // recovery, and so the imager forgets what it had half received. Whenever the
  // imager drops its port state it says so (bit 0), so that the host drops its
  // own too, even when the host's token was only damaged on the way.
  bool reset = lostState_ || !sameHost || framing_ == Framing::Direct;
  if (haveHost_ && !sameHost) ++strangeTokens_;
  uint32_t mine = token_ | (reset ? 1u : 0u);
  const uint8_t answer[6] = {0x00, kAnswerMark, static_cast<uint8_t>(mine), static_cast<uint8_t>(mine >> 8),
                             static_cast<uint8_t>(mine >> 16), static_cast<uint8_t>(mine >> 24)};
  // In the pieces the host reads them (a zero, the mark, the token): a USB host
  // read takes at most one write and may drop what it did not ask for.
  line_.write(answer, 1);
  line_.write(answer + 1, 1);
  line_.write(answer + 2, 4);
  if (reset) {
    resetPorts();
    hostToken_ = hostToken & ~1u;
    haveHost_ = true;
    lostState_ = false;
  } else if (framing_ == Framing::Packet) {
    // Same host, nobody lost state: send again what may not have arrived.
    for (int n = 0; n < kPorts; ++n) {
      PortState& ps = ports_[n];
      for (Outgoing& o : ps.unacked) {
        line_.write(o.wire.data(), o.wire.size());
        o.sentAt = Clock::now();
      }
      for (int seq : ps.recentAcks) {
        std::vector<uint8_t> ack = buildPacket(n, seq, nullptr, 0);
        line_.write(ack.data(), ack.size());
      }
    }
  }
  hunting_ = false;
  recovered_ = false;
  quiet_ = false;
  frame_.clear();
  frameNeed_ = kHeader;
  ++resyncs_;
}

void ImagerLink::resetPorts() {
  for (PortState& ps : ports_) {
    bool writes = ps.imagerWrites;
    ps = PortState();
    ps.imagerWrites = writes;
  }
  ++epoch_;
  ++portResets_;
  cv_.notify_all();
  drainedCv_.notify_all();
}

void ImagerLink::damaged() {
  ++damaged_;
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(m_);
    handler = lineEvent_;
  }
  frame_.clear();
  frameNeed_ = kHeader;
  if (handler) {
    // Framing is lost: ask the host to recover the line and wait for its bytes.
    hunting_ = true;
    recovered_ = false;
    huntWindow_ = 0xFFFFFFFF;
    tokenBytes_ = -1;
    handler();
  }
}

void ImagerLink::checkStalls() {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (!lineEvent_ || hunting_ || framing_ != Framing::Packet) return;
    auto limit = Clock::now() - std::chrono::milliseconds(stallMs_);
    bool stalled = false;
    for (PortState& ps : ports_)
      for (Outgoing& o : ps.unacked)
        if (o.sentAt < limit) {
          stalled = true;
          o.sentAt = Clock::now();
        }
    if (!stalled) return;
    handler = lineEvent_;
  }
  hunting_ = true;
  recovered_ = false;
  huntWindow_ = 0xFFFFFFFF;
  tokenBytes_ = -1;
  handler();
}

void ImagerLink::onPacket(const uint8_t* wire, size_t length) {
  uint16_t crc = static_cast<uint16_t>(wire[0] | (wire[1] << 8));
  if (wireCrc(wire + 2, length - 2) != crc) {
    damaged();
    return;
  }
  uint16_t header = static_cast<uint16_t>(wire[2] | (wire[3] << 8));
  PortState& ps = ports_[header & 0xF];
  int seq = (header >> 4) & 3;
  std::lock_guard<std::mutex> lock(m_);
  if (ps.imagerWrites) {
    // An acknowledgement releases the oldest unacknowledged packet, and only that one.
    if (length == kHeader && !ps.unacked.empty() && ps.unacked.front().sequence == seq) {
      ps.unacked.pop_front();
      creditsReturned_ |= 1u << (header & 0xF);
    }
    return;
  }
  if (seq != ps.expected || ps.packets.size() >= 2) return;  // out of order or beyond the credits
  ps.packets.push_back(Incoming{seq, std::vector<uint8_t>(wire + kHeader, wire + length), 0});
  ps.expected = (ps.expected + 1) & 3;
  cv_.notify_all();
}

void ImagerLink::onMessage(uint32_t header, std::vector<uint8_t>&& payload) {
  std::lock_guard<std::mutex> lock(m_);
  PortState& ps = ports_[header & 0xF];
  if (ps.imagerWrites) return;
  ps.bytes.insert(ps.bytes.end(), payload.begin(), payload.end());
  cv_.notify_all();
}

// ---- application side ----

std::vector<uint8_t> ImagerLink::buildPacket(int n, int sequence, const uint8_t* data, size_t length) const {
  std::vector<uint8_t> wire(kHeader + length);
  uint16_t header = static_cast<uint16_t>((length << 6) | ((sequence & 3) << 4) | (n & 0xF));
  wire[2] = static_cast<uint8_t>(header);
  wire[3] = static_cast<uint8_t>(header >> 8);
  for (size_t i = 0; i < length; ++i) wire[kHeader + i] = data[i];
  uint16_t crc = wireCrc(wire.data() + 2, 2 + length);
  wire[0] = static_cast<uint8_t>(crc);
  wire[1] = static_cast<uint8_t>(crc >> 8);
  return wire;
}

void ImagerLink::writeWire(std::vector<uint8_t> wire, bool data) {
  // Called with writeLock_ held and the epoch checked. While quiet the frame is
  // not lost: unacknowledged packets and recent acknowledgements go again after the answer.
  if (quiet_) return;
  if (data) {
    std::lock_guard<std::mutex> lock(m_);
    if (dropPackets_ > 0) {
      --dropPackets_;
      ++dropped_;
      return;
    }
    if (corruptPackets_ > 0) {
      --corruptPackets_;
      ++corrupted_;
      wire[wire.size() - 1] ^= 0x01;
    }
  }
  if (framing_ == Framing::Direct && wire.size() > kHeader) {
    // The host reads a message's header and its payload separately; on USB each
    // read takes at most one write, so they go as two.
    line_.write(wire.data(), kHeader);
    line_.write(wire.data() + kHeader, wire.size() - kHeader);
    return;
  }
  line_.write(wire.data(), wire.size());
}

size_t ImagerLink::portRead(int n, uint8_t* buffer, size_t length, int timeoutMs, uint64_t session) {
  std::vector<int> acks;
  size_t got = 0;
  std::unique_lock<std::mutex> lock(m_);
  // Acknowledgements belong to the port state of the moment the packet was used
  // up; a reset while this read waited must not suppress them.
  uint64_t epoch = epoch_;
  auto deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  PortState& ps = ports_[n];
  while (got < length && !stop_.load()) {
    if (session != kAnySession && epoch_ != session) break;  // the session's bytes are gone
    if (framing_ == Framing::Direct && !ps.bytes.empty()) {
      while (got < length && !ps.bytes.empty()) {
        buffer[got++] = ps.bytes.front();
        ps.bytes.pop_front();
      }
      continue;
    }
    if (framing_ == Framing::Packet && !ps.packets.empty()) {
      Incoming& in = ps.packets.front();
      while (got < length && in.used < in.payload.size()) buffer[got++] = in.payload[in.used++];
      if (in.used == in.payload.size()) {
        // Used up: acknowledged, and remembered for a retransmission.
        if (epoch != epoch_) {
          acks.clear();
          epoch = epoch_;
        }
        acks.push_back(in.sequence);
        ps.recentAcks.push_back(in.sequence);
        if (ps.recentAcks.size() > kRecentAcks) ps.recentAcks.pop_front();
        ps.packets.pop_front();
      }
      continue;
    }
    if (deadline == Clock::time_point::max())
      cv_.wait(lock);
    else if (cv_.wait_until(lock, deadline) == std::cv_status::timeout)
      break;
  }
  lock.unlock();
  if (!acks.empty()) {
    std::lock_guard<std::mutex> w(writeLock_);
    std::unique_lock<std::mutex> check(m_);
    if (epoch_ == epoch) {
      check.unlock();
      for (int seq : acks) writeWire(buildPacket(n, seq, nullptr, 0), false);
    }
  }
  return got;
}

void ImagerLink::pumpPackets(int n, uint64_t session) {
  std::lock_guard<std::mutex> w(writeLock_);
  std::vector<uint8_t> out;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (stop_.load() || (session != kAnySession && epoch_ != session)) return;
    PortState& ps = ports_[n];
    while (ps.unacked.size() < 2) {
      size_t length = 0;
      if (ps.flushed > 0)
        length = ps.flushed < kMaxPayload ? ps.flushed : kMaxPayload;
      else if (ps.unsent() >= kMaxPayload)
        length = kMaxPayload;
      else
        break;
      std::vector<uint8_t> wire = buildPacket(n, ps.nextSequence, ps.pending.data() + ps.pendingHead, length);
      ps.unacked.push_back(Outgoing{ps.nextSequence, wire, Clock::now()});
      ps.nextSequence = (ps.nextSequence + 1) & 3;
      // While quiet nothing goes out, and the faults wait for a packet that does.
      if (!quiet_) {
        if (dropPackets_ > 0) {
          --dropPackets_;
          ++dropped_;
        } else {
          if (corruptPackets_ > 0) {
            --corruptPackets_;
            ++corrupted_;
            wire[wire.size() - 1] ^= 0x01;
          }
          out.insert(out.end(), wire.begin(), wire.end());
        }
      }
      ps.pendingHead += length;
      ps.flushed -= ps.flushed < length ? ps.flushed : length;
    }
    if (ps.pendingHead == ps.pending.size()) {
      ps.pending.clear();
      ps.pendingHead = 0;
    } else if (ps.pendingHead >= ps.pending.size() / 2) {
      ps.pending.erase(ps.pending.begin(), ps.pending.begin() + static_cast<std::ptrdiff_t>(ps.pendingHead));
      ps.pendingHead = 0;
    }
    if (ps.drained()) drainedCv_.notify_all();
  }
  // The packets go in one line write. The epoch cannot move on meanwhile without
  // this lock, except by loseState, which drops them as on a device that lost its memory.
  if (!out.empty()) line_.write(out.data(), out.size());
}

void ImagerLink::portWrite(int n, const uint8_t* data, size_t length, uint64_t session) {
  if (length == 0) return;
  if (framing_ == Framing::Direct) {
    std::lock_guard<std::mutex> w(writeLock_);
    if (session != kAnySession && sessionEnded(session)) return;
    static std::atomic<uint32_t> counter{0};
    while (length > 0) {
      size_t part = length < kMaxDirectMessage ? length : kMaxDirectMessage;
      uint32_t seq = (counter.fetch_add(1) + 1) & 3;
      uint32_t header = (static_cast<uint32_t>(part) << 6) | (seq << 4) | static_cast<uint32_t>(n & 0xF);
      std::vector<uint8_t> wire(kHeader + part);
      for (int i = 0; i < 4; ++i) wire[static_cast<size_t>(i)] = static_cast<uint8_t>(header >> (8 * i));
      std::copy(data, data + part, wire.begin() + kHeader);
      writeWire(std::move(wire), true);
      data += part;
      length -= part;
    }
    return;
  }
  uint64_t epoch;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (session != kAnySession && epoch_ != session) return;
    epoch = epoch_;
    PortState& ps = ports_[n];
    ps.pending.insert(ps.pending.end(), data, data + length);
    if (ps.drained()) return;
  }
  waitDrained(n, epoch);
}

void ImagerLink::waitDrained(int n, uint64_t epoch) {
  // Packets go out as credits come back, sent by the reader thread when the
  // acknowledgements arrive; the write returns once all its full packets are
  // sent, as a write that sent them itself would.
  pumpPackets(n, epoch);
  std::unique_lock<std::mutex> lock(m_);
  PortState& ps = ports_[n];
  drainedCv_.wait(lock, [&] { return ps.drained() || stop_.load() || epoch_ != epoch; });
}

void ImagerLink::portFlush(int n, uint64_t session) {
  if (framing_ == Framing::Direct) return;
  uint64_t epoch;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (session != kAnySession && epoch_ != session) return;
    epoch = epoch_;
    PortState& ps = ports_[n];
    ps.flushed = ps.unsent();
    if (ps.drained()) return;
  }
  waitDrained(n, epoch);
}

}  // namespace sim
