// The image option exports on the host configuration record, the timestamp
// texts, and the conversions between BMP and JPEG files through the exports.
#include <gtest/gtest.h>

#include "../image/ImageTestFiles.h"
#include "ImgEngine.h"
#include "config/DeviceConfiguration.h"
#include "image/TimestampRecord.h"

namespace {

using imagetest::Bytes;
using vel::deviceConfiguration;

class ImageOptions : public ::testing::Test {
 protected:
  void SetUp() override { vel::ApplyFactoryDefaults(deviceConfiguration()); }
  void TearDown() override { vel::ApplyFactoryDefaults(deviceConfiguration()); }
};

TEST_F(ImageOptions, SwitchesUseBitZeroAndTheLowByte) {
  deviceConfiguration().fwImageCompressedEnabled = 0x80;
  EXPECT_EQ(VelSetImageCompressedEnabled(0x100), 0x80);  // low byte 0: off, other bits kept
  EXPECT_EQ(VelSetImageCompressedEnabled(2), 0x81);      // answers the whole byte
  EXPECT_EQ(VelGetImageCompressedEnabled(), 1);
  EXPECT_EQ(VelSetImageCompressedQuality(0x1FF), 0xFF);
  EXPECT_EQ(VelGetImageCompressedQuality(), 0xFF);
  EXPECT_EQ(VelSetTimestampEnabled(0x10), 1);
  EXPECT_EQ(VelGetTimestampEnabled(), 1);
  EXPECT_EQ(VelSetTimestampEnabled(0x100), 0);
  EXPECT_EQ(VelSetTimestampDateOnly(1), 1);
  EXPECT_EQ(VelGetTimestampDateOnly(), 1);
  EXPECT_EQ(VelSetTimestampDateFormat(3), 3);
  EXPECT_EQ(VelGetTimestampDateFormat(), 3);
  EXPECT_EQ(VelSetTimestampColor(7), 7);
  EXPECT_EQ(VelGetTimestampColor(), 7);
}

TEST_F(ImageOptions, PerspectiveCorrectionIsItsOwnFieldMirroredInSymbologyBit39) {
  const uint8_t gauss = deviceConfiguration().imageCorrectionFlags;
  EXPECT_EQ(VelSetPerspectiveCorrectionEnabled(1), 1);
  EXPECT_EQ(deviceConfiguration().perspectiveCorrectionEnabled & 1, 1);
  EXPECT_EQ(deviceConfiguration().imageCorrectionFlags, gauss);
  EXPECT_TRUE((vel::symbologyFlags(deviceConfiguration()) >> vel::kSymbologyPerspectiveBit) & 1);
  EXPECT_EQ(VelSetPerspectiveCorrectionEnabled(0x200), 0);
  EXPECT_FALSE((vel::symbologyFlags(deviceConfiguration()) >> vel::kSymbologyPerspectiveBit) & 1);
  // The getter brings a stale mirror in line.
  deviceConfiguration().perspectiveCorrectionEnabled = 1;
  EXPECT_EQ(VelGetPerspectiveCorrectionEnabled(), 1);
  EXPECT_TRUE((vel::symbologyFlags(deviceConfiguration()) >> vel::kSymbologyPerspectiveBit) & 1);
}

TEST_F(ImageOptions, LocationKeepsOneToThreeAndStoresAnythingElseAsFour) {
  struct Case { int asked, stored; uint16_t x, y; };
  for (const Case& c : {Case{1, 1, 0, 0}, Case{2, 2, 0, 0xFFFF}, Case{3, 3, 0xFFFF, 0xFFFF}, Case{4, 4, 0xFFFF, 0},
                        Case{7, 4, 0xFFFF, 0}, Case{0, 4, 0xFFFF, 0}, Case{-1, 4, 0xFFFF, 0}}) {
    EXPECT_EQ(VelSetTimestampLocation(c.asked), c.stored) << c.asked;
    EXPECT_EQ(VelGetTimestampLocation(), c.stored);
    EXPECT_EQ(deviceConfiguration().timestampAnchorX, c.x) << c.asked;
    EXPECT_EQ(deviceConfiguration().timestampAnchorY, c.y) << c.asked;
  }
}

TEST_F(ImageOptions, TimestampTextsAreTheRecordsAndFollowItsRefresh) {
  vel::refreshTimestampRecord(1);
  const vel::TimestampRecord r = vel::timestampStore().snapshot();
  EXPECT_STREQ(VelGetCaptureTimestampStringInASCII(), r.timestamp);
  EXPECT_STREQ(VelGetAutoSaveFileFullPathName(), r.autoSavePath);
  EXPECT_EQ(std::strlen(VelGetCaptureTimestampStringInASCII()), 19u);
}

TEST(ConversionExports, CompressAndDecompressFiles) {
  imagetest::ScratchFolder dir;
  const std::string bmp = dir / "in.bmp", jpg = dir / "out.jpg", back = dir / "back.bmp";
  imagetest::writeFile(bmp, imagetest::greyBitmap(200, 100));
  ASSERT_EQ(VelExecuteCompression(bmp.c_str(), jpg.c_str()), 1);
  const Bytes jpeg = imagetest::readFile(jpg);
  ASSERT_GT(jpeg.size(), 100u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  ASSERT_EQ(VelExecuteDecompression(jpg.c_str(), back.c_str()), 1);
  const Bytes grey = imagetest::readFile(back);
  vel::BmpLayout l;
  ASSERT_TRUE(vel::readBmpLayout(grey.data(), grey.size(), l));
  EXPECT_EQ(l.width, 200u);
  EXPECT_EQ(l.height, 100u);
  EXPECT_EQ(l.pixelOffset, 1078u);
  EXPECT_EQ(grey.size(), 1078u + 200 * 100);
}

TEST(ConversionExports, FailuresLeaveTheOutputAlone) {
  imagetest::ScratchFolder dir;
  const std::string jpg = dir / "keep.jpg", bmp = dir / "keep.bmp", junk = dir / "junk";
  const Bytes kept = {'k', 'e', 'p', 't'};
  imagetest::writeFile(jpg, kept);
  imagetest::writeFile(bmp, kept);
  imagetest::writeFile(junk, Bytes(5000, 0x5A));
  // A missing or unreadable BMP: no empty JPEG, the old one stays.
  EXPECT_EQ(VelExecuteCompression((dir / "missing.bmp").c_str(), jpg.c_str()), 0);
  EXPECT_EQ(VelExecuteCompression(junk.c_str(), jpg.c_str()), 0);
  EXPECT_EQ(imagetest::readFile(jpg), kept);
  EXPECT_EQ(VelExecuteCompression(junk.c_str(), (dir / "new.jpg").c_str()), 0);
  EXPECT_FALSE(imagetest::fs::exists(dir / "new.jpg"));
  // A missing, foreign or truncated JPEG: the process goes on, the BMP stays.
  EXPECT_EQ(VelExecuteDecompression((dir / "missing.jpg").c_str(), bmp.c_str()), 0);
  EXPECT_EQ(VelExecuteDecompression(junk.c_str(), bmp.c_str()), 0);
  Bytes half = imagetest::imagerJpeg(64, 64);
  half.resize(half.size() / 2);
  imagetest::writeFile(dir / "half.jpg", half);
  EXPECT_EQ(VelExecuteDecompression((dir / "half.jpg").c_str(), bmp.c_str()), 0);
  EXPECT_EQ(imagetest::readFile(bmp), kept);
  EXPECT_EQ(VelExecuteDecompression((dir / "half.jpg").c_str(), (dir / "new.bmp").c_str()), 0);
  EXPECT_FALSE(imagetest::fs::exists(dir / "new.bmp"));
  // An output that cannot be created.
  imagetest::writeFile(dir / "in.bmp", imagetest::greyBitmap(8, 8));
  EXPECT_EQ(VelExecuteCompression((dir / "in.bmp").c_str(), (dir / "no/such.jpg").c_str()), 0);
}

}  // namespace
