// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, most significant bit
// first, no final XOR). crc16 takes eight bytes per step from eight 256-entry
// tables made at compile time from the polynomial; crc16Nibble, four bits at a
// time from a 16-entry table, is the reference it is checked against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel {

class Crc16Table {
 public:
  Crc16Table();
  uint16_t entry(unsigned nibble) const { return table_[nibble & 0xF]; }

 private:
  uint16_t table_[16];
};

// The table built at library load (LibraryStatics.cpp).
const Crc16Table& crc16Table();

uint16_t crc16(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF);
uint16_t crc16Nibble(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF);

}  // namespace vel
