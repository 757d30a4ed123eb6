// Scenes through the exports: the simulated imager photographs a scene file and
// the library receives its results and images. Natively the results are what
// zxing-cpp reads in the very image sent; the Windows builds get scripted
// results and a synthetic picture, and the same expectations hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "SceneFixture.h"
#include "SimulatedImagerFixture.h"
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

constexpr int kCode128Bit = 2;

std::set<std::string> sceneTexts(const sim::SceneDescription& d, uint64_t enabled) {
  std::set<std::string> texts;
  for (const auto& b : d.barcodes)
    if ((enabled >> b.symbology->enableBit) & 1) texts.insert(b.text);
  return texts;
}

TEST(SceneFile, ParsesItemsAndRejectsMalformedLines) {
  const auto d = sim::parseScene(
      "size 320 200  # small\nbackground 10 20 30 texture 5 noise 2 seed 9\n"
      "barcode code39 at 100 50 module 2 height 40 angle 90 ink 1 2 3 text CODE 39 # kept\n");
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->width, 320);
  EXPECT_EQ(d->background, (sim::Rgb{10, 20, 30}));
  EXPECT_EQ(d->seed, 9u);
  ASSERT_EQ(d->barcodes.size(), 1u);
  EXPECT_EQ(d->barcodes[0].text, "CODE 39 # kept");
  EXPECT_EQ(d->barcodes[0].symbology->typeId, 4);
  EXPECT_EQ(d->barcodes[0].angle, 90);
  EXPECT_EQ(d->barcodes[0].ink, (sim::Rgb{1, 2, 3}));

  for (const char* bad : {"size 2000 10", "barcode morse text x", "barcode qr at 1 text", "barcode qr module 0 text a",
                          "background 300 0 0", "frame 3", "barcode qr at 4 4"}) {
    std::string error;
    EXPECT_FALSE(sim::parseScene(bad, &error).has_value()) << bad;
    EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
  }
}

// `data` holds any byte, given as hex pairs, for the 2-D symbologies only.
TEST(SceneFile, DataHoldsAnyByteValue) {
  const auto d = sim::parseScene("barcode qr at 10 20 data 00 0a FF23\r\nbarcode datamatrix at 1 1 text 00\n");
  ASSERT_TRUE(d.has_value());
  ASSERT_EQ(d->barcodes.size(), 2u);
  EXPECT_EQ(d->barcodes[0].text, std::string("\x00\x0a\xff\x23", 4));
  EXPECT_TRUE(d->barcodes[0].bytes);
  EXPECT_EQ(d->barcodes[1].text, "00");
  EXPECT_FALSE(d->barcodes[1].bytes);
  EXPECT_TRUE(sim::parseScene("barcode qr data " + std::string(2 * 4096, 'a')).has_value());

  for (const std::string& bad : {std::string("barcode qr data"), std::string("barcode qr data 0"),
                                 std::string("barcode qr data 0 0"), std::string("barcode qr data g0"),
                                 std::string("barcode code128 data 41"), std::string("barcode qr data " + std::string(2 * 4097, 'a'))}) {
    std::string error;
    EXPECT_FALSE(sim::parseScene(bad, &error).has_value()) << bad;
    EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
  }
}

// Every shipped scene parses.
TEST(SceneFile, ShippedScenesParse) {
  for (const char* name : {"shelf.scene", "single-qr.scene", "colour-labels.scene", "demo.scene"}) {
    std::string error;
    EXPECT_TRUE(sim::loadScene(sim::sceneFolder() + "/" + name, &error).has_value()) << name << ": " << error;
  }
}

// Up to the configured maximum number of barcodes.
TEST(SceneCapture, ResultsAreTheSceneBarcodesOfEnabledSymbologies) {
  SimulatedImager imager(Line::Usb);
  const sim::SceneDescription shelf = scene("shelf.scene");
  imager.store().settings().symbologies |= uint64_t{1} << kQrBit;
  imager.store().settings().maxBarcodes = 20;
  imager.showScene(shelf);
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureImage(1, 0, 1, 0);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  EXPECT_EQ(capturedTexts(), sceneTexts(shelf, imager.store().settings().symbologies));
  EXPECT_EQ(VelGetGreyImageWidth(), 1280);
  EXPECT_EQ(VelGetGreyImageHeight(), 1024);

  imager.store().settings().symbologies &= ~(uint64_t{1} << kCode128Bit);
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  EXPECT_EQ(capturedTexts().count("VEL-0042-CODE128"), 0u);
  EXPECT_EQ(capturedTexts().count("https://example.invalid/qr"), 1u);

  const std::set<std::string> enabled = sceneTexts(shelf, imager.store().settings().symbologies);
  ASSERT_GT(enabled.size(), 2u);
  imager.store().settings().maxBarcodes = 2;
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  const std::set<std::string> two = capturedTexts();
  EXPECT_EQ(two.size(), 2u);
  EXPECT_TRUE(std::includes(enabled.begin(), enabled.end(), two.begin(), two.end()));
}

// The window, subsampling and rotation shape the image sent.
TEST(SceneCapture, WindowSubsamplingAndRotationShapeTheImage) {
  SimulatedImager imager(Line::Usb);
  imager.store().settings().window = {100, 50, 400, 300};
  imager.store().settings().hwSubsamplingLog2 = 1;
  imager.store().settings().rotation = 90;
  imager.showScene(scene("single-qr.scene"));
  ASSERT_EQ(imager.connect(scenetest::kCaptureTimeoutMs), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureGreyImage();
  ASSERT_EQ(takeRun(scenetest::kCaptureTimeoutMs).back(), progress(100, 1));
  EXPECT_EQ(VelGetGreyImageWidth(), 150);
  EXPECT_EQ(VelGetGreyImageHeight(), 200);
}

}  // namespace
