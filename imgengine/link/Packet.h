// One packet buffer of the packet link: 1,024 bytes, the link generation it was
// filled in (not sent) followed by the wire form: CRC, header, payload.
#pragma once

#include <cstdint>

#include "base/Crc16.h"
#include "base/LittleEndian.h"

namespace vel {

constexpr uint32_t kPacketPayloadMax = 1016;
constexpr uint32_t kPacketHeaderBytes = 4;  // CRC and header

struct Packet {
  uint32_t generation;
  uint8_t wire[kPacketHeaderBytes + kPacketPayloadMax];

  uint16_t header() const { return getLe16(wire + 2); }
  uint16_t crc() const { return getLe16(wire); }
  int port() const { return header() & 0xF; }
  int sequence() const { return (header() >> 4) & 3; }
  uint32_t length() const { return header() >> 6; }
  uint8_t* payload() { return wire + kPacketHeaderBytes; }
  const uint8_t* payload() const { return wire + kPacketHeaderBytes; }
  size_t wireLength() const { return kPacketHeaderBytes + length(); }

  // Header from port, sequence and length (at most 1,016), then the CRC over header and payload.
  void seal(int portNumber, int seq, uint32_t len) {
    putLe16(wire + 2, static_cast<uint16_t>((len << 6) | ((seq & 3) << 4) | (portNumber & 0xF)));
    putLe16(wire, computeCrc());
  }
  uint16_t computeCrc() const { return crc16(wire + 2, 2 + length()); }
};

static_assert(sizeof(Packet) == 1024, "packet buffers are 1,024 bytes");

}  // namespace vel
