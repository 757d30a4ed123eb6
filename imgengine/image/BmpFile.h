// Bitmap file images read from a buffer or a file, every header field checked
// against the bytes present before use, and the 8-bit grey bitmaps the library
// writes (256-entry grey palette, rows bottom-up, each padded to 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel {

constexpr size_t kBmpFileHeaderBytes = 14;
constexpr size_t kBmpGreyPixelOffset = 14 + 40 + 256 * 4;  // 1078
// Largest bitmap file made or read here.
constexpr size_t kMaxBmpFileBytes = 512u << 20;

// The fields of a bottom-up bitmap of 1, 8 or 24 bits per pixel without
// compression, with an information header of 12 (OS/2), 40 or 64 bytes.
struct BmpLayout {
  uint32_t fileSize;     // the header's field, not checked against the bytes
  uint32_t pixelOffset;  // at or after the palette
  uint32_t infoSize;
  uint32_t width, height;
  uint16_t bitsPerPixel;
  uint32_t imageSize;  // the header's field (0 allowed)
  int32_t xPelsPerMeter, yPelsPerMeter;
  uint32_t colorsUsed;         // 0 in a 12-byte header
  uint32_t paletteEntries;     // entries the pixels index (1 and 8 bits), else 0
  uint32_t paletteEntryBytes;  // 3 in a 12-byte header, else 4
  uint32_t stride;             // bytes of one padded row
  size_t rowBytes() const { return size_t{stride} * height; }
};

// Reads the headers of the bitmap file image in bytes; false unless it starts with
// "BM", its fields are in range and its palette and pixel rows lie within bytes.
bool readBmpLayout(const uint8_t* file, size_t bytes, BmpLayout& layout);

// Row stride of a bitmap: width x bits rounded up to 32 bits, in bytes.
uint32_t bmpStride(uint32_t width, uint32_t bitsPerPixel);

// A zeroed 8-bit grey bitmap file image of width x height with its headers and
// palette written; pixels per metre as given. Empty when the file would exceed
// kMaxBmpFileBytes.
std::vector<uint8_t> makeGreyBmp(uint32_t width, uint32_t height, int32_t xPelsPerMeter, int32_t yPelsPerMeter);

}  // namespace vel
