// The bitmap file images the shared image buffers hold: a 1-bit binary image
// (black/white palette), an 8-bit grey image (256-entry grey palette) or a
// 24-bit colour image, rows bottom-up, each padded to 4 bytes; and the 54-byte
// pseudo header in front of a compressed grey stream ("JP", pixel offset 54,
// only size, width and height in its info header, file size 0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel {

constexpr uint32_t kMaxImagePixels = 1280 * 1024;
constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kPlainHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;  // 54: colour pixels, compressed stream
constexpr size_t kBinaryHeaderBytes = kPlainHeaderBytes + 2 * 4;           // 62
constexpr size_t kGreyHeaderBytes = kPlainHeaderBytes + 256 * 4;           // 1078
constexpr size_t kFileSizeOffset = 2;
constexpr size_t kPixelOffsetOffset = 10;
constexpr size_t kWidthOffset = 18;
constexpr size_t kHeightOffset = 22;

enum class PixelKind { Binary, Grey, Colour };

// Bytes of one padded row.
uint32_t bitmapStride(PixelKind kind, uint32_t width);
// Header plus height padded rows.
uint64_t bitmapFileSize(PixelKind kind, uint32_t width, uint32_t height);
// Writes the header (and palette) of a width x height bitmap; answers its header size.
size_t writeBitmapHeader(uint8_t* file, PixelKind kind, uint32_t width, uint32_t height);
// Writes the pseudo header of a compressed grey image.
void writeCompressedHeader(uint8_t* file, uint32_t width, uint32_t height);

}  // namespace vel
