#include "base/Crc16.h"

namespace vel {

Crc16Table::Crc16Table() {
  for (unsigned i = 0; i < 16; ++i) {
    uint16_t v = static_cast<uint16_t>(i << 12);
    for (int bit = 0; bit < 4; ++bit) v = (v & 0x8000) ? static_cast<uint16_t>((v << 1) ^ 0x1021) : static_cast<uint16_t>(v << 1);
    table_[i] = v;
  }
}

uint16_t crc16(const uint8_t* data, size_t length, uint16_t crc) {
  const Crc16Table& t = crc16Table();
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 4) ^ t.entry((crc >> 12) ^ (data[i] >> 4)));
    crc = static_cast<uint16_t>((crc << 4) ^ t.entry((crc >> 12) ^ (data[i] & 0xF)));
  }
  return crc;
}

}  // namespace vel
