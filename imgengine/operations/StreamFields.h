// Reading the fields of a long response: each multi-byte value little-endian,
// each answering whether the stream still holds. Writing an acknowledgement.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ByteStream.h"
#include "base/LittleEndian.h"

namespace vel {

inline bool readBytes(ByteStream& s, void* bytes, size_t length) {
  s.read(bytes, length);
  return !s.failed();
}

inline bool read8(ByteStream& s, uint8_t& value) { return readBytes(s, &value, 1); }

inline bool read16(ByteStream& s, uint16_t& value) {
  uint8_t bytes[2];
  if (!readBytes(s, bytes, sizeof bytes)) return false;
  value = getLe16(bytes);
  return true;
}

inline bool read32(ByteStream& s, uint32_t& value) {
  uint8_t bytes[4];
  if (!readBytes(s, bytes, sizeof bytes)) return false;
  value = getLe32(bytes);
  return true;
}

// One acknowledgement byte: 1 = go on, 0 = stop.
inline void acknowledge(ByteStream& s, bool goOn) {
  const uint8_t ack = goOn ? 1 : 0;
  s.write(&ack, 1);
}

}  // namespace vel
