#include "image/BmpFile.h"


#include "base/LittleEndian.h"
#include "image/BitmapFormat.h"

namespace vel {

uint32_t bmpStride(uint32_t width, uint32_t bitsPerPixel) {
  return static_cast<uint32_t>((uint64_t{width} * bitsPerPixel + 31) / 32 * 4);
}

bool readBmpLayout(const uint8_t* f, size_t bytes, BmpLayout& l) {
  if (!f || bytes < kBmpFileHeaderBytes + 12 || f[0] != 'B' || f[1] != 'M') return false;
  l = {};
  l.fileSize = getLe32(f + 2);
  l.pixelOffset = getLe32(f + 10);
  l.infoSize = getLe32(f + 14);
  const uint8_t* info = f + kBmpFileHeaderBytes;
  if ((l.infoSize != 12 && l.infoSize != 40 && l.infoSize != 64) || kBmpFileHeaderBytes + l.infoSize > bytes)
    return false;
  int64_t width, height;
  uint16_t planes;
  uint32_t compression = 0;
  if (l.infoSize == 12) {
    width = getLe16(info + 4);
    height = static_cast<int16_t>(getLe16(info + 6));
    planes = getLe16(info + 8);
    l.bitsPerPixel = getLe16(info + 10);
    l.paletteEntryBytes = 3;
  } else {
    width = static_cast<int32_t>(getLe32(info + 4));
    height = static_cast<int32_t>(getLe32(info + 8));
    planes = getLe16(info + 12);
    l.bitsPerPixel = getLe16(info + 14);
    compression = getLe32(info + 16);
    l.imageSize = getLe32(info + 20);
    l.xPelsPerMeter = static_cast<int32_t>(getLe32(info + 24));
    l.yPelsPerMeter = static_cast<int32_t>(getLe32(info + 28));
    l.colorsUsed = getLe32(info + 32);
    l.paletteEntryBytes = 4;
  }
  if (width <= 0 || height <= 0 || planes != 1 || compression != 0) return false;
  if (l.bitsPerPixel != 1 && l.bitsPerPixel != 8 && l.bitsPerPixel != 24) return false;
  l.width = static_cast<uint32_t>(width);
  l.height = static_cast<uint32_t>(height);
  if (l.bitsPerPixel <= 8) {
    const uint32_t most = 1u << l.bitsPerPixel;
    l.paletteEntries = l.colorsUsed ? l.colorsUsed : most;
    if (l.paletteEntries > most) return false;
  }
  l.stride = bmpStride(l.width, l.bitsPerPixel);
  const uint64_t paletteEnd = kBmpFileHeaderBytes + l.infoSize + uint64_t{l.paletteEntries} * l.paletteEntryBytes;
  const uint64_t rowsEnd = uint64_t{l.pixelOffset} + uint64_t{l.stride} * l.height;
  return l.pixelOffset >= paletteEnd && rowsEnd <= bytes;
}

std::vector<uint8_t> makeGreyBmp(uint32_t width, uint32_t height, int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
  const uint64_t bytes = bitmapFileSize(PixelKind::Grey, width, height);
  if (width == 0 || height == 0 || bytes > kMaxBmpFileBytes) return {};
  std::vector<uint8_t> file(static_cast<size_t>(bytes));
  writeBitmapHeader(file.data(), PixelKind::Grey, width, height);
  putLe32(&file[38], static_cast<uint32_t>(xPelsPerMeter));
  putLe32(&file[42], static_cast<uint32_t>(yPelsPerMeter));
  putLe32(&file[46], 256);  // colours used
  return file;
}

}  // namespace vel
