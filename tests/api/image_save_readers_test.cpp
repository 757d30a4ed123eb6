// Captured scenes saved through the exports and read by independent tools: zbarimg
// decodes the scene's barcodes from the saved BMP and JPEG files, exiftool reads
// the capture date the auto-save wrote into the imager's EXIF block, djpeg and
// PIL read the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "../image/ImageTestFiles.h"
#include "../image/ToolRun.h"
#include "../sim/SceneFixture.h"
#include "ImgEngine.h"
#include "SimulatedImagerFixture.h"

using imagetest::quoted;
using imagetest::runTool;
using simimager::Line;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;

namespace {

void capture(SimulatedImager& imager, const char* sceneName, bool compressed) {
  imager.store().settings().symbologies |= uint64_t{1} << scenetest::kQrBit;
  imager.store().settings().compressQuality = 85;
  imager.showScene(scenetest::scene(sceneName));
  // The imager decodes the scene before it answers: slow under a sanitizer on a busy machine.
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureImage(1, 0, 1, compressed);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
}

std::string zbar(const std::string& path) { return runTool("zbarimg --quiet --raw " + quoted(path)).out; }

TEST(SavedScenes, ZbarimgReadsTheBarcodesFromTheSavedBmpAndJpeg) {
  imagetest::ScratchFolder dir;
  SimulatedImager imager(Line::Usb2);
  imager.store().settings().window = {0, 0, 1280, 1024};
  capture(imager, "shelf.scene", false);
  const std::string bmp = dir / "shelf.bmp", jpg = dir / "shelf.jpg";
  ASSERT_EQ(VelSaveGreyImageAsBmpFile(bmp.c_str(), 0), 1);
  ASSERT_EQ(VelSaveGreyImageAsJpegFile(jpg.c_str(), 0), 1);
  for (const std::string& path : {bmp, jpg}) {
    const std::string decoded = zbar(path);
    EXPECT_NE(decoded.find("VEL-0042-CODE128"), std::string::npos) << path << ": " << decoded;
    EXPECT_NE(decoded.find("https://example.invalid/qr"), std::string::npos) << path << ": " << decoded;
  }
  const std::string size = std::to_string(VelGetGreyImageWidth()) + " " + std::to_string(VelGetGreyImageHeight());
  EXPECT_EQ(runTool("identify -format '%w %h' " + quoted(bmp)).out, size);
  EXPECT_EQ(runTool("identify -format '%w %h' " + quoted(jpg)).out, size);
}

TEST(SavedScenes, AutoSavedCompressedCaptureCarriesItsTimeAndStaysReadable) {
  imagetest::ScratchFolder dir;
  const std::string store = dir / "host-settings";
  imagetest::writeFile(store, {});
  setenv("VEL_HOST_SETTINGS", store.c_str(), 1);
  ASSERT_EQ(VelSetImageSourceFolder((dir / "auto").c_str(), 0), 1);
  VelSetAutoSaveEnabled(1);
  VelSetTimestampEnabled(1);
  VelSetTimestampLocation(3);
  SimulatedImager imager(Line::Usb);
  capture(imager, "single-qr.scene", true);
  // The settings name the file: with compression on, the imager's stream as .jpg.
  VelSetImageCompressedEnabled(1);
  ASSERT_EQ(VelExecuteAutoSaveOperation(), 1);
  const std::string jpg = std::string(VelGetAutoSaveFileFullPathName()) + ".jpg";
  std::string date = VelGetCaptureTimestampStringInASCII();
  std::replace(date.begin(), date.end(), '-', ':');
  EXPECT_EQ(runTool("exiftool -s3 -ExifIFD:DateTimeOriginal " + quoted(jpg)).out, date);
  EXPECT_EQ(runTool("exiftool -s3 -Copyright " + quoted(jpg)).out, "Copyright (c) Velmora");
  EXPECT_EQ(runTool("djpeg -outfile /dev/null " + quoted(jpg)).status, 0);
  EXPECT_EQ(zbar(jpg), "VEL SIM 0001");
  // The stamped stream: the timestamp at the bottom right, the barcode still readable.
  const std::string bmp = dir / "stamped.bmp";
  ASSERT_EQ(VelSaveJpegImageAsBmpFile(bmp.c_str(), 0), 0);
  EXPECT_EQ(zbar(bmp), "VEL SIM 0001");
  EXPECT_EQ(runTool("identify -format '%w %h %z' " + quoted(bmp)).out, "640 480 8");
  VelSetImageCompressedEnabled(0);
  VelSetTimestampEnabled(0);
  VelSetAutoSaveEnabled(0);
  unsetenv("VEL_HOST_SETTINGS");
}

}  // namespace
