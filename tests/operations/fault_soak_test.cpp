// Captures over a noisy serial line: the imager's bytes to the host are corrupted
// and lost at random. A capture may fail, but what the library publishes is always
// a whole image and a whole result set of one capture, never a mixture or a
// damaged copy, and every run ends (Done or Aborted) without a hang.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PublishedImages.h"
#include "SimulatedImagerFixture.h"

using simimager::Line;
using simimager::Note;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;
using Bytes = std::vector<uint8_t>;
using published::binaryPixels;
using published::greyPixels;

namespace {

constexpr uint16_t kWidth = 256;
constexpr uint16_t kHeight = 96;
constexpr int kCaptures = 24;

// Two scenes that differ in every pixel and in their barcode.
sim::Scene soakScene(int which) {
  sim::Scene scene;
  scene.image.width = kWidth;
  scene.image.height = kHeight;
  for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i)
    scene.image.grey.push_back(static_cast<uint8_t>(which == 0 ? (i * 7) & 0x7F : 0x80 | ((i * 13) & 0x7F)));
  sim::SceneBarcode code;
  code.type = 3;
  const std::string text = which == 0 ? "ALPHA-0001-NOISY-LINE" : "BRAVO-0002-NOISY-LINE";
  code.data.assign(text.begin(), text.end());
  scene.records.push_back(code);
  scene.timing = {10, 20, 30, 40};
  return scene;
}

Bytes binaryOf(const sim::Scene& scene) {
  Bytes out;
  for (uint8_t g : scene.image.grey) out.push_back(g >= scene.image.threshold ? 1 : 0);
  return out;
}

std::vector<std::string> barcodeTexts() {
  std::vector<std::string> texts;
  for (int i = 0; i < VelGetNumberOfDecodedBarcodes(); ++i) {
    unsigned char data[256];
    const int n = VelGetBarcodeData(i, sizeof data, data);
    texts.emplace_back(reinterpret_cast<char*>(data), static_cast<size_t>(n));
  }
  return texts;
}

std::string textOf(const sim::Scene& scene) {
  const auto& code = std::get<sim::SceneBarcode>(scene.records[0]);
  return std::string(code.data.begin(), code.data.end());
}

// The run's last progress note; a failed section's Aborted may come before the run's own end.
Note lastNote(std::vector<Note> run) {
  if (!run.empty() && run.back() == progress(100, 2)) {
    const auto rest = takeRun(500);
    run.insert(run.end(), rest.begin(), rest.end());
  }
  return run.empty() ? Note{} : run.back();
}

}  // namespace

TEST(FaultSoak, ANoisyLineNeverPublishesADamagedOrMixedCapture) {
  SimulatedImager imager(Line::Serial);
  const sim::Scene scenes[2] = {soakScene(0), soakScene(1)};
  imager.serialLine()->setNoise(/*corruptPpm=*/25, /*dropPpm=*/10, /*seed=*/20261208);
  ASSERT_EQ(imager.connect(3000), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());

  int done = 0, aborted = 0;
  for (int i = 0; i < kCaptures; ++i) {
    const sim::Scene& scene = scenes[i % 2];
    imager.operations().setScene(scene);
    VelCaptureImage(1, 1, 1, 0);
    const Note end = lastNote(takeRun(20000));
    ASSERT_TRUE(end == progress(100, 1) || end == progress(100, 2)) << "capture " << i << " did not end";

    const Bytes grey = greyPixels(), binary = binaryPixels();
    const auto texts = barcodeTexts();
    if (end == progress(100, 1)) {
      ++done;
      EXPECT_EQ(grey, scene.image.grey) << "capture " << i;
      EXPECT_EQ(binary, binaryOf(scene)) << "capture " << i;
      EXPECT_EQ(texts, std::vector<std::string>{textOf(scene)}) << "capture " << i;
    } else {
      ++aborted;
      // Whatever is published is one earlier capture's, whole.
      EXPECT_TRUE(grey.empty() || grey == scenes[0].image.grey || grey == scenes[1].image.grey) << "capture " << i;
      EXPECT_TRUE(binary.empty() || binary == binaryOf(scenes[0]) || binary == binaryOf(scenes[1]))
          << "capture " << i;
      EXPECT_TRUE(texts.empty() || texts == std::vector<std::string>{textOf(scenes[0])} ||
                  texts == std::vector<std::string>{textOf(scenes[1])})
          << "capture " << i;
    }
    // A connection left failed by a capture is opened again, as an application would.
    if (VelGetCommunicationStatus() != 1) {
      ASSERT_EQ(imager.connect(3000), 1) << "capture " << i;
    }
    VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  }
  EXPECT_GT(imager.serialLine()->noisyBytes(), 0u) << "the line was not noisy";
  EXPECT_GE(done, kCaptures / 2) << done << " done, " << aborted << " aborted";
  std::printf("fault soak: %d captures done, %d aborted, %llu bytes damaged or lost\n", done, aborted,
              static_cast<unsigned long long>(imager.serialLine()->noisyBytes()));
}
