// Bitmap layouts, JPEG compression and decompression in memory, the EXIF capture
// date and the stamped re-encoding, checked on bytes and decoded pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "ImageTestFiles.h"
#include "image/JpegExif.h"
#include "image/TimestampDrawing.h"

namespace {

using imagetest::Bytes;
using namespace vel;

TEST(BmpLayout, ReadsTheFieldsOfAGreyBitmap) {
  const Bytes bmp = imagetest::greyBitmap(641, 3, 2835);
  BmpLayout l;
  ASSERT_TRUE(readBmpLayout(bmp.data(), bmp.size(), l));
  EXPECT_EQ(l.width, 641u);
  EXPECT_EQ(l.height, 3u);
  EXPECT_EQ(l.bitsPerPixel, 8);
  EXPECT_EQ(l.pixelOffset, 1078u);
  EXPECT_EQ(l.stride, 644u);
  EXPECT_EQ(l.paletteEntries, 256u);
  EXPECT_EQ(l.xPelsPerMeter, 2835);
  EXPECT_EQ(bmp.size(), 1078u + 644 * 3);
  EXPECT_EQ(getLe32(&bmp[2]), bmp.size());
}

TEST(BmpLayout, RefusesEveryFieldOutOfRange) {
  const Bytes good = imagetest::greyBitmap(16, 4);
  const std::vector<std::pair<const char*, std::function<void(Bytes&)>>> faults = {
      {"signature", [](Bytes& b) { b[1] = 'A'; }},
      {"info size 20", [](Bytes& b) { putLe32(&b[14], 20); }},
      {"width 0", [](Bytes& b) { putLe32(&b[18], 0); }},
      {"negative width", [](Bytes& b) { putLe32(&b[18], 0xFFFFFFF0u); }},
      {"top-down rows", [](Bytes& b) { putLe32(&b[22], static_cast<uint32_t>(-4)); }},
      {"two planes", [](Bytes& b) { putLe16(&b[26], 2); }},
      {"4 bits", [](Bytes& b) { putLe16(&b[28], 4); }},
      {"32 bits", [](Bytes& b) { putLe16(&b[28], 32); }},
      {"run-length compression", [](Bytes& b) { putLe32(&b[30], 1); }},
      {"257 colours", [](Bytes& b) { putLe32(&b[46], 257); }},
      {"pixels inside the palette", [](Bytes& b) { putLe32(&b[10], 54 + 255 * 4); }},
      {"rows past the end", [](Bytes& b) { putLe32(&b[22], 5); }},
      {"pixel offset past the end", [](Bytes& b) { putLe32(&b[10], 0xFFFFFFF0u); }},
      {"huge width", [](Bytes& b) { putLe32(&b[18], 0x7FFFFFFF); }},
      {"cut in the header", [](Bytes& b) { b.resize(30); }},
  };
  BmpLayout l;
  ASSERT_TRUE(readBmpLayout(good.data(), good.size(), l));
  for (const auto& [name, spoil] : faults) {
    Bytes bad = good;
    spoil(bad);
    EXPECT_FALSE(readBmpLayout(bad.data(), bad.size(), l)) << name;
    Bytes jpeg;
    EXPECT_FALSE(compressBmp(bad.data(), bad.size(), 75, JpegHeader::kNormal, jpeg)) << name;
    EXPECT_TRUE(jpeg.empty()) << name;
  }
}

// The frame header's component count.
int components(const Bytes& jpeg) {
  for (size_t at = 0; at + 9 < jpeg.size(); ++at)
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0) return jpeg[at + 9];
  return -1;
}

double meanDifference(const Bytes& a, const Bytes& b, uint32_t width, uint32_t height) {
  double sum = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      sum += std::abs(int(imagetest::bmpPixel(a, x, y)) - int(imagetest::bmpPixel(b, x, y)));
  return sum / (double(width) * height);
}

TEST(JpegCodec, GreyBitmapRoundTripsThroughAThreeComponentJpeg) {
  const Bytes bmp = imagetest::greyBitmap(640, 480, 2835);
  Bytes jpeg, back;
  ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), 75, JpegHeader::kNormal, jpeg));
  EXPECT_EQ(imagetest::markers(jpeg).front(), 0xD8);
  EXPECT_EQ(imagetest::markers(jpeg)[1], 0xE0);  // JFIF
  EXPECT_EQ(components(jpeg), 3);
  // JFIF density: unit 2 (dots per centimetre), 2835 / 100 both ways.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&jpeg[6]), 4), "JFIF");
  EXPECT_EQ(jpeg[13], 2);
  EXPECT_EQ(jpeg[14] << 8 | jpeg[15], 28);
  EXPECT_EQ(jpeg[16] << 8 | jpeg[17], 28);

  ASSERT_TRUE(decompressToGreyBmp(jpeg.data(), jpeg.size(), back));
  BmpLayout l;
  ASSERT_TRUE(readBmpLayout(back.data(), back.size(), l));
  EXPECT_EQ(l.width, 640u);
  EXPECT_EQ(l.height, 480u);
  EXPECT_EQ(l.pixelOffset, 1078u);
  EXPECT_EQ(l.bitsPerPixel, 8);
  EXPECT_EQ(l.colorsUsed, 256u);
  EXPECT_EQ(l.xPelsPerMeter, 2800);
  EXPECT_EQ(getLe32(&back[2]), back.size());
  EXPECT_LT(meanDifference(bmp, back, 640, 480), 3.0);
}

TEST(JpegCodec, ColourBitmapDecodesToItsLuminance) {
  const Bytes bmp = imagetest::colourBitmap(320, 240);
  Bytes jpeg, back;
  ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), 90, JpegHeader::kNormal, jpeg));
  ASSERT_TRUE(decompressToGreyBmp(jpeg.data(), jpeg.size(), back));
  for (uint32_t y : {10u, 120u, 230u})
    for (uint32_t x : {10u, 160u, 310u}) {
      const double luminance = 0.299 * (x * 255 / 320) + 0.587 * (y * 255 / 240) + 0.114 * 0x40;
      EXPECT_NEAR(imagetest::bmpPixel(back, x, y), luminance, 4.0) << x << "," << y;
    }
}

TEST(JpegCodec, PaletteIndicesMustBeInThePalette) {
  Bytes bmp = imagetest::greyBitmap(8, 8);
  putLe32(&bmp[46], 16);  // 16 colours: indices up to 15
  Bytes jpeg;
  EXPECT_FALSE(compressBmp(bmp.data(), bmp.size(), 75, JpegHeader::kNormal, jpeg));
  std::fill(bmp.begin() + 1078, bmp.end(), 15);
  EXPECT_TRUE(compressBmp(bmp.data(), bmp.size(), 75, JpegHeader::kNormal, jpeg));
}

// The grey route (luminance and chroma planes) against the RGB rows: the same
// bytes for every edge case of the padding (widths and heights off the 8- and
// 16-pixel blocks, a single pixel), quality, header, density and palette size;
// a palette that is not the identity grey goes the RGB way and gives its bytes.
TEST(JpegCodec, GreyBitmapsGiveTheBytesOfTheirRgbRows) {
  struct Case {
    uint32_t width, height;
    int quality;
    JpegHeader header;
    int32_t pelsPerMeter;
  };
  const Case cases[] = {{1, 1, 75, JpegHeader::kNormal, 0},          {7, 3, 75, JpegHeader::kNormal, 0},
                        {17, 33, 90, JpegHeader::kNormal, 2835},     {33, 17, 50, JpegHeader::kContinuation, 0},
                        {16, 16, 75, JpegHeader::kNormal, 0},        {15, 16, 100, JpegHeader::kNormal, 0},
                        {16, 15, 1, JpegHeader::kContinuation, 0},   {1279, 1023, 75, JpegHeader::kNormal, 3937},
                        {1280, 1024, 75, JpegHeader::kNormal, 0},    {100, 9, 75, JpegHeader::kNormal, 0}};
  uint32_t seed = 12345;
  for (const Case& c : cases) {
    Bytes bmp = imagetest::greyBitmap(c.width, c.height, c.pelsPerMeter);
    // Noise in every third column: blocks with every coefficient in use.
    const uint32_t stride = bmpStride(c.width, 8);
    for (uint32_t y = 0; y < c.height; ++y)
      for (uint32_t x = 0; x < c.width; x += 3) {
        seed = seed * 1103515245u + 12345u;
        bmp[kBmpGreyPixelOffset + size_t{stride} * y + x] = static_cast<uint8_t>(seed >> 16);
      }
    Bytes grey, rgb;
    ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), c.quality, c.header, grey));
    ASSERT_TRUE(compressBmpThroughRgb(bmp.data(), bmp.size(), c.quality, c.header, rgb));
    EXPECT_TRUE(grey == rgb) << c.width << "x" << c.height << " quality " << c.quality;
  }

  Bytes small = imagetest::greyBitmap(40, 24);
  putLe32(&small[46], 16);  // an identity palette of 16 entries
  for (size_t i = kBmpGreyPixelOffset; i < small.size(); ++i) small[i] &= 0x0F;
  Bytes grey, rgb;
  ASSERT_TRUE(compressBmp(small.data(), small.size(), 75, JpegHeader::kNormal, grey));
  ASSERT_TRUE(compressBmpThroughRgb(small.data(), small.size(), 75, JpegHeader::kNormal, rgb));
  EXPECT_TRUE(grey == rgb);

  Bytes inverted = imagetest::greyBitmap(40, 24);
  for (int i = 0; i < 256; ++i)
    for (int channel = 0; channel < 3; ++channel) inverted[54 + 4 * i + channel] = static_cast<uint8_t>(255 - i);
  Bytes straight;
  ASSERT_TRUE(compressBmp(inverted.data(), inverted.size(), 75, JpegHeader::kNormal, grey));
  ASSERT_TRUE(compressBmpThroughRgb(inverted.data(), inverted.size(), 75, JpegHeader::kNormal, rgb));
  ASSERT_TRUE(compressBmp(imagetest::greyBitmap(40, 24).data(), inverted.size(), 75, JpegHeader::kNormal, straight));
  EXPECT_TRUE(grey == rgb);
  EXPECT_FALSE(grey == straight);
}

TEST(JpegCodec, OneBitBitmapsAreNotCompressed) {
  Bytes bmp = imagetest::greyBitmap(32, 2);
  putLe16(&bmp[28], 1);
  putLe32(&bmp[46], 2);
  Bytes jpeg;
  EXPECT_FALSE(compressBmp(bmp.data(), bmp.size(), 75, JpegHeader::kNormal, jpeg));
}

TEST(JpegCodec, ContinuationStreamHasNoSoiJfifOrAdobeMarker) {
  const Bytes bmp = imagetest::greyBitmap(64, 48);
  Bytes jpeg;
  ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), 75, JpegHeader::kContinuation, jpeg));
  ASSERT_GE(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xDB);  // the quantisation tables come first
  Bytes whole = {0xFF, 0xD8};
  whole.insert(whole.end(), jpeg.begin(), jpeg.end());
  const auto found = imagetest::markers(whole);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xD8), 1);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xE0), 0);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xEE), 0);
  Bytes back;
  EXPECT_TRUE(decompressToGreyBmp(whole.data(), whole.size(), back));
}

TEST(JpegCodec, QualityOutsideOneToHundredIsClamped) {
  const Bytes bmp = imagetest::greyBitmap(64, 48);
  Bytes low, high, back;
  ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), 0, JpegHeader::kNormal, low));
  ASSERT_TRUE(compressBmp(bmp.data(), bmp.size(), 255, JpegHeader::kNormal, high));
  EXPECT_LT(low.size(), high.size());
  EXPECT_TRUE(decompressToGreyBmp(high.data(), high.size(), back));
}

TEST(JpegCodec, CorruptTruncatedAndForeignStreamsFailWithoutOutput) {
  const Bytes good = imagetest::imagerJpeg(160, 120);
  Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes scrambled = good;
  for (size_t i = good.size() / 2; i < good.size() - 2; i += 7) scrambled[i] = static_cast<uint8_t>(i * 31);
  Bytes headerOnly(good.begin(), good.begin() + 200);
  const Bytes bmp = imagetest::greyBitmap(8, 8);
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"empty", {}},      {"one byte", {0xFF}},    {"a bitmap", bmp},        {"truncated", truncated},
      {"scrambled", scrambled}, {"header only", headerOnly}, {"SOI only", {0xFF, 0xD8}},
      {"cut, then EOI", imagetest::firstHalf(good, true)},
  };
  for (const auto& [name, input] : inputs) {
    Bytes out = {1, 2, 3};
    EXPECT_FALSE(decompressToGreyBmp(input.data(), input.size(), out)) << name;
    EXPECT_TRUE(out.empty()) << name;
  }
  Bytes out, stray;
  EXPECT_TRUE(decompressToGreyBmp(good.data(), good.size(), out));
  // Stray bytes before a marker are only a warning: the same picture.
  const Bytes strayStream = imagetest::withStrayBytes(good);
  EXPECT_TRUE(decompressToGreyBmp(strayStream.data(), strayStream.size(), stray));
  EXPECT_EQ(stray, out);
}

TimestampRecord september14(bool enabled = true, uint8_t quality = 75) {
  DeviceConfiguration c{};
  c.timestampEnabled = enabled;
  c.timestampLocation = 1;
  c.timestampDateFormat = 3;
  c.imageCompressedQuality = quality;
  return makeTimestampRecord(c, {false, false, ".\\"}, 1, {2005, 9, 14, 10, 20, 30});
}

size_t find(const Bytes& haystack, const std::string& needle) {
  return static_cast<size_t>(std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) -
                             haystack.begin());
}

TEST(ExifCaptureTime, ReplacesTheBlanksAfterTheMakerName) {
  Bytes jpeg = imagetest::imagerJpeg(64, 48);
  const Bytes before = jpeg;
  const size_t blanks = find(jpeg, std::string(19, ' '));
  ASSERT_LT(blanks, 512u);
  patchExifCaptureTime(jpeg.data(), jpeg.size(), september14());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&jpeg[blanks]), 20), std::string("2005:09:14 10:20:30") + '\0');
  // Nothing else changed.
  for (size_t i = 0; i < jpeg.size(); ++i) {
    if (i < blanks || i >= blanks + 19) {
      ASSERT_EQ(jpeg[i], before[i]) << i;
    }
  }
}

TEST(ExifCaptureTime, ChangesNothingWhenAPartIsMissing) {
  const TimestampRecord r = september14();
  auto unchanged = [&](Bytes stream, const char* name) {
    const Bytes before = stream;
    patchExifCaptureTime(stream.data(), stream.size(), r);
    EXPECT_EQ(stream, before) << name;
  };
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  // "Copyright" starting only after the first 512 bytes (texts of 100 'x' and a zero).
  Bytes late;
  for (int i = 0; i < 6; ++i) late.insert(late.end(), 100, 'x'), late.push_back(0);
  const Bytes tail = text(std::string("Copyright Velmora") + '\0' + std::string(19, ' ') + '\0');
  late.insert(late.end(), tail.begin(), tail.end());
  unchanged(late, "copyright after 512 bytes");
  unchanged(text(std::string("Copyright Other") + '\0' + std::string(19, ' ')), "no maker");
  unchanged(text(std::string("Copyright Velmora") + '\0' + std::string(18, ' ') + '\0'), "18 blanks");
  unchanged(text("Copyright Velmora"), "stream ends with the maker name");
  unchanged(text(std::string("Copyright Velmora") + '\0' + std::string(18, ' ')), "blanks cut by the end");
  unchanged({}, "empty");
  // The text may start anywhere in the first 512 bytes and run on past them.
  Bytes early(500, 'y');
  early.push_back(0);
  const Bytes found = text(std::string("zzzzzzzzzzzzzzzzzzzzCopyright Velmora") + '\0' + std::string(19, ' '));
  early.insert(early.end(), found.begin(), found.end());
  patchExifCaptureTime(early.data(), early.size(), r);
  EXPECT_EQ(find(early, "2005:09:14 10:20:30"), early.size() - 19);
}

TEST(ImagerHeader, IsSoiAndTheApp1SegmentWithinTheStream) {
  const Bytes jpeg = imagetest::imagerJpeg(32, 32);
  const Bytes app1 = imagetest::imagerApp1();
  EXPECT_EQ(imagerHeaderBytes(jpeg.data(), jpeg.size()), 2 + app1.size());
  Bytes overlong = jpeg;
  overlong[4] = 0xFF;  // APP1 length past the end
  overlong.resize(200);
  EXPECT_EQ(imagerHeaderBytes(overlong.data(), overlong.size()), 2u);
  const Bytes noApp1 = {0xFF, 0xD8, 0xFF, 0xDB, 0, 4, 0, 0};
  EXPECT_EQ(imagerHeaderBytes(noApp1.data(), noApp1.size()), 2u);
  const Bytes notJpeg = {'B', 'M', 0, 0};
  EXPECT_EQ(imagerHeaderBytes(notJpeg.data(), notJpeg.size()), 0u);
}

TEST(StampedJpeg, KeepsTheImagersApp1AndCarriesTheTimestamp) {
  const Bytes jpeg = imagetest::imagerJpeg(640, 480);
  Bytes stamped;
  ASSERT_TRUE(stampJpegStream(jpeg.data(), jpeg.size(), september14(), stamped));
  const Bytes app1 = imagetest::imagerApp1();
  ASSERT_GT(stamped.size(), 2 + app1.size() + 2);
  EXPECT_TRUE(std::equal(app1.begin(), app1.end(), stamped.begin() + 2));
  const auto found = imagetest::markers(stamped);
  ASSERT_GE(found.size(), 3u);
  EXPECT_EQ(found[0], 0xD8);
  EXPECT_EQ(found[1], 0xE1);
  EXPECT_EQ(found[2], 0xDB);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xD8), 1);
  EXPECT_EQ(std::count(found.begin(), found.end(), 0xE0), 0);

  // The decoded picture is the original with the timestamp drawn at the top left.
  Bytes original, expected, decoded;
  ASSERT_TRUE(decompressToGreyBmp(jpeg.data(), jpeg.size(), original));
  expected = original;
  ASSERT_TRUE(stampBitmap(expected.data(), expected.size(), september14()));
  ASSERT_TRUE(decompressToGreyBmp(stamped.data(), stamped.size(), decoded));
  size_t ink = 0, agree = 0, changed = 0;
  for (uint32_t y = 0; y < 480; ++y)
    for (uint32_t x = 0; x < 640; ++x) {
      const uint8_t want = imagetest::bmpPixel(expected, x, y);
      if (want == imagetest::bmpPixel(original, x, y)) continue;
      ++changed;
      ink += want == 0;
      agree += (imagetest::bmpPixel(decoded, x, y) < 128) == (want == 0);
    }
  // Text "2005-09-14 10:20:30" at scale 3 in the top rows: ink and background.
  EXPECT_GT(ink, 300u);
  EXPECT_GT(agree, changed * 95 / 100);
  EXPECT_LT(meanDifference(original, decoded, 640, 480), 6.0);
}

TEST(StampedJpeg, FailsOnAStreamThatDoesNotDecode) {
  Bytes jpeg = imagetest::imagerJpeg(64, 64);
  jpeg.resize(jpeg.size() / 2);
  Bytes out;
  EXPECT_FALSE(stampJpegStream(jpeg.data(), jpeg.size(), september14(), out));
  EXPECT_TRUE(out.empty());
}

TEST(StampedBitmap, DrawsOnlyIntoEightAndTwentyFourBitImages) {
  Bytes grey = imagetest::greyBitmap(400, 20);
  const Bytes before = grey;
  EXPECT_TRUE(stampBitmap(grey.data(), grey.size(), september14()));
  EXPECT_NE(grey, before);
  Bytes colour = imagetest::colourBitmap(400, 20);
  EXPECT_TRUE(stampBitmap(colour.data(), colour.size(), september14()));
  Bytes binary = imagetest::greyBitmap(64, 4);
  putLe16(&binary[28], 1);
  putLe32(&binary[46], 2);
  const Bytes binaryBefore = binary;
  EXPECT_FALSE(stampBitmap(binary.data(), binary.size(), september14()));
  EXPECT_EQ(binary, binaryBefore);
}

}  // namespace
