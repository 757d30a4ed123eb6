// The timestamp record built from options and a time, and the timestamp drawn into
// 8- and 24-bit bottom-up bitmaps, read back as pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "image/TimestampDrawing.h"
#include "image/TimestampRecord.h"
#include "platform/Files.h"

namespace vel {
namespace {

constexpr platform::LocalTime kSeptember14{2005, 9, 14, 10, 20, 30};

DeviceConfiguration options(uint8_t location, uint8_t dateFormat, bool dateOnly, uint8_t color = 0) {
  DeviceConfiguration c{};
  c.timestampLocation = location;
  c.timestampDateFormat = dateFormat;
  c.timestampDateOnly = dateOnly ? 1 : 0;
  c.timestampColor = color;
  return c;
}

TimestampRecord record(uint8_t location, uint8_t dateFormat, bool dateOnly, uint8_t color = 0,
                       const platform::LocalTime& time = kSeptember14) {
  return makeTimestampRecord(options(location, dateFormat, dateOnly, color), {false, false, ".\\"}, 0, time);
}

struct Bitmap {
  int width, height, bits;
  size_t stride;
  std::vector<uint8_t> pixels;
  Bitmap(int w, int h, int b, uint8_t fill = 0x80)
      : width(w), height(h), bits(b), stride(((size_t(w) * b + 31) / 32) * 4), pixels(stride * h, fill) {}
  void draw(const TimestampRecord& r) { drawTimestamp(pixels.data(), pixels.size(), width, height, bits, r); }
  uint8_t at(int x, int row, int byte = 0) const { return pixels[size_t(row) * stride + size_t(x) * (bits / 8) + byte]; }
  // The picture between columns x0 and x0 + w, rows top..bottom as seen (top row
  // first): '#' 0x00, ' ' 0xFF, '?' anything else.
  std::vector<std::string> picture(int x0, int w, int topRow, int rows, int scale = 1) const {
    std::vector<std::string> out;
    for (int r = 0; r < rows; r += scale) {
      std::string line;
      for (int x = x0; x < x0 + w; x += scale) {
        const uint8_t v = at(x, topRow - r);
        line += v == 0x00 ? '#' : v == 0xFF ? ' ' : '?';
      }
      out.push_back(line);
    }
    return out;
  }
  size_t untouched() const {
    size_t n = 0;
    for (uint8_t v : pixels) n += v == 0x80;
    return n;
  }
};

const std::vector<std::string> kDate20050914 = {
    " ###  ###  ###  ###     ###  ###     #  # # ",
    "   #  # #  # #  #       # #  # #     #  # # ",
    " ###  # #  # #  ### ### # #  ### ### #  ### ",
    " #    # #  # #    #     # #    #     #    # ",
    " ###  ###  ###  ###     ###  ###     #    # ",
};

TEST(TimestampRecord, HoldsTheTimeAsStringPathAndDecimalDigits) {
  DeviceConfiguration c = options(2, 3, true, 5);
  c.imageCompressedQuality = 80;
  c.fwImageCompressedEnabled = 0xFF;
  c.timestampEnabled = 0xFE;  // only bit 0 counts
  c.imageSoftwareSubsampling = 4;
  c.optionFlags = 1u << kOptTriggerCameraMode;
  const TimestampRecord r = makeTimestampRecord(c, {true, false, "C:\\images\\"}, 7, kSeptember14);
  EXPECT_STREQ(r.timestamp, "2005-09-14 10-20-30");
  EXPECT_STREQ(r.autoSavePath, "C:\\images\\2005-09-14 10-20-30");
  const uint8_t digits[7] = {0x20, 0x05, 0x09, 0x14, 0x10, 0x20, 0x30};
  EXPECT_EQ(std::memcmp(r.timeDigits, digits, 7), 0);
  EXPECT_EQ(r.fixedValue, 3);
  EXPECT_EQ(r.color, 5);
  EXPECT_EQ(r.compressionQuality, 80);
  EXPECT_EQ(r.imageCompressionEnabled, 1);
  EXPECT_EQ(r.timestampEnabled, 0);
  EXPECT_EQ(r.dateOnly, 1);
  EXPECT_EQ(r.subsamplingFactor, 4);
  EXPECT_EQ(r.triggerCameraModeEnabled, 1);
  EXPECT_EQ(r.autoSaveEnabled, 1);
  EXPECT_EQ(r.hostPerspectiveCorrection, 0);
  EXPECT_EQ(r.refreshArgument, 7);
}

TEST(TimestampRecord, PlacementFollowsTheLocation) {
  const struct { uint8_t location; uint16_t vertical, horizontal; } cases[] = {
      {1, 0, 0}, {2, 0, 0xFFFF}, {3, 0xFFFF, 0xFFFF}, {4, 0xFFFF, 0}, {7, 0xFFFF, 0xFFFF}, {0, 0xFFFF, 0xFFFF}};
  for (const auto& c : cases) {
    const TimestampRecord r = record(c.location, 0, false);
    EXPECT_EQ(r.verticalPlacement, c.vertical) << int(c.location);
    EXPECT_EQ(r.horizontalPlacement, c.horizontal) << int(c.location);
  }
}

TEST(TimestampRecord, PathThatDoesNotFitIsLeftEmpty) {
  const std::string folder = std::string(236, 'f') + "\\";  // 237 + 19 characters need 257 bytes
  EXPECT_STREQ(makeTimestampRecord({}, {false, false, folder.c_str()}, 0, kSeptember14).autoSavePath, "");
  const std::string fits = std::string(235, 'f') + "\\";
  EXPECT_EQ(std::string(makeTimestampRecord({}, {false, false, fits.c_str()}, 0, kSeptember14).autoSavePath),
            fits + "2005-09-14 10-20-30");
}

TEST(TimestampRecord, RefreshTakesTheLocalTimeAndTheDefaultFolder) {
  auto format = [](std::time_t t) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H-%M-%S", std::localtime(&t));
    return std::string(text);
  };
  const std::string before = format(std::time(nullptr));
  refreshTimestampRecord(1);
  const std::string after = format(std::time(nullptr));
  const TimestampRecord r = timestampStore().snapshot();
  const std::string stamp = r.timestamp;
  EXPECT_TRUE(stamp == before || stamp == after) << stamp;
  // The default folder ".\\" joins with the platform's separator.
  EXPECT_EQ(std::string(timestampStore().autoSavePath()), std::string(".") + platform::kPathSeparator + stamp);
  EXPECT_EQ(timestampStore().timestampString(), std::string(stamp));
  EXPECT_EQ(r.refreshArgument, 1);
}

TEST(TimestampGlyphs, FollowTheDateFormat) {
  using G = std::vector<uint8_t>;
  EXPECT_EQ(timestampGlyphs(record(1, 3, true)), (G{2, 0, 0, 5, 10, 0, 9, 10, 1, 4}));
  EXPECT_EQ(timestampGlyphs(record(1, 0, true)), (G{0, 9, 10, 1, 4, 10, 2, 0, 0, 5}));
  EXPECT_EQ(timestampGlyphs(record(1, 1, true)), (G{1, 4, 10, 0, 9, 10, 2, 0, 0, 5}));
  EXPECT_EQ(timestampGlyphs(record(1, 2, true)), (G{0, 9, 10, 1, 4, 10, 0, 5}));
  EXPECT_EQ(timestampGlyphs(record(1, 2, false)), (G{0, 9, 10, 1, 4, 10, 0, 5, 11, 1, 0, 12, 2, 0, 12, 3, 0}));
  EXPECT_EQ(timestampGlyphs(record(1, 3, true, 0, {2026, 1, 2, 3, 4, 5})), (G{2, 0, 2, 6, 10, 0, 1, 10, 0, 2}));
  EXPECT_TRUE(timestampGlyphs(record(1, 4, true)).empty());
}

TEST(TimestampDrawing, ScaleFollowsTheWidth) {
  EXPECT_EQ(timestampScale(400), 1);
  EXPECT_EQ(timestampScale(425), 1);
  EXPECT_EQ(timestampScale(426), 3);
  EXPECT_EQ(timestampScale(640), 3);
  EXPECT_EQ(timestampScale(1279), 3);
  EXPECT_EQ(timestampScale(1280), 4);
}

TEST(TimestampDrawing, DateAtTheTopLeftOfAGreyImage) {
  Bitmap b(60, 12, 8);
  b.draw(record(1, 3, true));
  // 44 pixels wide, 5 rows ending one row below the top (stored rows 6..10).
  EXPECT_EQ(b.picture(0, 44, 10, 5), kDate20050914);
  EXPECT_EQ(b.untouched(), b.pixels.size() - 44 * 5);
}

TEST(TimestampDrawing, TimeAtTheBottomRightInWhiteOnBlack) {
  Bitmap b(100, 20, 8);
  b.draw(record(3, 2, false, 1));
  // MM-DD-YY HH:MM:SS: 17 glyphs, 7 of them narrow (separators, blank, both 1s): 71 pixels
  // against the right edge, rows 0..4.
  const int x = 100 - 71;
  EXPECT_EQ(b.at(x - 1, 0), 0x80);
  EXPECT_EQ(b.at(x, 0), 0x00);       // background is black now
  EXPECT_EQ(b.at(x + 1, 4), 0xFF);  // the top bar of the 0 of "09"
  EXPECT_EQ(b.at(99, 5), 0x80);
  EXPECT_EQ(b.untouched(), b.pixels.size() - 71 * 5);
}

TEST(TimestampDrawing, ScaledIntoATwentyFourBitImageAsGreyPixels) {
  Bitmap b(640, 40, 24);
  b.draw(record(4, 3, true));
  // Scale 3: 132 x 15 pixels from the bottom-left corner; each pixel's three bytes alike.
  std::vector<std::string> seen = b.picture(0, 132, 14, 15, 3);
  EXPECT_EQ(seen, kDate20050914);
  for (int row = 0; row < 15; ++row)
    for (int x = 0; x < 132; ++x) {
      ASSERT_EQ(b.at(x, row, 1), b.at(x, row, 0)) << x << "," << row;
      ASSERT_EQ(b.at(x, row, 2), b.at(x, row, 0)) << x << "," << row;
    }
  EXPECT_EQ(b.at(132, 0, 0), 0x80);
  EXPECT_EQ(b.at(0, 15, 0), 0x80);
}

TEST(TimestampDrawing, DrawsNothingWhereItCannotFit) {
  Bitmap narrow(43, 20, 8);
  narrow.draw(record(1, 3, true));
  EXPECT_EQ(narrow.untouched(), narrow.pixels.size());

  Bitmap exact(60, 5, 8);  // room for the rows, not for the row kept free above them
  exact.draw(record(1, 3, true));
  EXPECT_EQ(exact.untouched(), exact.pixels.size());
  exact.draw(record(4, 3, true));  // at the bottom it fits
  EXPECT_EQ(exact.untouched(), exact.pixels.size() - 44 * 5);

  Bitmap small(60, 12, 8);
  drawTimestamp(small.pixels.data(), small.pixels.size() - 1, 60, 12, 8, record(1, 3, true));
  drawTimestamp(small.pixels.data(), small.pixels.size(), 60, 12, 16, record(1, 3, true));
  drawTimestamp(small.pixels.data(), small.pixels.size(), 60, 12, 8, record(1, 9, true));
  EXPECT_EQ(small.untouched(), small.pixels.size());
}

}  // namespace
}  // namespace vel
