// The bitmap images the shared buffers hold: header sizes and strides, binary
// runs packed into bottom-up rows, and the colour image built from a Bayer
// mosaic (phases, interpolation of flat colour fields, the last pixel's green,
// the HSV adjustment).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "base/LittleEndian.h"
#include "image/BinaryRows.h"
#include "image/BitmapFormat.h"
#include "image/ColourRows.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BitmapFormat, BinaryStrideAndFileSize) {
  EXPECT_EQ(vel::bitmapStride(vel::PixelKind::Binary, 1280), 160u);
  EXPECT_EQ(vel::bitmapFileSize(vel::PixelKind::Binary, 1280, 1024), 163902u);
  EXPECT_EQ(vel::bitmapStride(vel::PixelKind::Binary, 104), 16u);  // 13 data bytes, padded
  EXPECT_EQ(vel::bitmapStride(vel::PixelKind::Grey, 101), 104u);
  EXPECT_EQ(vel::bitmapStride(vel::PixelKind::Colour, 5), 16u);
  EXPECT_EQ(vel::bitmapFileSize(vel::PixelKind::Grey, 640, 480), 1078u + 640 * 480);
}

TEST(BitmapFormat, HeadersCarryTheirFields) {
  Bytes file(1078);
  EXPECT_EQ(vel::writeBitmapHeader(file.data(), vel::PixelKind::Grey, 101, 3), 1078u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(vel::getLe32(&file[2]), 1078u + 3 * 104);
  EXPECT_EQ(vel::getLe32(&file[10]), 1078u);
  EXPECT_EQ(vel::getLe32(&file[18]), 101u);
  EXPECT_EQ(vel::getLe32(&file[22]), 3u);
  EXPECT_EQ(vel::getLe16(&file[28]), 8u);
  EXPECT_EQ(vel::getLe32(&file[34]), 3u * 104);
  EXPECT_EQ(file[54 + 4 * 200], 200);
  EXPECT_EQ(file[54 + 4 * 200 + 3], 0);

  EXPECT_EQ(vel::writeBitmapHeader(file.data(), vel::PixelKind::Binary, 16, 2), 62u);
  EXPECT_EQ(vel::getLe32(&file[2]), 62u + 2 * 4);
  EXPECT_EQ(vel::getLe16(&file[28]), 1u);
  EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 62), (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}));

  vel::writeCompressedHeader(file.data(), 640, 480);
  EXPECT_EQ(file[0], 'J');
  EXPECT_EQ(file[1], 'P');
  EXPECT_EQ(vel::getLe32(&file[2]), 0u);
  EXPECT_EQ(vel::getLe32(&file[10]), 54u);
  EXPECT_EQ(vel::getLe32(&file[14]), 40u);
  EXPECT_EQ(vel::getLe32(&file[18]), 640u);
  EXPECT_EQ(vel::getLe32(&file[28]), 0u);
}

// 24 x 2 pixels with stride 4: the first received row is the last bitmap row;
// runs cross byte and row boundaries.
TEST(BinaryRows, RunsFillBottomUpRowsMostSignificantBitFirst) {
  Bytes pixels(2 * 4, 0xAA);
  vel::BinaryRows rows;
  rows.begin(pixels.data(), 24, 2, 4);
  rows.run(3, 1);   // 111
  rows.run(6, 0);   // 00000 | 0
  rows.run(20, 1);  // 1111111 1111 | 1111 1111 1
  rows.run(19, 0);
  EXPECT_EQ(rows.bytesStored(), 6u);
  EXPECT_EQ(Bytes(pixels.begin() + 4, pixels.begin() + 7), (Bytes{0xE0, 0x7F, 0xFF}));
  EXPECT_EQ(Bytes(pixels.begin(), pixels.begin() + 3), (Bytes{0xF8, 0x00, 0x00}));
  EXPECT_EQ(pixels[7], 0xAA);  // padding untouched
}

// The mosaic of a flat colour field as a sensor with this first phase samples it.
Bytes flatMosaic(uint32_t w, uint32_t h, int firstPhase, uint8_t red, uint8_t green, uint8_t blue) {
  Bytes mosaic;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const int phase = firstPhase ^ static_cast<int>((y & 1) * 2) ^ static_cast<int>(x & 1);
      mosaic.push_back(phase == 1 ? red : phase == 2 ? blue : green);
    }
  return mosaic;
}

struct Colour {
  uint8_t b, g, r;
  bool operator==(const Colour& o) const { return b == o.b && g == o.g && r == o.r; }
};

std::vector<Colour> build(const Bytes& mosaic, uint32_t w, uint32_t h, int phase, const vel::HsvAdjustment& hsv,
                          size_t piece) {
  const uint32_t stride = vel::bitmapStride(vel::PixelKind::Colour, w);
  Bytes pixels(size_t{h} * stride, 0x5A);  // what a previous image left
  vel::ColourRows rows;
  rows.begin(pixels.data(), w, h, stride, phase, hsv);
  for (size_t at = 0; at < mosaic.size(); at += piece)
    rows.put(mosaic.data() + at, std::min(piece, mosaic.size() - at));
  rows.finish();
  std::vector<Colour> out;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = &pixels[size_t{h - 1 - y} * stride + 3 * x];
      out.push_back(Colour{p[0], p[1], p[2]});
    }
  return out;
}

// Interpolating a flat field gives its colour everywhere, whatever the phase,
// the size (odd sizes end on a red or blue last pixel) and the pieces.
TEST(ColourRows, AFlatFieldComesOutFlatInEveryPhase) {
  for (int phase = 0; phase < 4; ++phase)
    for (uint32_t w : {4u, 5u, 7u})
      for (uint32_t h : {3u, 4u, 5u}) {
        const Bytes mosaic = flatMosaic(w, h, phase, 200, 100, 40);
        const auto image = build(mosaic, w, h, phase, {}, 3);
        for (size_t i = 0; i < image.size(); ++i)
          ASSERT_EQ(image[i], (Colour{40, 100, 200})) << "phase " << phase << " " << w << "x" << h << " pixel " << i;
      }
}

// A wrong phase would swap the channels of the flat field.
TEST(ColourRows, PhaseComesFromRotationAndWindowY) {
  EXPECT_EQ(vel::firstBayerPhase(0, 0), 2);
  EXPECT_EQ(vel::firstBayerPhase(90, 0), 3);
  EXPECT_EQ(vel::firstBayerPhase(180, 0), 1);
  EXPECT_EQ(vel::firstBayerPhase(270, 0), 0);
  EXPECT_EQ(vel::firstBayerPhase(45, 0), 2);
  EXPECT_EQ(vel::firstBayerPhase(180, 7), 3);  // green, then blue
  const Bytes mosaic = flatMosaic(6, 4, 3, 220, 90, 10);
  EXPECT_EQ(mosaic[0], 90);
  EXPECT_EQ(mosaic[1], 10);
  EXPECT_EQ(build(mosaic, 6, 4, vel::firstBayerPhase(180, 7), {}, 64)[9], (Colour{10, 90, 220}));
}

// An image without columns takes no samples: nothing is written.
TEST(ColourRows, AnImageWithoutColumnsWritesNothing) {
  Bytes pixels(8, 0x5A);
  vel::ColourRows rows;
  rows.begin(pixels.data(), 0, 3, 0, 2, vel::hsvAdjustment(true, 64, 256, 256));
  const Bytes mosaic(20, 7);
  rows.put(mosaic.data(), mosaic.size());
  rows.finish();
  EXPECT_EQ(pixels, Bytes(8, 0x5A));
}

TEST(ColourRows, AverageOfTwoGreenNeighbours) {
  // Phase 2: blue at (0,0); its green comes from right (1,0) and down (0,1).
  Bytes mosaic = flatMosaic(4, 4, 2, 0, 0, 0);
  mosaic[1] = 100;  // (1,0) green
  mosaic[4] = 50;   // (0,1) green
  EXPECT_EQ(build(mosaic, 4, 4, 2, {}, 16)[0].g, 75);
}

TEST(HsvAdjustment, IdentityValuesAreOff) {
  EXPECT_FALSE(vel::hsvAdjustment(true, 0, 256, 256).on);
  EXPECT_FALSE(vel::hsvAdjustment(false, 64 * 90, 512, 100).on);
  EXPECT_TRUE(vel::hsvAdjustment(true, 64, 256, 256).on);
}

TEST(HsvAdjustment, ShiftsHueScalesSaturationAndValue) {
  uint8_t red[3] = {0, 0, 255};  // blue, green, red
  vel::adjustPixel(red, vel::hsvAdjustment(true, 120 * 64, 256, 256));
  EXPECT_EQ(Colour({red[0], red[1], red[2]}), (Colour{0, 255, 0}));

  uint8_t colour[3] = {40, 100, 200};
  vel::adjustPixel(colour, vel::hsvAdjustment(true, 0, 0, 128));  // grey at half value
  EXPECT_EQ(Colour({colour[0], colour[1], colour[2]}), (Colour{100, 100, 100}));

  // A shift of more than a turn wraps whole: -480 degrees is -120.
  uint8_t green[3] = {0, 255, 0};
  vel::adjustPixel(green, vel::hsvAdjustment(true, -480 * 64, 256, 256));
  EXPECT_EQ(Colour({green[0], green[1], green[2]}), (Colour{0, 0, 255}));
}

TEST(HsvAdjustment, AppliedToEveryRowOfTheImage) {
  const Bytes mosaic = flatMosaic(6, 5, 1, 255, 0, 0);
  for (const Colour& c : build(mosaic, 6, 5, 1, vel::hsvAdjustment(true, 240 * 64, 256, 256), 7))
    ASSERT_EQ(c, (Colour{255, 0, 0}));
}

}  // namespace

namespace {

// The interpolation rules written out on a plain (x, y) grid, one sample at a
// time, to hold the built image to: any mosaic, any piece size.
std::vector<Colour> referenceBuild(const Bytes& mosaic, int w, int h, int firstPhase) {
  std::vector<std::array<int, 3>> p(size_t(w) * h, {0x5A, 0x5A, 0x5A});  // blue, green, red
  auto K = [&](int x, int y) -> std::array<int, 3>& { return p[size_t(y) * w + x]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = mosaic[size_t(y) * w + x];
      const int phase = firstPhase ^ ((y & 1) * 2) ^ (x & 1);
      if (phase == 0 || phase == 3) {
        K(x, y)[1] = v;
        if (y >= 1) {
          std::vector<int> n{v};
          if (y >= 2) n.push_back(K(x, y - 2)[1]);
          if (x >= 1) n.push_back(K(x - 1, y - 1)[1]);
          if (x + 1 < w) n.push_back(K(x + 1, y - 1)[1]);
          int sum = 0;
          for (int g : n) sum += g;
          K(x, y - 1)[1] = n.size() == 4 ? sum >> 2 : n.size() == 3 ? sum / 3 : n.size() == 2 ? sum >> 1 : sum;
        }
        if (y == h - 1 && h >= 3 && x >= 1)
          K(x - 1, y)[1] = x == 1 ? (K(0, y - 1)[1] + v) >> 1 : (K(x - 1, y - 1)[1] + K(x - 2, y)[1] + v) / 3;
        continue;
      }
      const int c = phase == 1 ? 2 : 0;
      K(x, y)[c] = v;
      if (x >= 1) K(x - 1, y)[c] = x >= 2 ? (K(x - 2, y)[c] + v) >> 1 : v;
      if (y >= 1) K(x, y - 1)[c] = y >= 2 ? (K(x, y - 2)[c] + v) >> 1 : v;
      if (x >= 2 && y >= 2) K(x - 1, y - 1)[c] = (K(x - 2, y - 2)[c] + K(x, y - 2)[c] + K(x - 2, y)[c] + v) >> 2;
      else if (x >= 2 && y == 1) K(x - 1, y - 1)[c] = (K(x - 2, y)[c] + v) >> 1;
      else if (x == 1 && y >= 2) K(x - 1, y - 1)[c] = (K(1, y - 2)[c] + v) >> 1;
      else if (x == 1 && y == 1) K(x - 1, y - 1)[c] = v;
      if (x == w - 2) {
        K(x + 1, y)[c] = v;
        if (y >= 1) K(x + 1, y - 1)[c] = v;
      }
      if (y == h - 2) {
        K(x, y + 1)[c] = v;
        if (x >= 1) K(x - 1, y + 1)[c] = K(x - 1, y)[c];
        if (x == w - 2) K(x + 1, y + 1)[c] = v;
      }
    }
  const int last = firstPhase ^ (((h - 1) & 1) * 2) ^ ((w - 1) & 1);
  if (last == 1 || last == 2) K(w - 1, h - 1)[1] = (K(w - 1, h - 2)[1] + K(w - 2, h - 1)[1]) >> 1;
  std::vector<Colour> out;
  for (const auto& c : p) out.push_back(Colour{uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])});
  return out;
}

TEST(ColourRows, EveryPixelFollowsTheInterpolationRules) {
  uint32_t seed = 12345;
  for (int phase = 0; phase < 4; ++phase)
    for (auto [w, h] : {std::pair<int, int>{9, 7}, {16, 12}, {33, 5}, {11, 9}, {12, 5}, {13, 6}, {20, 7}, {67, 9},
                        {36, 6}, {37, 5}, {38, 7}, {69, 8}, {100, 6},
                        {2, 3}, {2, 4}, {3, 3}, {12, 3}, {19, 4}})
      for (size_t piece : {size_t{1}, size_t{7}, size_t{13}, size_t{4096}}) {
        Bytes mosaic(size_t(w) * h);
        for (uint8_t& v : mosaic) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        ASSERT_EQ(build(mosaic, w, h, phase, {}, piece), referenceBuild(mosaic, w, h, phase))
            << "phase " << phase << " " << w << "x" << h << " pieces of " << piece;
      }
}

}  // namespace

namespace {

// The adjustments the row adjustment is held to: the configuration's default
// units, hue shifts of whole sectors and of less, negative and beyond a turn,
// saturation and value to zero and to their largest, and those whose exact
// results often fall on a half (value 1/2, a 30 degree shift at unit scale).
const std::vector<std::array<int, 3>> kAdjustments = {
    {640, 300, 280},  {1920, 256, 256}, {0, 256, 128},     {-30720, 256, 256}, {32767, 65535, 65535},
    {-32768, 0, 1},   {1, 255, 257},    {7680, 512, 200},  {-1, 100, 400},     {12345, 333, 222},
    {0, 0, 256},      {100, 256, 0},    {3840, 1, 65535},  {-7, 65535, 3},     {23040, 256, 255}};

// Rows of pixels adjusted by HsvRows, four and (where the processor can) eight
// at a time, against adjustPixel one pixel at a time.
void expectRowsAsPixels(const Bytes& input, const vel::HsvAdjustment& hsv, size_t row) {
  Bytes expected = input;
  for (size_t i = 0; i < expected.size(); i += 3) vel::adjustPixel(&expected[i], hsv);
  for (bool wide : {false, true}) {
    Bytes pixels = input;
    const vel::HsvRows rows(hsv, wide);
    const size_t count = pixels.size() / 3;
    for (size_t at = 0; at < count; at += row) rows.adjust(&pixels[3 * at], std::min(row, count - at));
    for (size_t i = 0; i < pixels.size(); i += 3)
      ASSERT_TRUE(std::equal(&pixels[i], &pixels[i] + 3, &expected[i]))
          << "input b,g,r " << int(input[i]) << "," << int(input[i + 1]) << "," << int(input[i + 2]) << " wide "
          << wide;
  }
}

TEST(HsvRows, EveryColourAsAdjustPixelGivesIt) {
  // All 2^24 colours under an adjustment whose maximum rounds some halves down,
  // in rows of odd length.
  Bytes all(size_t{3} << 24);
  for (uint32_t c = 0; c < (1u << 24); ++c) {
    all[3 * c] = uint8_t(c);
    all[3 * c + 1] = uint8_t(c >> 8);
    all[3 * c + 2] = uint8_t(c >> 16);
  }
  expectRowsAsPixels(all, vel::hsvAdjustment(true, 640, 300, 280), 1279);
}

TEST(HsvRows, SampledColoursAsAdjustPixelGivesThem) {
  // Random colours, and the greys and two-equal-channel colours that sit on
  // the sector boundaries, under each adjustment; rows of 1 to 67 pixels.
  uint32_t seed = 99;
  for (const auto& a : kAdjustments) {
    const vel::HsvAdjustment hsv = vel::hsvAdjustment(true, int16_t(a[0]), uint16_t(a[1]), uint16_t(a[2]));
    ASSERT_TRUE(hsv.on);
    Bytes pixels;
    for (int i = 0; i < 60000; ++i) pixels.push_back(uint8_t((seed = seed * 1103515245 + 12345) >> 16));
    for (int u = 0; u < 256; u += 3)
      for (int v = 0; v < 256; ++v)
        for (const auto& c : {std::array<int, 3>{u, u, v}, {u, v, u}, {v, u, u}}) pixels.insert(pixels.end(), c.begin(), c.end());
    SCOPED_TRACE("hue " + std::to_string(a[0]) + " saturation " + std::to_string(a[1]) + " value " +
                 std::to_string(a[2]));
    for (size_t row : {size_t{1}, size_t{5}, size_t{67}}) expectRowsAsPixels(pixels, hsv, row);
  }
  // Adjustments outside the configuration's units take the per-pixel path.
  vel::HsvAdjustment odd;
  odd.on = true;
  odd.hue = 0.3;
  odd.saturation = 1.0 / 3;
  odd.value = 1.7;
  Bytes random(3 * 3000);
  for (uint8_t& v : random) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
  expectRowsAsPixels(random, odd, 7);
}

// The built image with an adjustment is the plain build adjusted pixel by pixel:
// every row adjusted once, including the last two and those of short images.
TEST(ColourRows, AdjustedImageIsThePlainImageAdjusted) {
  uint32_t seed = 7;
  const vel::HsvAdjustment hsv = vel::hsvAdjustment(true, 1920, 256, 256);
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {2, 2}, {3, 3}, {67, 9}, {5, 70}})
    for (size_t piece : {size_t{1}, size_t{13}, size_t{4096}}) {
      Bytes mosaic(size_t{w} * h);
      for (uint8_t& v : mosaic) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
      std::vector<Colour> expected = build(mosaic, w, h, 1, {}, piece);
      for (Colour& c : expected) {
        uint8_t p[3] = {c.b, c.g, c.r};
        vel::adjustPixel(p, hsv);
        c = Colour{p[0], p[1], p[2]};
      }
      ASSERT_EQ(build(mosaic, w, h, 1, hsv, piece), expected) << w << "x" << h << " pieces of " << piece;
    }
}

}  // namespace
