// Captures and previous images through the exports, against the simulated
// imager: what lands in the shared buffers and what the getters say, binary
// images only from the SA-1110, compressed images, a colour sensor's mosaic,
// a stopped transfer keeping the previous image, sizes the imager gets wrong
// (the run ends Aborted, nothing is published, the connection stays usable),
// and a previous-grey request whose form the host guesses wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "Eventually.h"
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
using Notes = std::vector<Note>;

namespace {

constexpr uint8_t kCompressedStatus = 0x10;

sim::SceneImage pattern(uint16_t width, uint16_t height) {
  sim::SceneImage image;
  image.width = width;
  image.height = height;
  for (size_t i = 0; i < size_t{width} * height; ++i) image.grey.push_back(static_cast<uint8_t>((i * 37) >> 3));
  return image;
}

sim::Scene imageScene(uint16_t width, uint16_t height) {
  sim::Scene scene;
  scene.image = pattern(width, height);
  scene.timing = {1, 2, 3, 4};
  return scene;
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// A run and, when it ended Aborted, the run's own end that follows a failed
// grey section's Aborted.
Notes takeWholeRun() {
  Notes notes = takeRun();
  if (!notes.empty() && notes.back() == progress(100, 2)) {
    const Notes rest = takeRun(500);
    notes.insert(notes.end(), rest.begin(), rest.end());
  }
  return notes;
}

class ImageCapture : public ::testing::Test {
 protected:
  void connect(SimulatedImager& imager, int channelTimeoutMs = 3000) {
    ASSERT_EQ(imager.connect(channelTimeoutMs), 1);
    VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  }
};

TEST_F(ImageCapture, GreyAndBinaryImagesArePublishedInOrder) {
  SimulatedImager imager(Line::Usb);
  sim::Scene scene = imageScene(160, 120);
  imager.operations().setScene(scene);
  connect(imager);
  VelCaptureImage(0, 1, 1, 0);
  const Notes run = takeRun();
  ASSERT_EQ(run.back(), progress(100, 1));
  const auto at = [&](const Note& n) { return std::find(run.begin(), run.end(), n) - run.begin(); };
  EXPECT_LT(at(progress(100, 4)), at(progress(100, 7)));
  EXPECT_LT(at(progress(100, 7)), at(progress(0, 5)));
  EXPECT_LT(at(progress(100, 8)), at(progress(100, 1)));

  EXPECT_EQ(VelGetGreyImageWidth(), 160);
  EXPECT_EQ(VelGetGreyImageHeight(), 120);
  EXPECT_EQ(VelGetGreyImageDataSize(), 160 * 120);
  EXPECT_EQ(VelGetGreyImageBitmapFileSize(), 1078 + 160 * 120);
  EXPECT_EQ(VelGetGreyImageBitmapFileData(), VelGetGreyImageData() - 1078);
  EXPECT_EQ(VelGetGreyImageCompressedDataSize(), 160 * 120);
  EXPECT_EQ(greyPixels(), scene.image.grey);

  EXPECT_EQ(VelGetBinaryImageWidth(), 160);
  EXPECT_EQ(VelGetBinaryImageDataSize(), 120 * 20);
  Bytes expected;
  for (uint8_t g : scene.image.grey) expected.push_back(g >= scene.image.threshold ? 1 : 0);
  EXPECT_EQ(binaryPixels(), expected);

  // The pixel pointer stays within its own buffer: an offset past the binary
  // buffer's 164,352 bytes (though within the grey buffer's) gives the file itself.
  uint8_t* binary = VelGetBinaryImageBitmapFileData();
  EXPECT_EQ(VelGetBinaryImageData(), binary + 62);
  const uint32_t offsets[] = {164351, 200000};
  for (uint32_t offset : offsets) {
    for (int i = 0; i < 4; ++i) binary[10 + i] = static_cast<uint8_t>(offset >> (8 * i));
    EXPECT_EQ(VelGetBinaryImageData(), offset < 164352 ? binary + offset : binary) << offset;
  }
  binary[10] = 62, binary[11] = binary[12] = binary[13] = 0;
}

// Only the SA-1110 sends binary images: the i.MX1 capture drops the binary bit
// and its binary getters answer nothing.
TEST_F(ImageCapture, NoBinaryImagesFromTheMx1) {
  sim::ImagerIdentity mx1;
  mx1.visionProcessor = 0;
  SimulatedImager imager(Line::Usb, mx1);
  imager.operations().setScene(imageScene(32, 8));
  connect(imager);
  VelCaptureImage(0, 1, 1, 0);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  ASSERT_TRUE(imager.operations().waitForTransfers(1, 3000));
  EXPECT_EQ(imager.operations().transfers()[0].flags, 0x04);
  EXPECT_EQ(VelGetBinaryImageWidth(), 0);
  EXPECT_EQ(VelGetBinaryImageDataSize(), 0);
  EXPECT_EQ(VelGetBinaryImageBitmapFileData(), nullptr);
  VelGetPreviousBinaryImage();
  EXPECT_TRUE(takeRun(300).empty());
}

TEST_F(ImageCapture, ACompressedImageSitsBehindItsPseudoHeader) {
  SimulatedImager imager(Line::Usb2);
  sim::Scene scene = imageScene(64, 48);
  scene.compressedMark = kCompressedStatus;
  for (int i = 0; i < 999; ++i) scene.compressed.push_back(static_cast<uint8_t>(i ^ 0x5A));
  imager.operations().setScene(scene);
  connect(imager);
  VelCaptureImage(0, 0, 1, 1);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  const uint8_t* file = VelGetGreyImageBitmapFileData();
  EXPECT_EQ(std::memcmp(file, "JP", 2), 0);
  EXPECT_EQ(VelGetGreyImageWidth(), 64);
  EXPECT_EQ(VelGetGreyImageCompressedDataSize(), 999);
  EXPECT_EQ(VelGetGreyImageDataSize(), 0);
  EXPECT_EQ(VelGetGreyImageBitmapFileSize(), 0);
  EXPECT_EQ(Bytes(VelGetGreyImageData(), VelGetGreyImageData() + 999), scene.compressed);
}

// A cancelled compressed transfer leaves the previous image whole.
TEST_F(ImageCapture, AStoppedCompressedTransferKeepsThePreviousImage) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(imageScene(40, 30));
  connect(imager);
  VelCaptureImage(0, 0, 1, 0);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  const Bytes before(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + 1078 + 1200);

  sim::Scene compressed = imageScene(40, 30);
  compressed.compressedMark = kCompressedStatus;
  compressed.compressed.assign(20000, 0x33);
  imager.operations().setScene(compressed);
  // Status, size, size value and the first 4,096-byte piece; then the imager stalls.
  imager.operations().control().stall(sim::Channel::Command, 1 + 4 + 4 + 4096 + 100, -1);
  VelCaptureImage(0, 0, 1, 1);
  ASSERT_TRUE(imager.operations().control().waitUntilStalled(sim::Channel::Command, 10000));
  VelCancelHostInitiatedOperation();
  imager.operations().control().releaseStall();
  const Notes run = takeWholeRun();
  ASSERT_GE(run.size(), 2u);
  EXPECT_EQ(Notes(run.end() - 2, run.end()), (Notes{progress(100, 2), progress(100, 2)}));
  EXPECT_EQ(Bytes(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + before.size()), before);
  EXPECT_EQ(VelGetGreyImageCompressedDataSize(), 1200);
}

// A disconnect during a transfer, also one made as soon as the capture export
// returns, stops it at its next block, as a cancel does: the imager ends its
// response and takes the close command, instead of reading the next
// connection's commands as acknowledgements, and that connection comes up at once.
TEST_F(ImageCapture, ADisconnectDuringATransferLetsTheNextConnectionIn) {
  SimulatedImager imager(Line::Serial);
  imager.operations().setScene(imageScene(256, 96));
  connect(imager);
  const auto closes = [&] {
    const std::vector<uint8_t> codes = imager.commands().receivedCodes();
    return static_cast<size_t>(std::count(codes.begin(), codes.end(), 18));
  };
  for (size_t round = 1; round <= 3; ++round) {
    // Status, size fields and a part of the first block; then the imager pauses.
    imager.operations().control().stall(sim::Channel::Command, 2000, 100);
    VelCaptureImage(0, 0, 1, 0);
    VelDeviceDisconnect();
    ASSERT_TRUE(imager.operations().waitForTransfers(round, 5000)) << "round " << round;
    EXPECT_EQ(imager.operations().transfers()[round - 1].end, sim::TransferEnd::StoppedByHost) << "round " << round;
    for (int i = 0; i < 2000 && closes() < round; ++i) vel::platform::sleepMs(1);
    EXPECT_EQ(closes(), round) << "the imager took the close command";
    ASSERT_EQ(imager.connectOnce(2000), 1) << "round " << round;
  }
}

// A transfer the host gave up on (its channel timed out; no disconnect came) ends
// when the next connection resets the link: that connection is answered at once.
TEST_F(ImageCapture, AnAbandonedTransferEndsWhenTheNextConnectionResetsTheLink) {
  for (Line line : {Line::Serial, Line::Usb}) {
    SCOPED_TRACE(line == Line::Serial ? "serial" : "usb");
    SimulatedImager imager(line);
    imager.operations().setScene(imageScene(256, 96));
    connect(imager, 300);
    imager.operations().control().stall(sim::Channel::Command, 2000, -1);
    VelCaptureImage(0, 0, 1, 0);
    ASSERT_EQ(takeWholeRun().back(), progress(100, 2)) << "the channel timed out";
    VelDeviceDisconnect();
    EXPECT_EQ(imager.connectOnce(3000), 1) << "the first connect after the abandoned transfer";
    ASSERT_TRUE(imager.operations().waitForTransfers(1, 5000));
    EXPECT_EQ(imager.operations().transfers()[0].end, sim::TransferEnd::Reset);
  }
}

TEST_F(ImageCapture, AColourSensorSendsAMosaicThatBecomesColour) {
  sim::ImagerIdentity colour;
  colour.imageSensor = 0x7FA29650;
  SimulatedImager imager(Line::Usb, colour);
  sim::Scene scene = imageScene(8, 6);
  // Rotation 0, window Y 0: blue-green / green-red; a flat field of (R 200, G 120, B 30).
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) scene.image.grey[y * 8 + x] = (x + y) & 1 ? 120 : (y & 1) ? 200 : 30;
  imager.operations().setScene(scene);
  imager.store().settings().rotation = 0;
  imager.store().settings().window[1] = 0;
  connect(imager);
  ASSERT_EQ(VelGetDeviceConfiguration(), 1);
  VelCaptureGreyImage();
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  const uint8_t* file = VelGetGreyImageBitmapFileData();
  EXPECT_EQ(le32(file + 2), 54u + 6 * 24);
  EXPECT_EQ(VelGetGreyImageDataSize(), 6 * 24);
  for (int i = 0; i < 48; ++i) {
    const uint8_t* p = VelGetGreyImageData() + (i / 8) * 24 + (i % 8) * 3;
    ASSERT_EQ(Bytes(p, p + 3), (Bytes{30, 120, 200})) << "pixel " << i;
  }
}

struct BadScene {
  const char* name;
  uint8_t flags;
  sim::Scene scene;
};

std::vector<BadScene> badScenes() {
  std::vector<BadScene> out;
  out.push_back({"binary width 12", 0x02, imageScene(12, 10)});
  out.push_back({"grey beyond 1280 x 1024", 0x04, imageScene(1400, 1000)});
  out.push_back({"grey with no rows", 0x04, imageScene(100, 0)});
  BadScene runs{"runs beyond the image", 0x02, imageScene(16, 4)};
  runs.scene.extraRuns = {3, 3};
  out.push_back(runs);
  BadScene size{"size value beyond the buffer", 0x04, imageScene(16, 4)};
  size.scene.compressedMark = kCompressedStatus;
  size.scene.compressed.assign(300, 1);
  size.scene.announcedGreySize = 4000000;
  out.push_back(size);
  return out;
}

// Every such capture ends Aborted, publishes nothing, and the next capture works.
TEST_F(ImageCapture, SizesTheLibraryCannotTakeAbortTheRun) {
  SimulatedImager imager(Line::Usb);
  connect(imager, 1000);
  for (const BadScene& bad : badScenes()) {
    imager.operations().setScene(imageScene(24, 16));
    VelCaptureImage(0, 1, 1, 0);
    ASSERT_EQ(takeRun().back(), progress(100, 1)) << bad.name;
    const Bytes grey(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + 1078 + 24 * 16);
    const Bytes binary(VelGetBinaryImageBitmapFileData(), VelGetBinaryImageBitmapFileData() + 62 + 16 * 4);

    imager.operations().setScene(bad.scene);
    VelCaptureImage(0, bad.flags & 0x02, bad.flags & 0x04, 0);
    const Notes run = takeWholeRun();
    EXPECT_EQ(run.back(), progress(100, 2)) << bad.name;
    EXPECT_EQ(std::count(run.begin(), run.end(), progress(100, 7)) +
                  std::count(run.begin(), run.end(), progress(100, 8)),
              0)
        << bad.name;
    EXPECT_EQ(Bytes(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + grey.size()), grey);
    EXPECT_EQ(Bytes(VelGetBinaryImageBitmapFileData(), VelGetBinaryImageBitmapFileData() + binary.size()), binary);

    // A stream given up marks the connection failed; the library reconnects then.
    if (VelGetCommunicationStatus() != 1) {
      VelDeviceDisconnect();
      connect(imager, 1000);
    }
    imager.operations().setScene(imageScene(24, 16));
    VelCaptureImage(0, 1, 1, 0);
    EXPECT_EQ(takeRun().back(), progress(100, 1)) << "after " << bad.name;
  }
}

// Sections read to their end keep the connection in step: a binary width the
// library cannot take, and runs beyond the image, whose block is read to its end.
TEST_F(ImageCapture, ADroppedSectionKeepsTheConnectionInStep) {
  SimulatedImager imager(Line::Serial);
  sim::Scene overshooting = imageScene(16, 10);
  overshooting.extraRuns = {3, 3};
  for (const sim::Scene& scene : {imageScene(12, 10), overshooting}) {
    imager.operations().setScene(scene);
    connect(imager);
    VelCaptureImage(0, 1, 1, 0);
    EXPECT_EQ(takeWholeRun().back(), progress(100, 2));
    EXPECT_EQ(VelGetGreyImageWidth(), scene.image.width) << "the grey image after the dropped binary one was read";
    EXPECT_TRUE(simimager::connectionIntact());
  }
}

// A previous grey image that never comes: the channel is reset and the run ends
// Aborted, not Done.
TEST_F(ImageCapture, APreviousGreyImageThatNeverComesEndsAborted) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(imageScene(40, 30));
  connect(imager, 300);
  imager.commands().setSilent(true);
  VelGetPreviousGreyImage();
  EXPECT_EQ(takeWholeRun(), (Notes{progress(100, 2), progress(100, 2)}));
}

// The imager's late answer to a previous grey image the host gave up on is not
// taken for the answer to the next command (the fixed configuration form read a
// width of 40 as its length and answered 1 with the record unchanged).
TEST_F(ImageCapture, TheLateRestOfAnAbandonedPreviousGreyImageIsNotTheNextAnswer) {
  sim::ImagerIdentity fixedForm;
  fixedForm.linkLevel = 17;
  SimulatedImager imager(Line::Usb, fixedForm);
  imager.operations().setScene(imageScene(40, 30));
  connect(imager, 300);
  std::atomic<bool> answerHeld{true};
  imager.commands().setGate([&answerHeld](uint8_t code) {
    if (code == 17) eventually([&answerHeld] { return !answerHeld.load(); });
    return true;
  });
  imager.operations().control().stall(sim::Channel::Command, 4, -1);
  VelGetPreviousGreyImage();
  EXPECT_EQ(takeRun().back(), progress(100, 2));
  answerHeld = false;
  ASSERT_TRUE(imager.operations().control().waitUntilStalled(sim::Channel::Command, 5000));
  imager.store().settings().gain = 1357;
  const int answer = VelGetDeviceConfiguration();
  if (answer == 1)
    EXPECT_EQ(VelGetGain(), 1357) << "answered 1 with a record the imager never sent";
  else
    EXPECT_EQ(answer, 0);
  imager.operations().control().releaseStall();
}

TEST_F(ImageCapture, PreviousImagesAreSentAgain) {
  SimulatedImager imager(Line::Usb);
  sim::Scene scene = imageScene(48, 20);
  imager.operations().setScene(scene);
  connect(imager);
  VelGetPreviousGreyImage();
  EXPECT_EQ(takeRun(), (Notes{progress(0, 5), progress(100, 5), progress(100, 8), progress(100, 1)}));
  EXPECT_EQ(greyPixels(), scene.image.grey);
  VelGetPreviousBinaryImage();
  EXPECT_EQ(takeRun().back(), progress(100, 1));
  EXPECT_EQ(VelGetBinaryImageHeight(), 20);

  VelGetWindowedPreviousGreyImage(8, 4, 16, 10, 1);
  EXPECT_EQ(takeRun().back(), progress(100, 1));
  const sim::WindowRequest window = imager.operations().lastWindow();
  EXPECT_EQ(window.log2Step, 1);
  EXPECT_EQ(window.window, (std::array<uint16_t, 4>{8, 4, 16, 10}));
  EXPECT_EQ(VelGetGreyImageWidth(), 8);
  EXPECT_EQ(VelGetGreyImageHeight(), 5);
  EXPECT_EQ(greyPixels()[0], scene.image.grey[4 * 48 + 8]);
}

// Only the host's flag says whether a size value precedes a previous grey
// image. When the imager's image is compressed and the host expects raw pixels,
// the section fails cleanly and the image is kept.
TEST_F(ImageCapture, APreviousGreyImageOfAnotherFormFailsCleanly) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(imageScene(40, 30));
  connect(imager, 500);
  VelCaptureImage(0, 0, 1, 0);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  const Bytes before(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + 1078 + 1200);

  sim::Scene compressed = imageScene(40, 30);
  compressed.compressedMark = kCompressedStatus;
  compressed.compressed.assign(700, 0x44);
  imager.operations().setScene(compressed);
  VelGetPreviousGreyImage();
  const Notes run = takeWholeRun();
  EXPECT_EQ(run.back(), progress(100, 2));
  EXPECT_EQ(std::count(run.begin(), run.end(), progress(100, 8)), 0);
  EXPECT_EQ(Bytes(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileData() + before.size()), before);

  // Ex asks by the compression setting: with it on, the host reads the size value.
  VelDeviceDisconnect();
  imager.store().settings().compressImages = true;
  connect(imager, 500);
  ASSERT_EQ(VelGetDeviceConfiguration(), 1);
  VelGetPreviousGreyImageEx();
  EXPECT_EQ(takeRun().back(), progress(100, 1));
  EXPECT_EQ(VelGetGreyImageCompressedDataSize(), 700);
}

TEST_F(ImageCapture, StandardDeviationOfTheImagersLastImage) {
  EXPECT_EQ(VelGetImageStandardDeviation(), -1) << "not connected";
  SimulatedImager imager(Line::Usb);
  imager.commands().setStandardDeviation(4321);
  connect(imager);
  EXPECT_EQ(VelGetImageStandardDeviation(), 4321);
  SetCommunicationError();
  EXPECT_EQ(VelGetImageStandardDeviation(), -1) << "the connection is marked failed";
  const std::vector<uint8_t> codes = imager.commands().receivedCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 32), 1) << "the second request was not sent";
}

}  // namespace
