#include "imager/WireCrc.h"

namespace sim {

namespace {

struct ByteTables {
  uint16_t t[4][256];
  ByteTables() {
    // Table k, entry b: the register (zero before) after byte b and k zero bytes.
    const uint8_t zeros[4] = {};
    for (unsigned b = 0; b < 256; ++b) {
      const uint8_t byte = static_cast<uint8_t>(b);
      const uint16_t alone = wireCrcBitwise(&byte, 1, 0);
      for (size_t k = 0; k < 4; ++k) t[k][b] = wireCrcBitwise(zeros, k, alone);
    }
  }
};

const ByteTables& byteTables() {
  static const ByteTables tables;
  return tables;
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
  const auto& t = byteTables().t;
  // Four bytes a step: the register meets the first two.
  for (; length >= 4; data += 4, length -= 4)
    crc = static_cast<uint16_t>(t[3][data[0] ^ (crc >> 8)] ^ t[2][data[1] ^ (crc & 0xFF)] ^ t[1][data[2]] ^ t[0][data[3]]);
  for (; length > 0; ++data, --length) crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *data]);
  return crc;
}

}  // namespace sim
