#include "LinkDecoder.h"

#include <algorithm>
#include <cstdio>

namespace trace {

namespace {
// CRC-16, polynomial 0x1021, initial 0xFFFF, most significant bit first, no final XOR.
uint16_t crc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>(crc << 1 ^ 0x1021) : crc << 1;
  }
  return crc;
}
uint32_t le32(const uint8_t* p) { return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]; }
constexpr int kFirstSequence = 2;  // two credits numbered 0 and 1: the first packet is 2
}  // namespace

std::string hex(uint64_t value, int digits) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%0*llx", digits, static_cast<unsigned long long>(value));
  return buffer;
}

Item& Item::add(const std::string& key, const std::string& value) {
  fields.push_back({key, value, 0, false});
  return *this;
}
Item& Item::add(const std::string& key, long long value) {
  fields.push_back({key, std::to_string(value), value, true});
  return *this;
}

void PortStream::append(uint64_t timeUs, uint64_t epoch, const uint8_t* data, size_t length) {
  if (length == 0) return;
  pieces.push_back({bytes.size(), timeUs, epoch});
  bytes.insert(bytes.end(), data, data + length);
}

void LinkDecoder::Side::resetPorts() {
  for (int p = 0; p < kPorts; ++p) {
    expected[p] = kFirstSequence;
    for (int q = 0; q < 4; ++q) {
      seenCrc[p][q] = -1;
      seenTurn[p][q] = 0;
    }
  }
}

Item& LinkDecoder::emit(uint64_t timeUs, Direction d, const std::string& type) {
  items_.push_back(Item{});
  Item& i = items_.back();
  i.timeUs = timeUs;
  i.interface = interface_;
  i.direction = d;
  i.type = type;
  return i;
}

void LinkDecoder::flushUnframed(Direction d, Side& s) {
  if (s.unframed == 0) return;
  emit(s.unframedTime, d, "unframed")
      .add("bytes", static_cast<long long>(s.unframed))
      .text = std::to_string(s.unframed) + " bytes outside the framing";
  s.unframed = 0;
}

void LinkDecoder::toHunt(Side& s) {
  s.state = State::kHunt;
  s.frame.clear();
  s.need = 4;
  s.window = 0xFFFFFFFF;
  s.directLeft = 0;
}

void LinkDecoder::data(uint64_t timeUs, Direction d, const uint8_t* bytes, size_t length) {
  if (d == Direction::kNone) return;
  (d == Direction::kIn ? counters_.bytesIn : counters_.bytesOut) += length;
  Side& s = side(d);
  for (size_t i = 0; i < length; ++i) {
    // Direct framing: a payload goes to its port as it comes, however long.
    if (s.state == State::kFrame && s.directLeft > 0) {
      const size_t n = std::min<size_t>(s.directLeft, length - i);
      streams_[d == Direction::kIn ? 0 : 1][s.directPort].append(timeUs, epoch_, bytes + i, n);
      s.directLeft -= static_cast<uint32_t>(n);
      i += n - 1;
      continue;
    }
    byte(timeUs, d, s, bytes[i]);
  }
}

void LinkDecoder::byte(uint64_t timeUs, Direction d, Side& s, uint8_t b) {
  switch (s.state) {
    case State::kHunt: hunt(timeUs, d, s, b); return;
    case State::kToken:
      s.token |= uint32_t{b} << (8 * s.tokenBytes);
      if (++s.tokenBytes < 4) return;
      hostToken_ = s.token;
      ++counters_.resynchronisations;
      emit(timeUs, d, "handshake").add("token", "0x" + hex(s.token, 8)).text =
          "resynchronisation: host token 0x" + hex(s.token, 8);
      s.state = State::kFrame;
      s.need = 4;
      s.frame.clear();
      // The imager's answer comes next; what it sent before is not part of it.
      flushUnframed(Direction::kIn, in_);
      toHunt(in_);
      in_.state = State::kAnswer;
      return;
    case State::kAnswer:
      if (b == 0) return;
      s.state = State::kAnswerToken;
      s.token = 0;
      s.tokenBytes = 0;
      return;
    case State::kAnswerToken:
      s.token |= uint32_t{b} << (8 * s.tokenBytes);
      if (++s.tokenBytes < 4) return;
      handshakeDone(timeUs);
      return;
    case State::kFrame:
      if (s.frame.empty()) s.frameTime = timeUs;
      s.frame.push_back(b);
      if (s.frame.size() < s.need) return;
      if (s.frame.size() == 4) {
        header(timeUs, d, s);
        return;
      }
      packet(d, s);
      return;
  }
}

void LinkDecoder::hunt(uint64_t timeUs, Direction d, Side& s, uint8_t b) {
  // Outbound: the host's 00 00 FF before its token; inbound waits for that.
  if (s.unframed == 0) s.unframedTime = timeUs;
  ++s.unframed;
  ++counters_.unframedBytes;
  if (d != Direction::kOut) return;
  s.window = (s.window << 8 | b) & 0xFFFFFF;
  if (s.window != 0x0000FF) return;
  s.unframed -= 3;
  counters_.unframedBytes -= 3;
  flushUnframed(d, s);
  s.state = State::kToken;
  s.token = 0;
  s.tokenBytes = 0;
}

void LinkDecoder::header(uint64_t timeUs, Direction d, Side& s) {
  const uint8_t* h = s.frame.data();
  // The host's 00 00 FF where a header would start: a handshake without a line event before it.
  if (d == Direction::kOut && h[0] == 0 && h[1] == 0 && h[2] == 0xFF) {
    s.state = State::kToken;
    s.token = h[3];
    s.tokenBytes = 1;
    s.frame.clear();
    return;
  }
  if (framing_ == Framing::kDirect) {
    directHeader(d, s);
    return;
  }
  const uint32_t length = (uint32_t{h[3]} << 8 | h[2]) >> 6;
  if (length > kMaxPayload) {
    emit(timeUs, d, "framing-lost").add("length", length).text =
        "header 0x" + hex(uint32_t{h[3]} << 8 | h[2], 4) + " gives " + std::to_string(length) +
        " bytes: no packet is that long";
    loseFraming(timeUs, in_, out_, "length");
    return;
  }
  s.need = 4 + length;
  if (length == 0) packet(d, s);
}

void LinkDecoder::loseFraming(uint64_t, Side& in, Side& out, const char*) {
  ++counters_.framingLost;
  toHunt(in);
  toHunt(out);
}

void LinkDecoder::packet(Direction d, Side& s) {
  const uint8_t* w = s.frame.data();
  const uint16_t crc = static_cast<uint16_t>(w[1] << 8 | w[0]);
  const uint16_t head = static_cast<uint16_t>(w[3] << 8 | w[2]);
  const int port = head & 0xF, sequence = (head >> 4) & 3;
  const uint32_t length = head >> 6;
  const bool good = crc16(w + 2, 2 + length) == crc;
  const uint64_t t = s.frameTime;
  const std::string where = "port " + std::to_string(port) + " seq " + std::to_string(sequence);
  if (!good) {
    ++counters_.crcErrors;
    emit(t, d, "crc-error")
        .add("port", port).add("seq", sequence).add("length", length).add("crc", "0x" + hex(crc, 4))
        .add("computed", "0x" + hex(crc16(w + 2, 2 + length), 4))
        .text = "packet " + where + " len " + std::to_string(length) + " crc 0x" + hex(crc, 4) + " BAD (dropped)";
  } else if (length == 0) {
    ++(d == Direction::kIn ? counters_.acksIn : counters_.acksOut);
    emit(t, d, "ack").add("port", port).add("seq", sequence).text = "ack " + where;
  } else {
    ++(d == Direction::kIn ? counters_.packetsIn : counters_.packetsOut);
    const bool again = s.seenCrc[port][sequence] == crc && s.seenTurn[port][sequence] < turn_;
    const bool inSequence = sequence == s.expected[port];
    s.seenCrc[port][sequence] = crc;
    s.seenTurn[port][sequence] = turn_;
    if (again) ++counters_.retransmissions;
    if (!inSequence && !again) ++counters_.outOfSequence;
    std::string note = again ? (inSequence ? " retransmission" : " retransmission (duplicate, dropped)")
                             : inSequence ? "" : " out of sequence (dropped)";
    emit(t, d, "packet")
        .add("port", port).add("seq", sequence).add("length", length).add("crc", "0x" + hex(crc, 4))
        .add("crcGood", "yes").add("retransmission", again ? "yes" : "no")
        .add("accepted", inSequence ? "yes" : "no")
        .text = "packet " + where + " len " + std::to_string(length) + " crc 0x" + hex(crc, 4) + " ok" + note;
    if (inSequence) {
      s.expected[port] = (sequence + 1) & 3;
      streams_[d == Direction::kIn ? 0 : 1][port].append(t, epoch_, w + 4, length);
    }
  }
  s.frame.clear();
  s.need = 4;
}

void LinkDecoder::directHeader(Direction d, Side& s) {
  const uint32_t h = le32(s.frame.data());
  const int port = h & 0xF, sequence = (h >> 4) & 3;
  const uint32_t length = h >> 6;
  s.frame.clear();
  s.need = 4;
  if (length == 0) return;
  ++(d == Direction::kIn ? counters_.packetsIn : counters_.packetsOut);
  emit(s.frameTime, d, "message").add("port", port).add("seq", sequence).add("length", length).text =
      "message port " + std::to_string(port) + " seq " + std::to_string(sequence) + " len " + std::to_string(length);
  s.directPort = port;
  s.directLeft = length;
}

void LinkDecoder::handshakeDone(uint64_t timeUs) {
  const uint32_t imager = in_.token;
  // The host drops its ports when its own token says so (bit 0: it has no state), when
  // the imager is another one or says it lost its state (bit 0), and always on direct framing.
  const bool reset = framing_ == Framing::kDirect || (hostToken_ & 1u) || !knowImager_ || imager != imagerToken_;
  imagerToken_ = imager & ~1u;
  knowImager_ = true;
  if (reset) {
    ++epoch_;
    ++counters_.portResets;
    in_.resetPorts();
    out_.resetPorts();
  } else {
    ++turn_;
  }
  emit(timeUs, Direction::kIn, "answer-token")
      .add("token", "0x" + hex(imager, 8)).add("ports", reset ? "reset" : "kept")
      .text = "resynchronisation answer: imager token 0x" + hex(imager, 8) +
              (reset ? ", ports reset" : ", same imager: retransmission");
  toHunt(in_);
  in_.state = State::kFrame;
}

void LinkDecoder::lineEvent(uint64_t, uint32_t bits) {
  // A break, a line error or a modem change fails the host's transport: it resynchronises.
  if (!(bits & (kBreakSet | kLineError | kCtsChanged | kDsrChanged))) return;
  if (out_.state != State::kToken) {
    flushUnframed(Direction::kOut, out_);
    toHunt(out_);
  }
  if (in_.state != State::kAnswer && in_.state != State::kAnswerToken) {
    flushUnframed(Direction::kIn, in_);
    toHunt(in_);
  }
}

void LinkDecoder::restart(uint64_t) {
  flushUnframed(Direction::kIn, in_);
  flushUnframed(Direction::kOut, out_);
  toHunt(in_);
  toHunt(out_);
}

void LinkDecoder::finish(uint64_t) {
  flushUnframed(Direction::kIn, in_);
  flushUnframed(Direction::kOut, out_);
}

}  // namespace trace
