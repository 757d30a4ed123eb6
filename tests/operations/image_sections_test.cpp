// The binary and grey image sections on a memory stream: what they publish into
// the shared buffers, their acknowledgements and notifications, and every size
// the imager may get wrong (the section then publishes nothing; the stream stays
// in step where the rest of the section has a known length, else it is aborted).
#include <gtest/gtest.h>

#include <vector>

#include "MemoryStream.h"
#include "base/LittleEndian.h"
#include "image/BitmapFormat.h"
#include "operations/ImageSlots.h"
#include "operations/OperationResponse.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Post = std::pair<int, int>;  // percent, event

void put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class Callbacks : public vel::OperationCallbacks {
 public:
  bool shouldStop() override { return ++polls > stopAfterPolls; }
  void postProgress(int percent, vel::OperationEvent event) override { posts.emplace_back(percent, event); }
  void postConfigurationChanged(vel::ConfigurationChange) override {}
  std::vector<Post> posts;
  int polls = 0;
  int stopAfterPolls = 1 << 30;
};

struct Sections {
  explicit Sections(int sensorType = 0) : slots(vel::createImageSlots(callbacks, shared, configuration)) {
    slots->setSensorType(sensorType);
    slots->beginRun();
    shared.grey()[0] = 'X';  // no image yet
    shared.binary()[0] = 'X';
  }
  Callbacks callbacks;
  vel::SharedImages shared;
  vel::DeviceConfiguration configuration{};
  std::unique_ptr<vel::ImageSlots> slots;
};

// The colour byte and the runs in blocks of at most blockSize.
Bytes binarySection(uint8_t colour, const Bytes& runs, size_t blockSize) {
  Bytes out{colour};
  for (size_t at = 0; at < runs.size(); at += blockSize) {
    const size_t n = std::min(blockSize, runs.size() - at);
    put32(out, static_cast<uint32_t>(n));
    out.insert(out.end(), runs.begin() + static_cast<std::ptrdiff_t>(at), runs.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  return out;
}

// The rows of the published binary image, top row first.
std::vector<Bytes> binaryRows(vel::SharedImages& shared, uint32_t width, uint32_t height) {
  const uint32_t stride = vel::bitmapStride(vel::PixelKind::Binary, width);
  std::vector<Bytes> rows;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = shared.binary() + 62 + size_t{height - 1 - y} * stride;
    rows.emplace_back(row, row + width / 8);
  }
  return rows;
}

// Run byte 255 keeps the colour (255 + 10 white pixels), 254 toggles after 255
// pixels; a 104-pixel row has 13 bytes and stride 16.
TEST(BinarySection, RunBytesAndTheirColours) {
  Sections s;
  // 3 rows of 104: 265 white, 47 black (fills 312 = 3 x 104).
  MemoryStream stream(binarySection(1, {255, 9, 46}, 2));
  ASSERT_TRUE(s.slots->readBinarySection(stream, 104, 3, 2));
  EXPECT_EQ(stream.output, (Bytes{1, 1}));  // after the first block of 2, then the final byte
  EXPECT_EQ(vel::getLe32(s.shared.binary() + 2), 62u + 3 * 16);
  const auto rows = binaryRows(s.shared, 104, 3);
  EXPECT_EQ(rows[0], Bytes(13, 0xFF));
  EXPECT_EQ(rows[1], Bytes(13, 0xFF));
  Bytes last(13, 0x00);  // 57 more white: 7 bytes and one pixel
  for (int i = 0; i < 7; ++i) last[i] = 0xFF;
  last[7] = 0x80;
  EXPECT_EQ(rows[2], last);

  Sections t;
  MemoryStream toggled(binarySection(0, {254, 56}, 4096));  // 255 black then 57 white
  ASSERT_TRUE(t.slots->readBinarySection(toggled, 104, 3, 4096));
  const auto rows2 = binaryRows(t.shared, 104, 3);
  EXPECT_EQ(rows2[0], Bytes(13, 0x00));
  EXPECT_EQ(rows2[2][12], 0xFF);
  EXPECT_EQ(rows2[2][5], 0x01);  // pixel 255 of the image is the last of byte 31
}

TEST(BinarySection, ProgressEveryTwoPercentThenReady) {
  Sections s;
  Bytes runs;
  for (int i = 0; i < 100; ++i) runs.push_back(7);  // 100 runs of 8 pixels: one byte each
  MemoryStream stream(binarySection(0, runs, 4096));
  ASSERT_TRUE(s.slots->readBinarySection(stream, 80, 10, 4096));
  ASSERT_EQ(s.callbacks.posts.size(), 52u);
  EXPECT_EQ(s.callbacks.posts.front(), Post(0, vel::kEventBinaryImageProgress));
  EXPECT_EQ(s.callbacks.posts[1], Post(2, vel::kEventBinaryImageProgress));
  EXPECT_EQ(s.callbacks.posts[50], Post(100, vel::kEventBinaryImageProgress));
  EXPECT_EQ(s.callbacks.posts.back(), Post(100, vel::kEventBinaryImageReady));
  EXPECT_EQ(binaryRows(s.shared, 80, 10)[0], (Bytes{0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}));
}

// Sizes the library cannot take are followed to the section's end (the stream
// stays in step) and nothing is published.
TEST(BinarySection, BadSizesAreReadAndDropped) {
  struct Case {
    uint16_t width, height;
  };
  for (Case c : {Case{12, 4}, Case{0, 4}, Case{4, 2}, Case{1288, 1024}, Case{8, 50000}}) {
    Sections s;
    const uint32_t pixels = uint32_t{c.width} * c.height;
    Bytes runs(pixels / 255, 255);
    if (pixels % 255) runs.push_back(static_cast<uint8_t>(pixels % 255 - 1));
    Bytes input = pixels ? binarySection(1, runs, 64) : Bytes{1};
    input.push_back(0xEE);  // what follows the section
    MemoryStream stream(input);
    EXPECT_TRUE(s.slots->readBinarySection(stream, c.width, c.height, 64)) << c.width << "x" << c.height;
    EXPECT_TRUE(s.slots->rejected());
    EXPECT_FALSE(stream.failed());
    EXPECT_EQ(stream.position, input.size() - 1);
    EXPECT_EQ(s.shared.binary()[0], 'X');
  }
}

// Runs beyond the image end the section with their block, which is read to its
// end and acknowledged; the image is dropped. A block longer than the block size
// has no length to trust: the stream is aborted.
TEST(BinarySection, RunsBeyondTheImageEndTheSectionWithTheirBlock) {
  Sections s;
  Bytes input = binarySection(1, {7, 7, 254, 0}, 2);  // 16 pixels, then 255 + 1 into the 48 left of 8 x 8
  input.push_back(0xEE);                              // what follows the section
  MemoryStream stream(input);
  EXPECT_TRUE(s.slots->readBinarySection(stream, 8, 8, 2));
  EXPECT_TRUE(s.slots->rejected());
  EXPECT_FALSE(stream.failed());
  EXPECT_EQ(stream.position, input.size() - 1);
  EXPECT_EQ(stream.output, (Bytes{1, 1})) << "both blocks acknowledged";
  EXPECT_EQ(s.shared.binary()[0], 'X');

  Sections t;
  MemoryStream longBlock(binarySection(1, Bytes(10, 0), 10));  // a block longer than the block size
  EXPECT_FALSE(t.slots->readBinarySection(longBlock, 8, 10, 8));
  EXPECT_TRUE(longBlock.failed());
}

// A binary section cut by a read failure publishes nothing.
TEST(BinarySection, ACutSectionPublishesNothing) {
  Sections s;
  Bytes input = binarySection(1, Bytes(16, 7), 8);
  input.resize(input.size() - 3);
  MemoryStream stream(input);
  EXPECT_FALSE(s.slots->readBinarySection(stream, 16, 8, 8));
  EXPECT_EQ(s.shared.binary()[0], 'X');
}

TEST(BinarySection, AStopIsAcknowledgedWithZero) {
  Sections s;
  s.callbacks.stopAfterPolls = 1;
  MemoryStream stream(binarySection(1, Bytes(16, 7), 8));
  EXPECT_FALSE(s.slots->readBinarySection(stream, 16, 8, 8));
  EXPECT_EQ(stream.output, (Bytes{1, 0}));
  EXPECT_EQ(s.shared.binary()[0], 'X');
}

Bytes greyPixels(size_t n) {
  Bytes p;
  for (size_t i = 0; i < n; ++i) p.push_back(static_cast<uint8_t>(i * 7 + 3));
  return p;
}

// The pixels of the published grey image, top row first.
Bytes greyImage(vel::SharedImages& shared, uint32_t width, uint32_t height) {
  const uint32_t stride = vel::bitmapStride(vel::PixelKind::Grey, width);
  Bytes out;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = shared.grey() + 1078 + size_t{height - 1 - y} * stride;
    out.insert(out.end(), row, row + width);
  }
  return out;
}

TEST(GreySection, RawPiecesAreAcknowledgedAndPublished) {
  Sections s;
  const Bytes pixels = greyPixels(11 * 13);
  MemoryStream stream(pixels);
  ASSERT_TRUE(s.slots->readGreySection(stream, 11, 13, false, 143, 50));
  EXPECT_EQ(stream.output, (Bytes{1, 1, 1}));
  EXPECT_EQ(greyImage(s.shared, 11, 13), pixels);
  EXPECT_EQ(s.shared.greyDataSize(), 143u);
  EXPECT_FALSE(s.shared.compressed());
  EXPECT_EQ(s.callbacks.posts, (std::vector<Post>{{0, 5}, {34, 5}, {69, 5}, {100, 5}, {100, 8}}));
}

Bytes lengthPrefixed(const Bytes& data, size_t block) {
  Bytes out;
  for (size_t at = 0; at < data.size(); at += block) {
    const size_t n = std::min(block, data.size() - at);
    put32(out, static_cast<uint32_t>(n));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  put32(out, 0);
  return out;
}

// Up to 100 pixels travel in length-prefixed blocks.
TEST(GreySection, SmallImagesTravelInLengthPrefixedBlocks) {
  Sections s;
  const Bytes pixels = greyPixels(100);
  MemoryStream stream(lengthPrefixed(pixels, 30));
  ASSERT_TRUE(s.slots->readGreySection(stream, 10, 10, false, 100, 20));
  EXPECT_EQ(stream.position, stream.input.size());
  EXPECT_EQ(stream.output.size(), 7u);  // pieces 20+10, 20+10, 20+10, 10
  EXPECT_EQ(greyImage(s.shared, 10, 10), pixels);

  Sections t;  // more bytes than pixels: read to the end, dropped
  MemoryStream tooMany(lengthPrefixed(greyPixels(101), 30));
  EXPECT_TRUE(t.slots->readGreySection(tooMany, 10, 10, false, 100, 20));
  EXPECT_TRUE(t.slots->rejected());
  EXPECT_EQ(tooMany.position, tooMany.input.size());
  EXPECT_EQ(t.shared.grey()[0], 'X');
  EXPECT_EQ(t.callbacks.posts.back(), Post(100, vel::kEventAborted));
}

TEST(GreySection, CompressedImageBehindItsPseudoHeader) {
  Sections s;
  const Bytes stream1 = greyPixels(500);
  MemoryStream stream(stream1);
  ASSERT_TRUE(s.slots->readGreySection(stream, 640, 480, true, 500, 4096));
  const uint8_t* file = s.shared.grey();
  EXPECT_EQ(file[0], 'J');
  EXPECT_EQ(vel::getLe32(file + 18), 640u);
  EXPECT_EQ(Bytes(file + 54, file + 554), stream1);
  EXPECT_EQ(s.shared.greyDataSize(), 500u);
  EXPECT_TRUE(s.shared.compressed());
  EXPECT_EQ(vel::SharedImages::bitmapDataSize(file), 0);
}

// Quality 50 on a monochrome 640 x 480 image: (307,200 + 1078) x 78 / 1000 =
// 24,045 bytes expected; the data size is what arrived.
TEST(GreySection, QualitySizeValueEstimatesTheExpectedBytes) {
  EXPECT_EQ(vel::estimatedCompressedBytes(50, 640, 480, false), 24045u);
  EXPECT_EQ(vel::estimatedCompressedBytes(100, 10, 10, true), (300u + 1078) * 710 / 1000);
  Sections s;
  MemoryStream stream(lengthPrefixed(greyPixels(12000), 4096));
  ASSERT_TRUE(s.slots->readGreySection(stream, 640, 480, true, 50, 4096));
  EXPECT_EQ(s.callbacks.posts[1], Post(4096 * 100 / 24045, 5));
  EXPECT_EQ(s.shared.greyDataSize(), 12000u);

  // Quality 0 expects (307,200 + 1078) x 17 / 1000 = 5,240 bytes: more arrive,
  // and the percentage stops at 100.
  Sections t;
  MemoryStream more(lengthPrefixed(greyPixels(12000), 4096));
  ASSERT_TRUE(t.slots->readGreySection(more, 640, 480, true, 0, 4096));
  EXPECT_EQ(t.callbacks.posts[1], Post(78, 5));
  EXPECT_EQ(t.callbacks.posts[2], Post(100, 5));
  EXPECT_EQ(t.callbacks.posts[3], Post(100, 5));
}

// Sizes beyond the buffer: the stream is given up, nothing is published, the
// section fails with Aborted.
TEST(GreySection, SizesBeyondTheBufferAbortTheStream) {
  struct Case {
    uint16_t width, height;
    bool compressed;
    uint32_t size;
    Bytes input;
  };
  Bytes hugeBlock;
  put32(hugeBlock, 3932161);
  const Case cases[] = {
      {640, 480, true, 3932161, greyPixels(200)},          // size value beyond the buffer
      {640, 480, true, 0xFFFFFFF6u, greyPixels(200)},      // a quality read as a negative index
      {640, 480, true, 50, hugeBlock},                     // one block beyond the buffer
      {2100, 1900, false, 2100u * 1900, greyPixels(200)},  // more pixels than the buffer holds
  };
  for (const Case& c : cases) {
    Sections s;
    MemoryStream stream(c.input);
    EXPECT_FALSE(s.slots->readGreySection(stream, c.width, c.height, c.compressed, c.size, 4096));
    EXPECT_TRUE(stream.failed());
    EXPECT_EQ(s.shared.grey()[0], 'X');
    EXPECT_EQ(s.callbacks.posts.back(), Post(100, vel::kEventAborted));
  }
}

// Known lengths with sizes the library does not take: read, acknowledged, dropped.
TEST(GreySection, ImagesTooLargeForTheLibraryAreReadAndDropped) {
  struct Case {
    uint16_t width, height;
  };
  for (Case c : {Case{1281, 1024}, Case{0, 50}, Case{21, 62415}}) {
    Sections s(c.width == 21 ? 3 : 0);  // colour: 62,415 rows of 64 bytes overflow the buffer
    const uint32_t pixels = uint32_t{c.width} * c.height;
    Bytes input = pixels > 100 ? greyPixels(pixels) : lengthPrefixed(greyPixels(pixels), 64);
    MemoryStream stream(input);
    EXPECT_TRUE(s.slots->readGreySection(stream, c.width, c.height, false, pixels, 65536)) << c.width;
    EXPECT_FALSE(stream.failed());
    EXPECT_EQ(stream.position, input.size());
    EXPECT_TRUE(s.slots->rejected());
    EXPECT_EQ(s.shared.grey()[0], 'X');
  }
}

// A stopped transfer leaves the previous image, compressed or not.
TEST(GreySection, AStoppedTransferKeepsThePreviousImage) {
  for (bool compressed : {false, true}) {
    Sections s;
    MemoryStream first(greyPixels(300));
    ASSERT_TRUE(s.slots->readGreySection(first, 20, 15, compressed, 300, 100));
    const Bytes before(s.shared.grey(), s.shared.grey() + 1400);
    s.callbacks.stopAfterPolls = s.callbacks.polls + 1;
    MemoryStream second(Bytes(300, 0x77));
    EXPECT_FALSE(s.slots->readGreySection(second, 20, 15, compressed, 300, 100));
    EXPECT_EQ(second.output, (Bytes{1, 0}));
    EXPECT_EQ(Bytes(s.shared.grey(), s.shared.grey() + 1400), before);
    EXPECT_EQ(s.shared.greyDataSize(), 300u);
    EXPECT_EQ(s.callbacks.posts.back(), Post(100, vel::kEventAborted));
  }
}

TEST(GreySection, AColourSensorSendsAMosaic) {
  Sections s(2);
  s.configuration.imageRotationDegree = 180;  // phase 1: red first
  Bytes mosaic;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) mosaic.push_back(((x + y) & 1) ? 60 : (y & 1) ? 20 : 240);
  MemoryStream stream(lengthPrefixed(mosaic, 64));
  ASSERT_TRUE(s.slots->readGreySection(stream, 6, 4, false, 24, 4096));
  const uint8_t* file = s.shared.grey();
  EXPECT_EQ(vel::getLe16(file + 28), 24u);
  EXPECT_EQ(vel::getLe32(file + 2), 54u + 4 * 20);
  for (int i = 0; i < 24; ++i) {
    const uint8_t* p = file + 54 + (i / 6) * 20 + (i % 6) * 3;
    ASSERT_EQ(Bytes(p, p + 3), (Bytes{20, 60, 240})) << i;
  }
}

// The configuration's HSV adjustment on a flat field of RGB (200, 100, 40): the
// hue turned, saturation and value scaled (1/256), the result worked by hand from
// the rules; without the bit, or with identity values, the field stays as it is.
TEST(GreySection, AColourImageGetsTheConfiguredHsvAdjustment) {
  struct Case {
    bool enabled;
    int hueDegrees;
    uint16_t saturation, value;
    uint8_t r, g, b;
  } cases[] = {
      {true, 60, 256, 256, 140, 200, 40},  {true, 90, 256, 256, 60, 200, 40},  {true, 150, 256, 256, 40, 200, 180},
      {true, 200, 256, 256, 40, 87, 200},  {true, 270, 256, 256, 180, 40, 200}, {true, 330, 256, 256, 200, 40, 60},
      {true, 30, 384, 192, 150, 131, 0},   {true, 0, 256, 256, 200, 100, 40},   {false, 30, 384, 192, 200, 100, 40},
  };
  for (const Case& c : cases) {
    Sections s(2);
    s.configuration.imageCorrectionFlags = static_cast<uint8_t>(c.enabled ? 1 << vel::kCorrHsv : 0);
    s.configuration.hsvHueAdjust = static_cast<int16_t>(c.hueDegrees * 64);
    s.configuration.hsvSaturationAdjust = c.saturation;
    s.configuration.hsvValueAdjust = c.value;
    // Phase 2: blue-green on even rows, green-red on odd ones.
    Bytes mosaic;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) mosaic.push_back(((x + y) & 1) ? 100 : (y & 1) ? 200 : 40);
    MemoryStream stream(lengthPrefixed(mosaic, 64));
    ASSERT_TRUE(s.slots->readGreySection(stream, 6, 4, false, 24, 4096));
    for (int i = 0; i < 24; ++i) {
      const uint8_t* p = s.shared.grey() + 54 + (i / 6) * 20 + (i % 6) * 3;
      ASSERT_EQ(Bytes(p, p + 3), (Bytes{c.b, c.g, c.r})) << "hue " << c.hueDegrees << ", pixel " << i;
    }
  }
}

}  // namespace
