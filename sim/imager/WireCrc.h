// The imager's CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, MSB first,
// no final XOR). wireCrcBitwise works bit by bit; wireCrc takes four bytes a
// step from four tables that the bitwise routine fills.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

uint16_t wireCrc(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF);
uint16_t wireCrcBitwise(const uint8_t* data, size_t length, uint16_t crc = 0xFFFF);

}  // namespace sim
