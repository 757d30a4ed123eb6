// Builds result sections as the imager sends them, for the operations tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace sections {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Record head; with longLength the length byte is 255 and a 32-bit length follows.
inline Bytes head(uint8_t kind, uint32_t length, bool longLength = false) {
  Bytes out{kind, static_cast<uint8_t>(longLength ? 255 : length)};
  if (longLength) put32(out, length);
  return out;
}

struct Barcode {
  uint8_t type = 3;
  uint8_t flags = 0;
  int16_t corners[8] = {10, 20, 110, 21, 12, 80, 111, 81};
  uint32_t ticks = 400;
  Bytes data;
};

inline Bytes barcodeRecord(const Barcode& b, bool longLength = false) {
  Bytes body{b.type, b.flags};
  for (int16_t c : b.corners) put16(body, static_cast<uint16_t>(c));
  put32(body, b.ticks);
  put16(body, static_cast<uint16_t>(b.data.size()));
  append(body, b.data);
  Bytes out = head(2, static_cast<uint32_t>(body.size()), longLength || body.size() >= 255);
  append(out, body);
  return out;
}

inline Bytes timingRecord(uint32_t t0, uint32_t t1, uint32_t t2, uint32_t t3, bool longLength = false) {
  Bytes out = head(1, 16, longLength);
  for (uint32_t t : {t0, t1, t2, t3}) put32(out, t);
  return out;
}

// CRC-16/CCITT-FALSE, bit by bit.
inline uint16_t bitwiseCrc16(const Bytes& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

// Data of a configuration barcode: prefix, check value, payload, suffix.
inline Bytes configurationData(const Bytes& payload, const Bytes& prefix = {}, const Bytes& suffix = {}) {
  Bytes out = prefix;
  put16(out, bitwiseCrc16(payload));
  append(out, payload);
  append(out, suffix);
  return out;
}

}  // namespace sections
