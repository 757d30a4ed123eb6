#include "imager/WireCrc.h"

namespace sim {

namespace {

struct ByteTable {
  uint16_t t[256];
  ByteTable() {
    // Entry b: the register (zero before) after byte b alone.
    for (unsigned b = 0; b < 256; ++b) {
      const uint8_t byte = static_cast<uint8_t>(b);
      t[b] = wireCrcBitwise(&byte, 1, 0);
    }
  }
};

const ByteTable& byteTable() {
  static const ByteTable table;
  return table;
}

}  // namespace

uint16_t wireCrcBitwise(const uint8_t* data, size_t length, uint16_t crc) {
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

uint16_t wireCrc(const uint8_t* data, size_t length, uint16_t crc) {
  const uint16_t* t = byteTable().t;
  for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc << 8) ^ t[(crc >> 8) ^ data[i]]);
  return crc;
}

}  // namespace sim
