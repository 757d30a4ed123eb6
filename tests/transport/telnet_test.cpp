// The Telnet framing of network serial ports: data and commands split across any
// chunking, IAC doubling both ways, and the parser under random and hostile
// streams (bounded: no output beyond the input, no subnegotiation beyond its cap).
// Also the port map's reading of its mapping texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "transport/PortMap.h"
#include "transport/Telnet.h"

namespace {

namespace t = vel::telnet;
using Bytes = std::vector<uint8_t>;

// What the parser reported, in order, as text: "N<verb>,<option>" and "S<option>:<payload bytes>".
struct Recorder : t::Parser::Handler {
  std::vector<std::string> events;
  void negotiation(uint8_t verb, uint8_t option) override {
    events.push_back("N" + std::to_string(verb) + "," + std::to_string(option));
  }
  void subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override {
    EXPECT_LE(length, t::Parser::kMaxSubnegotiation);
    std::string e = "S" + std::to_string(option) + ":";
    for (size_t i = 0; i < length; ++i) e += std::to_string(payload[i]) + " ";
    events.push_back(e);
  }
};

// Feeds the stream in pieces of the given size; answers the data.
Bytes parse(const Bytes& stream, size_t piece, Recorder& r, t::Parser& p) {
  Bytes data;
  for (size_t at = 0; at < stream.size(); at += piece) {
    const size_t n = std::min(piece, stream.size() - at);
    Bytes out(n);
    const size_t got = p.feed(stream.data() + at, n, out.data(), r);
    EXPECT_LE(got, n);
    data.insert(data.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return data;
}

TEST(TelnetParser, DataCommandsAndSubnegotiationsComeApartInEveryChunking) {
  Bytes stream = {'a', t::kIac, t::kIac, 'b'};
  t::appendNegotiation(stream, t::kDo, t::kOptionComPort);
  const uint8_t payload[] = {0xFF, 0x00, 0xF0};  // IAC and SE inside a payload
  t::appendComCommand(stream, t::kServerOffset + t::kNotifyLineState, payload, sizeof payload);
  stream.insert(stream.end(), {t::kIac, 241, 'c'});  // NOP
  t::appendData(stream, payload, sizeof payload);

  for (size_t piece = 1; piece <= stream.size(); ++piece) {
    Recorder r;
    t::Parser p;
    EXPECT_EQ(parse(stream, piece, r, p), (Bytes{'a', 0xFF, 'b', 'c', 0xFF, 0x00, 0xF0})) << "pieces of " << piece;
    EXPECT_EQ(r.events, (std::vector<std::string>{"N253,44", "S44:106 255 0 240 "})) << "pieces of " << piece;
  }
}

TEST(TelnetParser, AnOversizedSubnegotiationIsDroppedWholeAndTheDataAfterItSurvives) {
  Bytes stream = {t::kIac, t::kSb, t::kOptionComPort};
  stream.insert(stream.end(), 100000, 0x41);
  stream.insert(stream.end(), {t::kIac, t::kSe, 'o', 'k'});
  Recorder r;
  t::Parser p;
  EXPECT_EQ(parse(stream, 777, r, p), (Bytes{'o', 'k'}));
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(p.droppedSubnegotiations(), 1u);
}

TEST(TelnetParser, ACommandInsideAnUnendedSubnegotiationEndsItAndCounts) {
  const Bytes stream = {t::kIac, t::kSb, 44, 1, 2, t::kIac, t::kWill, 3, 'x'};
  Recorder r;
  t::Parser p;
  EXPECT_EQ(parse(stream, 1, r, p), (Bytes{'x'}));
  EXPECT_EQ(r.events, (std::vector<std::string>{"N251,3"}));
  EXPECT_EQ(p.droppedSubnegotiations(), 1u);
}

// Random data with random commands between: whatever the bytes and the chunking,
// the data comes back exactly and every command is reported once.
TEST(TelnetParser, RandomDataAndCommandsRoundTripThroughTheEncoders) {
  std::mt19937 rng(2217);
  for (int round = 0; round < 300; ++round) {
    Bytes stream, expected;
    std::vector<std::string> commands;
    const int parts = 1 + static_cast<int>(rng() % 20);
    for (int i = 0; i < parts; ++i) {
      Bytes data(rng() % 64);
      for (auto& b : data) b = rng() % 4 == 0 ? 0xFF : static_cast<uint8_t>(rng());
      t::appendData(stream, data.data(), data.size());
      expected.insert(expected.end(), data.begin(), data.end());
      if (rng() % 2) {
        const uint8_t verb = static_cast<uint8_t>(t::kWill + rng() % 4), option = static_cast<uint8_t>(rng());
        t::appendNegotiation(stream, verb, option);
        commands.push_back("N" + std::to_string(verb) + "," + std::to_string(option));
      } else {
        Bytes payload(rng() % (t::Parser::kMaxSubnegotiation - 1));
        for (auto& b : payload) b = rng() % 3 == 0 ? 0xFF : static_cast<uint8_t>(rng());
        const uint8_t command = static_cast<uint8_t>(rng());
        t::appendComCommand(stream, command, payload.data(), payload.size());
        std::string e = "S44:" + std::to_string(command) + " ";
        for (uint8_t b : payload) e += std::to_string(b) + " ";
        commands.push_back(e);
      }
    }
    Recorder r;
    t::Parser p;
    ASSERT_EQ(parse(stream, 1 + rng() % 50, r, p), expected) << "round " << round;
    ASSERT_EQ(r.events, commands) << "round " << round;
  }
}

// Hostile streams: random bytes rich in IAC, SB and SE, IAC at every position,
// endless subnegotiations. The parser never writes more data than it read and
// never reports a payload beyond its cap (the recorder checks); under the address
// sanitizer any overrun ends the test.
TEST(TelnetParser, HostileStreamsStayWithinBounds) {
  std::mt19937 rng(44);
  const uint8_t special[] = {t::kIac, t::kSb, t::kSe, t::kWill, t::kDo, t::kOptionComPort};
  for (int round = 0; round < 200; ++round) {
    Bytes stream(1 + rng() % 8192);
    for (auto& b : stream) b = rng() % 2 ? special[rng() % sizeof special] : static_cast<uint8_t>(rng());
    Recorder r;
    t::Parser p;
    const Bytes data = parse(stream, 1 + rng() % 300, r, p);
    ASSERT_LE(data.size(), stream.size());
  }
  // IAC at every other position, before commands without an option: only IAC IAC is data.
  const uint8_t plain[] = {241, 249, t::kSe, t::kIac, 'a'};
  Bytes everyOther;
  for (int i = 0; i < 5000; ++i) everyOther.insert(everyOther.end(), {t::kIac, plain[i % 5]});
  Recorder r;
  t::Parser p;
  EXPECT_EQ(parse(everyOther, 333, r, p), Bytes(1000, 0xFF));
  EXPECT_TRUE(r.events.empty());
}

TEST(PortMap, MappingTexts) {
  using Kind = vel::PortTarget::Kind;
  struct Case {
    const char* text;
    Kind kind;
    const char* name;  // device, or host
    uint16_t port;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:2217", Kind::kNetwork, "127.0.0.1", 2217},
      {"  RFC2217://imager.example:7000/ \n", Kind::kNetwork, "imager.example", 7000},
      {"rfc2217://[::1]:65535", Kind::kNetwork, "::1", 65535},
      {"/dev/ttyUSB0", Kind::kDevice, "/dev/ttyUSB0", 0},
      {"COM12", Kind::kDevice, "\\\\.\\COM12", 0},
      {"com3", Kind::kDevice, "\\\\.\\COM3", 0},
      {"\\\\.\\COM7", Kind::kDevice, "\\\\.\\COM7", 0},
      {"COM100", Kind::kDevice, "COM100", 0},
      {"rfc2217://host", Kind::kNone, "", 0},
      {"rfc2217://host:0", Kind::kNone, "", 0},
      {"rfc2217://host:65536", Kind::kNone, "", 0},
      {"rfc2217://host:12x", Kind::kNone, "", 0},
      {"rfc2217://:80", Kind::kNone, "", 0},
      {"rfc2217://a:1:2", Kind::kNone, "", 0},
      {"rfc2217://[::1]80", Kind::kNone, "", 0},
      {"rfc2217://user@host:80", Kind::kNone, "", 0},
      {"rfc2217://host:80/path", Kind::kNone, "", 0},
      {"   ", Kind::kNone, "", 0},
  };
  for (const Case& c : cases) {
    const vel::PortTarget target = vel::parsePortMapping(c.text);
    EXPECT_EQ(target.kind, c.kind) << c.text;
    EXPECT_EQ(c.kind == Kind::kNetwork ? target.host : target.device, c.name) << c.text;
    EXPECT_EQ(target.port, c.port) << c.text;
  }
}

}  // namespace
