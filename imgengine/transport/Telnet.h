// The Telnet framing of a network serial port (RFC 854, the com port option of
// RFC 2217): the codes, the writers of commands with IAC doubling, and a parser
// that splits a received stream into data and commands. Both ends use it: the
// network serial transport and the stand-alone simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel::telnet {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kOptionBinary = 0, kOptionSuppressGoAhead = 3, kOptionComPort = 44;

// Com port commands as the client sends them; the server's answers and
// notifications carry the code plus kServerOffset.
enum ComCommand : uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;
constexpr uint8_t kParityNone = 1, kParityEven = 3, kStopBitsOne = 1, kStopBitsTwo = 2;
constexpr uint8_t kControlBreakOn = 5, kControlBreakOff = 6, kPurgeBoth = 3;
// Line state bits: break detect and the receive errors (framing, parity, overrun).
constexpr uint8_t kLineBreakDetect = 0x10, kLineErrors = 0x08 | 0x04 | 0x02;
// Modem state bits: the changes of CTS and DSR, and their levels.
constexpr uint8_t kModemCtsChanged = 0x01, kModemDsrChanged = 0x02, kModemCts = 0x10, kModemDsr = 0x20;

// Appends data with every IAC doubled.
void appendData(std::vector<uint8_t>& out, const uint8_t* data, size_t length);
// Appends IAC verb option.
void appendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
// Appends IAC SB COM-PORT-OPTION command payload IAC SE (payload escaped).
void appendComCommand(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload, size_t length);
inline void appendComCommand(std::vector<uint8_t>& out, uint8_t command, uint8_t value) {
  appendComCommand(out, command, &value, 1);
}

// Splits a received stream into data and commands, across any chunking of the
// input. A subnegotiation holds at most kMaxSubnegotiation payload bytes: a longer
// one is dropped whole, so that a server's endless subnegotiation costs no memory.
class Parser {
 public:
  static constexpr size_t kMaxSubnegotiation = 64;

  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void negotiation(uint8_t verb, uint8_t option) = 0;
    virtual void subnegotiation(uint8_t option, const uint8_t* payload, size_t length) = 0;
  };

  // Parses length bytes; the data among them goes to data (which may be in,
  // since data never runs ahead of the input) and its count is answered.
  size_t feed(const uint8_t* in, size_t length, uint8_t* data, Handler& handler);

  uint64_t droppedSubnegotiations() const { return dropped_; }

 private:
  enum class State { kData, kCommand, kOption, kSubOption, kSubData, kSubCommand };
  // The byte after an IAC that is neither IAC nor, in a subnegotiation, SE.
  void command(uint8_t b);
  void endSubnegotiation(Handler& handler);

  State state_ = State::kData;
  uint8_t verb_ = 0;
  uint8_t subOption_ = 0;
  bool overflow_ = false;
  size_t subLength_ = 0;
  uint8_t sub_[kMaxSubnegotiation] = {};
  uint64_t dropped_ = 0;
};

}  // namespace vel::telnet
