#include <string>

#include "imager/SceneJpeg.h"

namespace sim {

namespace {

constexpr uint16_t kAscii = 2;
constexpr uint16_t kLong = 4;
constexpr uint16_t kTagCopyright = 0x8298;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
const char kCopyright[] = "Copyright (c) Velmora";
constexpr size_t kDateBytes = 20;  // 19 characters and the zero

void le16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(std::vector<uint8_t>& out, uint32_t v) {
  le16(out, static_cast<uint16_t>(v));
  le16(out, static_cast<uint16_t>(v >> 16));
}
void entry(std::vector<uint8_t>& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  le16(out, tag);
  le16(out, type);
  le32(out, count);
  le32(out, value);
}

}  // namespace

// "Exif\0\0", then a little-endian TIFF structure: IFD0 (copyright, pointer to
// the Exif IFD), the Exif IFD (capture date), the copyright text and the blank
// date right behind it. Offsets count from the TIFF header.
std::vector<uint8_t> imagerExifBlock() {
  const uint32_t ifd0 = 8, ifd0Size = 2 + 2 * 12 + 4;
  const uint32_t exifIfd = ifd0 + ifd0Size, exifIfdSize = 2 + 12 + 4;
  const uint32_t copyright = exifIfd + exifIfdSize;
  const uint32_t copyrightBytes = sizeof kCopyright;
  const uint32_t date = copyright + copyrightBytes;

  std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
  le32(block, ifd0);
  le16(block, 2);
  entry(block, kTagCopyright, kAscii, copyrightBytes, copyright);
  entry(block, kTagExifIfd, kLong, 1, exifIfd);
  le32(block, 0);
  le16(block, 1);
  entry(block, kTagDateTimeOriginal, kAscii, kDateBytes, date);
  le32(block, 0);
  block.insert(block.end(), kCopyright, kCopyright + copyrightBytes);
  block.insert(block.end(), kDateBytes - 1, ' ');
  block.push_back(0);
  return block;
}

}  // namespace sim
