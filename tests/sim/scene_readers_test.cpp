// The images a scene capture delivers, checked by independent readers: zbarimg
// decodes the grey bitmap and the compressed stream the library received,
// exiftool reads the imager's EXIF block, djpeg decodes the stream, Pillow
// reads the colour bitmap back and compares it with the scene's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "SceneFixture.h"
#include "SimulatedImagerFixture.h"
#include "imager/SceneCamera.h"
#include "imager/SceneFile.h"

using simimager::Line;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;
using scenetest::capturedTexts;
using scenetest::kQrBit;
using scenetest::scene;

namespace {

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string temporaryPath(const std::string& name) { return ::testing::TempDir() + "/" + name; }

// zbarimg, not the simulator's reader, decodes the grey bitmap the library received.
TEST(SceneCapture, AnIndependentDecoderReadsTheReceivedGreyImage) {
  SimulatedImager imager(Line::Usb2);
  imager.store().settings().symbologies |= uint64_t{1} << kQrBit;
  imager.store().settings().rotation = 180;
  imager.store().settings().window = {0, 0, 1280, 1024};
  imager.store().settings().maxBarcodes = 20;
  imager.showScene(scene("shelf.scene"));
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureImage(1, 0, 1, 0);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  const std::string bmp = temporaryPath("scene-grey.bmp");
  writeFile(bmp, VelGetGreyImageBitmapFileData(), static_cast<size_t>(VelGetGreyImageBitmapFileSize()));
  const std::string decoded = run("zbarimg --quiet --raw " + bmp + " 2>/dev/null");
  for (const char* text : {"VEL-0042-CODE128", "https://example.invalid/qr"})
    EXPECT_NE(decoded.find(text), std::string::npos) << text << " not in: " << decoded;
  EXPECT_EQ(capturedTexts().count("4006381333931"), 1u);
}

// Pillow reads the colour bitmap back; it matches the scene's own pixels within
// a mean difference of 12 per channel (interpolation blurs the sharp edges).
TEST(SceneCapture, TheColourImageMatchesTheSceneWithinTolerance) {
  sim::ImagerIdentity colour;
  colour.imageSensor = 0x7FA29650;
  SimulatedImager imager(Line::Usb, colour);
  const sim::SceneDescription labels = scene("colour-labels.scene");
  imager.store().settings().window = {0, 1, 640, 479};  // odd window Y: the other Bayer phase
  imager.showScene(labels);
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  ASSERT_EQ(VelGetDeviceConfiguration(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureGreyImage();
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  ASSERT_EQ(VelGetGreyImageWidth(), 640);
  const std::string bmp = temporaryPath("scene-colour.bmp");
  writeFile(bmp, VelGetGreyImageBitmapFileData(), static_cast<size_t>(VelGetGreyImageBitmapFileSize()));

  sim::CameraSettings camera;
  camera.window = {0, 1, 640, 479};
  const sim::CameraView view = sim::viewScene(sim::renderScene(labels), camera);
  const std::string raw = temporaryPath("scene-colour.rgb");
  writeFile(raw, view.rgb.data(), view.rgb.size());
  const std::string script =
      "from PIL import Image, ImageChops, ImageStat\n"
      "import sys\n"
      "got = Image.open(sys.argv[1]).convert('RGB')\n"
      "want = Image.frombytes('RGB', got.size, open(sys.argv[2], 'rb').read())\n"
      "print(' '.join('%.2f' % m for m in ImageStat.Stat(ImageChops.difference(got, want)).mean))\n";
  const std::string py = temporaryPath("compare.py");
  writeFile(py, reinterpret_cast<const uint8_t*>(script.data()), script.size());
  const std::string means = run("/usr/bin/python3 " + py + " " + bmp + " " + raw);
  double r = 999, g = 999, b = 999;
  ASSERT_EQ(std::sscanf(means.c_str(), "%lf %lf %lf", &r, &g, &b), 3) << means;
  EXPECT_LT(r, 12.0);
  EXPECT_LT(g, 12.0);
  EXPECT_LT(b, 12.0);
}

// A compressed capture is a real JPEG whose first segment is the imager's EXIF
// block with the copyright text and the blank capture date.
TEST(SceneCapture, ACompressedCaptureIsAJpegWithTheImagersExifBlock) {
  SimulatedImager imager(Line::Usb);
  imager.store().settings().symbologies |= uint64_t{1} << kQrBit;
  imager.store().settings().compressQuality = 85;
  imager.showScene(scene("single-qr.scene"));
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureImage(1, 0, 1, 1);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  const int size = VelGetGreyImageCompressedDataSize();
  ASSERT_GT(size, 1000);
  EXPECT_EQ(VelGetGreyImageDataSize(), 0);
  const uint8_t* jpeg = VelGetGreyImageData();
  EXPECT_EQ(std::string(jpeg, jpeg + 4), "\xFF\xD8\xFF\xE1");
  const std::string path = temporaryPath("scene.jpg");
  writeFile(path, jpeg, static_cast<size_t>(size));

  EXPECT_EQ(run("zbarimg --quiet --raw " + path + " 2>/dev/null"), "VEL SIM 0001\n");
  EXPECT_EQ(run("exiftool -s3 -Copyright " + path), "Copyright (c) Velmora\n");
  EXPECT_EQ(run("exiftool -s3 -n -ExifIFD:DateTimeOriginal " + path), "\n") << "blank, as the imager leaves it";
  const std::string head(jpeg, jpeg + 512);
  const std::string marked = std::string("Copyright (c) Velmora") + '\0' + std::string(19, ' ') + '\0';
  EXPECT_NE(head.find(marked), std::string::npos) << "19 blanks right after the copyright text";
  EXPECT_EQ(run("djpeg -pnm " + path + " | head -2 | tail -1"), "640 480\n") << "the whole picture, as sent";
  EXPECT_EQ(capturedTexts().count("VEL SIM 0001"), 1u);
}

}  // namespace
