// Helpers of the image file tests: a scratch folder, files read and written whole,
// bitmaps of known pixels, a JPEG stream laid out as the imager sends it (an EXIF
// APP1 block with the unset capture date first), and a walker of JPEG markers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/LittleEndian.h"
#include "image/BmpFile.h"
#include "image/JpegCodec.h"

namespace imagetest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A fresh folder of its own, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / ("vel-" + std::string(info ? info->name() : "scratch") + "-" +
                                         std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Grey level of pixel (x, y), y counted from the top: smooth gradients with a
// pattern, so that a JPEG of it stays close to it.
inline uint8_t greyAt(uint32_t x, uint32_t y) { return static_cast<uint8_t>((x * 3 + y * 2) % 256); }

// An 8-bit grey bitmap of the pattern above.
inline Bytes greyBitmap(uint32_t width, uint32_t height, int32_t pelsPerMeter = 0) {
  Bytes bmp = vel::makeGreyBmp(width, height, pelsPerMeter, pelsPerMeter);
  const uint32_t stride = vel::bmpStride(width, 8);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) bmp[vel::kBmpGreyPixelOffset + size_t{stride} * (height - 1 - y) + x] = greyAt(x, y);
  return bmp;
}

// A 24-bit bitmap: red grows to the right, green downwards, blue constant.
inline Bytes colourBitmap(uint32_t width, uint32_t height) {
  const uint32_t stride = vel::bmpStride(width, 24);
  Bytes bmp(54 + size_t{stride} * height);
  bmp[0] = 'B';
  bmp[1] = 'M';
  vel::putLe32(&bmp[2], static_cast<uint32_t>(bmp.size()));
  vel::putLe32(&bmp[10], 54);
  vel::putLe32(&bmp[14], 40);
  vel::putLe32(&bmp[18], width);
  vel::putLe32(&bmp[22], height);
  vel::putLe16(&bmp[26], 1);
  vel::putLe16(&bmp[28], 24);
  vel::putLe32(&bmp[34], stride * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &bmp[54 + size_t{stride} * (height - 1 - y) + 3 * x];
      p[0] = 0x40;                                      // blue
      p[1] = static_cast<uint8_t>(y * 255 / height);    // green
      p[2] = static_cast<uint8_t>(x * 255 / width);     // red
    }
  return bmp;
}

// The imager's EXIF block: a little-endian TIFF structure whose IFD0 holds the
// copyright text (ending in the maker's name) and a pointer to the EXIF IFD, whose
// capture date (tag 0x9003) is 19 blanks, stored right after the copyright text.
inline Bytes imagerApp1() {
  const std::string copyright = "Copyright (C) 2005 Velmora";
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](uint16_t v) { tiff.push_back(v & 0xFF), tiff.push_back(v >> 8); };
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) tiff.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  const uint32_t ifd0 = 8, exifIfd = ifd0 + 2 + 2 * 12 + 4, text = exifIfd + 2 + 12 + 4;
  const uint32_t date = text + static_cast<uint32_t>(copyright.size()) + 1;
  u16(2);
  u16(0x8298), u16(2), u32(static_cast<uint32_t>(copyright.size() + 1)), u32(text);  // Copyright
  u16(0x8769), u16(4), u32(1), u32(exifIfd);                                        // EXIF IFD
  u32(0);
  u16(1);
  u16(0x9003), u16(2), u32(20), u32(date);  // DateTimeOriginal
  u32(0);
  tiff.insert(tiff.end(), copyright.begin(), copyright.end());
  tiff.push_back(0);
  tiff.insert(tiff.end(), 19, ' ');
  tiff.push_back(0);
  static const uint8_t kHead[10] = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  Bytes app1(sizeof kHead + tiff.size());
  std::copy(kHead, kHead + sizeof kHead, app1.begin());
  std::copy(tiff.begin(), tiff.end(), app1.begin() + sizeof kHead);
  const size_t length = app1.size() - 2;
  app1[2] = static_cast<uint8_t>(length >> 8);
  app1[3] = static_cast<uint8_t>(length);
  return app1;
}

// A JPEG of the grey pattern as the imager sends it: SOI, its APP1 block, then the
// rest of a baseline compression.
inline Bytes imagerJpeg(uint32_t width, uint32_t height) {
  const Bytes bmp = greyBitmap(width, height);
  Bytes jpeg;
  EXPECT_TRUE(vel::compressBmp(bmp.data(), bmp.size(), 75, vel::JpegHeader::kNormal, jpeg));
  const Bytes app1 = imagerApp1();
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  return jpeg;
}

// A stream with stray bytes between its first segment after SOI (the imager's
// APP1 block, or a JFIF APP0) and the next marker: a decoder warns of extraneous
// data and decodes the picture whole.
inline Bytes withStrayBytes(Bytes jpeg) {
  const size_t app1End = 4 + (size_t{jpeg[4]} << 8 | jpeg[5]);
  const uint8_t stray[] = {0x00, 0x5A, 0xA5};
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(app1End), std::begin(stray), std::end(stray));
  return jpeg;
}

// The first half of a stream, closed by an EOI marker when asked: a picture that
// ends early.
inline Bytes firstHalf(const Bytes& jpeg, bool endMarker) {
  Bytes half(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2));
  if (endMarker) half.insert(half.end(), {0xFF, 0xD9});
  return half;
}

// The markers of a JPEG stream up to the start of scan, in order (0xD8 for SOI).
inline std::vector<uint8_t> markers(const Bytes& jpeg) {
  std::vector<uint8_t> found;
  size_t at = 0;
  while (at + 1 < jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    found.push_back(marker);
    if (marker == 0xD8) {
      at += 2;
      continue;
    }
    if (marker == 0xDA || at + 3 >= jpeg.size()) break;
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  return found;
}

// Pixel (x, y from the top) of an 8-bit bitmap file image.
inline uint8_t bmpPixel(const Bytes& bmp, uint32_t x, uint32_t y) {
  vel::BmpLayout l;
  if (!vel::readBmpLayout(bmp.data(), bmp.size(), l)) return 0;
  return bmp[l.pixelOffset + size_t{l.stride} * (l.height - 1 - y) + x * (l.bitsPerPixel / 8)];
}

}  // namespace imagetest
