// The library's image files read by independent tools: exiftool for the JPEG
// fields and the capture date, djpeg and identify for decoding, PIL for bitmaps.
#include <gtest/gtest.h>

#include <sstream>

#include "ImageTestFiles.h"
#include "ImgEngine.h"
#include "ToolRun.h"
#include "image/JpegExif.h"

namespace {

using imagetest::Bytes;
using imagetest::quoted;
using imagetest::runTool;

std::string exif(const std::string& path, const std::string& tags) {
  return runTool("exiftool -s3 -n " + tags + " " + quoted(path)).out;
}

// The bytes of a PGM that djpeg writes in greyscale.
Bytes djpegGrey(const std::string& jpeg) {
  const auto r = runTool("djpeg -grayscale -pnm " + quoted(jpeg));
  std::istringstream in(r.out);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  const std::string rest((std::istreambuf_iterator<char>(in)), {});
  return Bytes(rest.begin(), rest.end());
}

// PIL's reading: "width height mode palette" and the pixels top row first.
std::pair<std::string, Bytes> pilRead(const std::string& bmp) {
  const auto r = runTool(std::string(VEL_SYSTEM_PYTHON) + " " + VEL_PIL_SCRIPT + " " + quoted(bmp));
  const size_t newline = r.out.find('\n');
  Bytes pixels;
  for (size_t i = newline + 1; i + 1 < r.out.size(); i += 2)
    pixels.push_back(static_cast<uint8_t>(std::stoi(r.out.substr(i, 2), nullptr, 16)));
  return {r.out.substr(0, newline), pixels};
}

TEST(IndependentReaders, CompressionGivesAThreeComponentJpegAtQuality75WithTheBitmapsDensity) {
  imagetest::ScratchFolder dir;
  const std::string bmp = dir / "grey.bmp", jpg = dir / "grey.jpg";
  imagetest::writeFile(bmp, imagetest::greyBitmap(640, 480, 2835));
  ASSERT_EQ(VelExecuteCompression(bmp.c_str(), jpg.c_str()), 1);
  EXPECT_EQ(exif(jpg, "-ColorComponents"), "3");
  EXPECT_EQ(exif(jpg, "-ImageWidth -ImageHeight"), "640\n480");
  EXPECT_EQ(exif(jpg, "-ResolutionUnit -XResolution -YResolution"), "2\n28\n28");  // 2: centimetres
  EXPECT_EQ(runTool("identify -format %Q " + quoted(jpg)).out, "75");
  EXPECT_EQ(runTool("djpeg -outfile /dev/null " + quoted(jpg)).status, 0);
}

TEST(IndependentReaders, DecompressionMatchesDjpegAndReadsAsAGreyBitmap) {
  imagetest::ScratchFolder dir;
  const std::string colour = dir / "colour.bmp", jpg = dir / "colour.jpg", bmp = dir / "grey.bmp";
  imagetest::writeFile(colour, imagetest::colourBitmap(123, 45));
  ASSERT_EQ(runTool("cjpeg -quality 85 -outfile " + quoted(jpg) + " " + quoted(colour)).status, 0);
  ASSERT_EQ(VelExecuteDecompression(jpg.c_str(), bmp.c_str()), 1);
  const auto [description, pixels] = pilRead(bmp);
  EXPECT_EQ(description, "123 45 L grey-ramp");
  const Bytes reference = djpegGrey(jpg);
  ASSERT_EQ(reference.size(), 123u * 45);
  EXPECT_EQ(pixels, reference);
}

// A stream of cjpeg's with stray bytes before a marker: djpeg warns (status 2) and
// so decodes it as the library does; cut short, it is refused.
TEST(IndependentReaders, StrayBytesAreOnlyAWarningAndAStreamThatEndsEarlyIsRefused) {
  imagetest::ScratchFolder dir;
  const std::string grey = dir / "grey.bmp", jpg = dir / "plain.jpg", stray = dir / "stray.jpg",
                    early = dir / "early.jpg", out = dir / "out.bmp";
  imagetest::writeFile(grey, imagetest::greyBitmap(160, 120));
  ASSERT_EQ(runTool("cjpeg -quality 75 -outfile " + quoted(jpg) + " " + quoted(grey)).status, 0);
  const Bytes plain = imagetest::readFile(jpg);
  imagetest::writeFile(stray, imagetest::withStrayBytes(plain));
  EXPECT_EQ(runTool("djpeg -outfile /dev/null " + quoted(stray)).status, 2);
  ASSERT_EQ(VelExecuteDecompression(stray.c_str(), out.c_str()), 1);
  EXPECT_EQ(pilRead(out).second, djpegGrey(jpg));
  imagetest::writeFile(early, imagetest::firstHalf(plain, true));
  EXPECT_EQ(VelExecuteDecompression(early.c_str(), (dir / "none.bmp").c_str()), 0);
  EXPECT_FALSE(imagetest::fs::exists(dir / "none.bmp"));
}

TEST(IndependentReaders, PatchedCaptureDateReadsAsDateTimeOriginal) {
  imagetest::ScratchFolder dir;
  Bytes jpeg = imagetest::imagerJpeg(160, 120);
  const std::string before = dir / "before.jpg", after = dir / "after.jpg";
  imagetest::writeFile(before, jpeg);
  EXPECT_EQ(exif(before, "-Copyright"), "Copyright (C) 2005 Velmora");
  vel::DeviceConfiguration c{};
  const auto record = vel::makeTimestampRecord(c, {false, false, ".\\"}, 1, {2026, 12, 8, 4, 5, 6});
  vel::patchExifCaptureTime(jpeg.data(), jpeg.size(), record);
  imagetest::writeFile(after, jpeg);
  EXPECT_EQ(exif(after, "-DateTimeOriginal"), "2026:12:08 04:05:06");
  EXPECT_EQ(runTool("djpeg -outfile /dev/null " + quoted(after)).status, 0);
}

TEST(IndependentReaders, StampedStreamKeepsTheExifBlockAndDecodes) {
  imagetest::ScratchFolder dir;
  vel::DeviceConfiguration c{};
  c.timestampLocation = 3;
  c.imageCompressedQuality = 60;
  const auto record = vel::makeTimestampRecord(c, {false, false, ".\\"}, 1, {2026, 12, 8, 4, 5, 6});
  Bytes jpeg = imagetest::imagerJpeg(640, 480), stamped;
  vel::patchExifCaptureTime(jpeg.data(), jpeg.size(), record);
  ASSERT_TRUE(vel::stampJpegStream(jpeg.data(), jpeg.size(), record, stamped));
  const std::string path = dir / "stamped.jpg";
  imagetest::writeFile(path, stamped);
  EXPECT_EQ(exif(path, "-DateTimeOriginal -Copyright"), "2026:12:08 04:05:06\nCopyright (C) 2005 Velmora");
  EXPECT_EQ(exif(path, "-ColorComponents -ImageWidth -ImageHeight"), "3\n640\n480");
  EXPECT_EQ(runTool("identify -format %Q " + quoted(path)).out, "60");
  const std::string plain = dir / "plain.jpg";
  imagetest::writeFile(plain, jpeg);
  const Bytes grey = djpegGrey(path), unstamped = djpegGrey(plain);
  ASSERT_EQ(grey.size(), 640u * 480);
  ASSERT_EQ(unstamped.size(), grey.size());
  // Location 3: the text's 15 rows (scale 3) end at the bottom right; elsewhere the
  // picture is the imager's.
  auto changed = [&](size_t x0, size_t y0, size_t w, size_t h) {
    size_t n = 0;
    for (size_t y = y0; y < y0 + h; ++y)
      for (size_t x = x0; x < x0 + w; ++x) n += std::abs(grey[y * 640 + x] - unstamped[y * 640 + x]) > 60;
    return n;
  };
  EXPECT_GT(changed(640 - 150, 480 - 15, 150, 15), 500u);
  EXPECT_LT(changed(0, 0, 300, 200), 30u);
}

}  // namespace
