#include "base/Crc16.h"

namespace vel {

namespace {

constexpr uint16_t kPolynomial = 0x1021;

// Slice k, entry b: the CRC register after byte b (register otherwise zero) and
// then k zero bytes have gone through it.
struct SliceTables {
  uint16_t t[8][256];
  constexpr SliceTables() : t() {
    for (unsigned b = 0; b < 256; ++b) {
      uint16_t v = static_cast<uint16_t>(b << 8);
      for (int bit = 0; bit < 8; ++bit)
        v = (v & 0x8000) ? static_cast<uint16_t>((v << 1) ^ kPolynomial) : static_cast<uint16_t>(v << 1);
      t[0][b] = v;
    }
    for (int k = 1; k < 8; ++k)
      for (unsigned b = 0; b < 256; ++b) {
        uint16_t prev = t[k - 1][b];
        t[k][b] = static_cast<uint16_t>((prev << 8) ^ t[0][prev >> 8]);
      }
  }
};

constexpr SliceTables kSlices;

}  // namespace

Crc16Table::Crc16Table() {
  for (unsigned i = 0; i < 16; ++i) {
    uint16_t v = static_cast<uint16_t>(i << 12);
    for (int bit = 0; bit < 4; ++bit) v = (v & 0x8000) ? static_cast<uint16_t>((v << 1) ^ kPolynomial) : static_cast<uint16_t>(v << 1);
    table_[i] = v;
  }
}

uint16_t crc16Nibble(const uint8_t* data, size_t length, uint16_t crc) {
  const Crc16Table& t = crc16Table();
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 4) ^ t.entry((crc >> 12) ^ (data[i] >> 4)));
    crc = static_cast<uint16_t>((crc << 4) ^ t.entry((crc >> 12) ^ (data[i] & 0xF)));
  }
  return crc;
}

uint16_t crc16(const uint8_t* data, size_t length, uint16_t crc) {
  const auto& t = kSlices.t;
  // Eight bytes per step: the register meets the first two, and each byte's
  // effect after the bytes that follow it in the step comes from its slice.
  while (length >= 8) {
    const unsigned b0 = data[0] ^ (crc >> 8);
    const unsigned b1 = data[1] ^ (crc & 0xFF);
    crc = static_cast<uint16_t>(t[7][b0] ^ t[6][b1] ^ t[5][data[2]] ^ t[4][data[3]] ^ t[3][data[4]] ^ t[2][data[5]] ^
                                t[1][data[6]] ^ t[0][data[7]]);
    data += 8;
    length -= 8;
  }
  while (length-- > 0) crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *data++]);
  return crc;
}

}  // namespace vel
