// The link framing of one connection decoded from its wire bytes, both directions:
// the resynchronisation handshake (host: 00 00 FF and its token; imager: zeros, a
// mark byte and its token), then either packets (CRC-16 over header and payload,
// 16-bit header: port in bits 0-3, sequence in 4-5, length from bit 6, at most 1,016
// payload bytes; a packet of no payload acknowledges the other direction's packet of
// that port and sequence) or direct messages (32-bit header: port, sequence, 26-bit
// length). Chunks may split or join packets: each direction is reassembled. The
// payload bytes of accepted packets go to per-port streams, each piece stamped with
// its time and the link epoch (which moves on whenever the ports are reset), for
// the conversation above.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PcapngReader.h"

namespace trace {

// One thing that happened, for display and for JSON (fields in order).
struct Field {
  std::string key;
  std::string text;
  long long number = 0;
  bool isNumber = false;
};

struct Item {
  uint64_t timeUs = 0;
  size_t interface = 0;
  Direction direction = Direction::kNone;
  std::string type;  // packet, ack, crc-error, handshake, command, answer, results, image, line, api ...
  std::string text;  // one line for people
  std::vector<Field> fields;
  Item& add(const std::string& key, const std::string& text);
  Item& add(const std::string& key, long long number);
};

struct PortStream {
  struct Piece {
    size_t offset;  // into bytes
    uint64_t timeUs;
    uint64_t epoch;
  };
  std::vector<uint8_t> bytes;
  std::vector<Piece> pieces;
  void append(uint64_t timeUs, uint64_t epoch, const uint8_t* data, size_t length);
};

struct LinkCounters {
  uint64_t bytesIn = 0, bytesOut = 0;
  uint64_t packetsIn = 0, packetsOut = 0;  // data packets or direct messages
  uint64_t acksIn = 0, acksOut = 0;
  uint64_t retransmissions = 0;
  uint64_t outOfSequence = 0;
  uint64_t resynchronisations = 0;  // host handshakes
  uint64_t portResets = 0;
  uint64_t crcErrors = 0;
  uint64_t framingLost = 0;  // lengths no packet can have
  uint64_t unframedBytes = 0;
};

// Each counter with its key and its label, in the order trace stats gives them.
struct CounterField {
  const char* key;
  const char* label;
  uint64_t LinkCounters::*member;
};
inline constexpr CounterField kCounterFields[] = {
    {"bytesOut", "bytes host to imager", &LinkCounters::bytesOut},
    {"bytesIn", "bytes imager to host", &LinkCounters::bytesIn},
    {"packetsOut", "packets host to imager", &LinkCounters::packetsOut},
    {"packetsIn", "packets imager to host", &LinkCounters::packetsIn},
    {"acksOut", "acknowledgements out", &LinkCounters::acksOut},
    {"acksIn", "acknowledgements in", &LinkCounters::acksIn},
    {"retransmissions", "retransmissions", &LinkCounters::retransmissions},
    {"outOfSequence", "out of sequence", &LinkCounters::outOfSequence},
    {"resynchronisations", "resynchronisations", &LinkCounters::resynchronisations},
    {"portResets", "port resets", &LinkCounters::portResets},
    {"crcErrors", "CRC errors", &LinkCounters::crcErrors},
    {"framingLost", "framing lost", &LinkCounters::framingLost},
    {"unframedBytes", "bytes outside framing", &LinkCounters::unframedBytes},
};

enum class Framing { kPacket, kDirect };

class LinkDecoder {
 public:
  static constexpr int kPorts = 16;
  static constexpr uint32_t kMaxPayload = 1016;

  LinkDecoder(Framing framing, size_t interface, std::vector<Item>& out)
      : framing_(framing), interface_(interface), items_(out) {}

  void data(uint64_t timeUs, Direction direction, const uint8_t* bytes, size_t length);
  void lineEvent(uint64_t timeUs, uint32_t bits);
  // A port opened or closed again: the framing starts over with a handshake.
  void restart(uint64_t timeUs);
  // Ends what is left (an unframed run) at the end of the trace.
  void finish(uint64_t timeUs);

  const PortStream& stream(Direction direction, int port) const {
    return streams_[direction == Direction::kIn ? 0 : 1][port & 0xF];
  }
  const LinkCounters& counters() const { return counters_; }
  uint64_t epoch() const { return epoch_; }

 private:
  enum class State { kHunt, kToken, kAnswer, kAnswerToken, kFrame };
  struct Side {
    State state = State::kHunt;
    std::vector<uint8_t> frame;
    size_t need = 4;
    uint64_t frameTime = 0;
    uint32_t window = 0xFFFFFFFF;
    uint32_t token = 0;
    int tokenBytes = 0;
    uint64_t unframed = 0;
    uint64_t unframedTime = 0;
    // Direct framing: payload bytes of the current message still to come.
    uint32_t directLeft = 0;
    int directPort = 0;
    int expected[kPorts];
    // Per port and sequence: the CRC of the last packet seen and the resynchronisation
    // count then (a packet seen again after a resynchronisation is a retransmission).
    int32_t seenCrc[kPorts][4];
    uint64_t seenTurn[kPorts][4];
    Side() { resetPorts(); }
    void resetPorts();
  };

  void byte(uint64_t timeUs, Direction d, Side& s, uint8_t b);
  void hunt(uint64_t timeUs, Direction d, Side& s, uint8_t b);
  void header(uint64_t timeUs, Direction d, Side& s);
  void packet(Direction d, Side& s);
  void directHeader(Direction d, Side& s);
  void handshakeDone(uint64_t timeUs);
  void loseFraming(uint64_t timeUs, Side& in, Side& out, const char* why);
  void flushUnframed(Direction d, Side& s);
  void toHunt(Side& s);
  Item& emit(uint64_t timeUs, Direction d, const std::string& type);
  Side& side(Direction d) { return d == Direction::kIn ? in_ : out_; }

  const Framing framing_;
  const size_t interface_;
  std::vector<Item>& items_;
  Side in_;
  Side out_;
  PortStream streams_[2][kPorts];
  LinkCounters counters_;
  uint64_t epoch_ = 0;
  uint64_t turn_ = 0;  // resynchronisations that kept the ports
  uint32_t hostToken_ = 0;
  bool knowImager_ = false;
  uint32_t imagerToken_ = 0;
};

std::string hex(uint64_t value, int digits);

}  // namespace trace
