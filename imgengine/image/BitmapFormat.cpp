#include "image/BitmapFormat.h"

#include <cstring>

#include "base/LittleEndian.h"

namespace vel {

namespace {

uint32_t headerBytes(PixelKind kind) {
  switch (kind) {
    case PixelKind::Binary: return kBinaryHeaderBytes;
    case PixelKind::Grey: return kGreyHeaderBytes;
    case PixelKind::Colour: break;
  }
  return kPlainHeaderBytes;
}

uint16_t bitsPerPixel(PixelKind kind) {
  switch (kind) {
    case PixelKind::Binary: return 1;
    case PixelKind::Grey: return 8;
    case PixelKind::Colour: break;
  }
  return 24;
}

void writeInfoSize(uint8_t* file, uint32_t width, uint32_t height) {
  putLe32(file + kFileHeaderBytes, kInfoHeaderBytes);
  putLe32(file + kWidthOffset, width);
  putLe32(file + kHeightOffset, height);
}

}  // namespace

uint32_t bitmapStride(PixelKind kind, uint32_t width) {
  const uint64_t bits = uint64_t{width} * bitsPerPixel(kind);
  return static_cast<uint32_t>(((bits + 31) / 32) * 4);
}

uint64_t bitmapFileSize(PixelKind kind, uint32_t width, uint32_t height) {
  return headerBytes(kind) + uint64_t{height} * bitmapStride(kind, width);
}

size_t writeBitmapHeader(uint8_t* file, PixelKind kind, uint32_t width, uint32_t height) {
  const uint32_t header = headerBytes(kind);
  const uint32_t pixels = height * bitmapStride(kind, width);
  std::memset(file, 0, kPlainHeaderBytes);
  file[0] = 'B';
  file[1] = 'M';
  putLe32(file + kFileSizeOffset, header + pixels);
  putLe32(file + kPixelOffsetOffset, header);
  writeInfoSize(file, width, height);
  putLe16(file + 26, 1);
  putLe16(file + 28, bitsPerPixel(kind));
  putLe32(file + 34, pixels);
  uint8_t* palette = file + kPlainHeaderBytes;
  if (kind == PixelKind::Binary) {
    static const uint8_t kBlackWhite[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    std::memcpy(palette, kBlackWhite, sizeof kBlackWhite);
  } else if (kind == PixelKind::Grey) {
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = v;
      palette[4 * i + 3] = 0;
    }
  }
  return header;
}

void writeCompressedHeader(uint8_t* file, uint32_t width, uint32_t height) {
  std::memset(file, 0, kPlainHeaderBytes);
  file[0] = 'J';
  file[1] = 'P';
  putLe32(file + kPixelOffsetOffset, kPlainHeaderBytes);
  writeInfoSize(file, width, height);
}

}  // namespace vel
