// The simulated imager's long responses on the command channel, read by a raw
// host field by field: the envelope, the result, binary and grey sections, and
// the acknowledgements that pace and stop them.
#include <gtest/gtest.h>

#include "ImagerFixture.h"

using namespace simtest;
using vel::LinkKind;

namespace {

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

sim::SceneImage greyImage(uint16_t width, uint16_t height) {
  sim::SceneImage image;
  image.width = width;
  image.height = height;
  image.grey = pattern(size_t{width} * height);
  return image;
}

// 128 x 8: 255 white, 510 black, 1 white, 258 black: run bytes FE FF FE 00 FF 02.
sim::SceneImage binaryImage() {
  sim::SceneImage image;
  image.width = 128;
  image.height = 8;
  for (auto [count, grey] : {std::pair<size_t, uint8_t>{255, 200}, {510, 10}, {1, 200}, {258, 10}})
    image.grey.insert(image.grey.end(), count, grey);
  return image;
}

sim::SceneBarcode barcode(uint8_t type, Bytes data) {
  sim::SceneBarcode b;
  b.type = type;
  b.corners = {1, -2, 3, -4, 5, -6, 7, -8};
  b.ticks = 0x01020304;
  b.data = std::move(data);
  return b;
}

// Type, flag, corners, ticks, data length and data (in pieces of at most 4,096
// bytes) of barcode(type, data).
void barcodeBody(Script& s, uint8_t type, const Bytes& data) {
  s.read({type}).read({0x00});
  for (Bytes corner : {Bytes{0x01, 0x00}, Bytes{0xFE, 0xFF}, Bytes{0x03, 0x00}, Bytes{0xFC, 0xFF},
                       Bytes{0x05, 0x00}, Bytes{0xFA, 0xFF}, Bytes{0x07, 0x00}, Bytes{0xF8, 0xFF}})
    s.read(corner);
  s.read({0x04, 0x03, 0x02, 0x01}).read({uint8_t(data.size()), uint8_t(data.size() >> 8)});
  for (size_t at = 0; at < data.size(); at += 4096) s.read(slice(data, at, std::min<size_t>(4096, data.size() - at)));
}

// The record of barcode(type, data) with fewer than 231 data bytes (a short
// head), then its acknowledgement.
void barcodeSteps(Script& s, uint8_t type, const Bytes& data, uint8_t ack = 1) {
  s.read({0x02}).read({uint8_t(24 + data.size())});
  barcodeBody(s, type, data);
  s.ack(ack);
}

// The timing record of ticks 1000, 5000, 3000, 8000 and its acknowledgement.
void timingSteps(Script& s) {
  s.read({0x01}).read({0x10});
  s.read({0xE8, 0x03, 0x00, 0x00}).read({0x88, 0x13, 0x00, 0x00}).read({0xB8, 0x0B, 0x00, 0x00});
  s.read({0x40, 0x1F, 0x00, 0x00}).ack();
}

struct Responses : ImagerTest {};

}  // namespace

TEST_P(Responses, StatusByteCarriesExposurePresentationAndCompression) {
  start();
  struct Row {
    bool exposure;
    bool presentation;
    uint8_t mark;
    uint8_t flags;
    uint8_t status;
  };
  const Row rows[] = {
      {false, false, 0x00, 0x00, 0x00}, {true, false, 0x00, 0x00, 0x01}, {false, true, 0x00, 0x00, 0x02},
      {true, true, 0x00, 0x00, 0x03},   {false, false, 0x10, 0x00, 0x10}, {false, false, 0x80, 0x00, 0x80},
      {true, false, 0x80, 0x00, 0x81},  {false, true, 0x10, 0x00, 0x12}, {true, true, 0x90, 0x00, 0x93},
      {false, false, 0x00, 0x10, 0x10}, {false, true, 0x80, 0x10, 0x82}, {false, false, 0x04, 0x00, 0x00},
  };
  size_t count = 0;
  for (const Row& row : rows) {
    sim::Scene scene;
    if (row.exposure) scene.exposure = sim::ExposureReport{0x1234, 0xABCD, 0x07};
    scene.presentationMode = row.presentation;
    scene.compressedMark = row.mark;
    ops->setScene(scene);
    request(4, {{row.flags}});
    Script s;
    s.read({row.status});
    if (row.exposure) s.read({0x34, 0x12}).read({0xCD, 0xAB}).read({0x07});  // gain, integration time, illumination
    EXPECT_TRUE(follows(*command, s)) << "row " << count;
    const sim::TransferReport report = lastTransfer(++count);
    EXPECT_EQ(report.end, sim::TransferEnd::Completed);
    EXPECT_EQ(report.flags, row.flags);
    EXPECT_EQ(report.bytes, row.exposure ? 6u : 1u);
    EXPECT_TRUE(report.acks.empty());
  }
  EXPECT_TRUE(channelIsClear(4096));
}

TEST_P(Responses, ResultSectionRecordByRecordWithAcknowledgements) {
  start();
  sim::Scene scene;
  scene.records = {barcode(3, {'A', 'B', 'C', 'D', 'E'}), sim::SceneOtherRecord{9, 300},
                   sim::SceneOtherRecord{5, 0}};
  scene.timing = {1000, 5000, 3000, 8000};
  ops->setScene(scene);
  request(4, {{0x01}});
  Script s;
  s.read({0x00});
  barcodeSteps(s, 3, {'A', 'B', 'C', 'D', 'E'});
  s.read({0x09}).read({0xFF}).read({0x2C, 0x01, 0x00, 0x00}).ack();  // long head: 300
  s.read({0x05}).read({0x00}).ack();
  timingSteps(s);
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::Completed);
  EXPECT_EQ(report.acks, (Bytes{1, 1, 1, 1}));
  EXPECT_EQ(report.bytes, 1u + 31u + 6u + 2u + 18u);
  EXPECT_TRUE(channelIsClear(4096));
}

TEST_P(Responses, LongRecordHeadsAndDataBeyondTheHostBuffer) {
  start();
  const Bytes d230 = pattern(230), d231 = pattern(231), d5000 = pattern(5000);
  sim::Scene scene;
  scene.records = {barcode(4, d230), barcode(5, d231), barcode(6, d5000)};
  scene.timing = {1000, 5000, 3000, 8000};
  ops->setScene(scene);
  request(4, {{0x01}});
  Script s;
  s.read({0x00});
  barcodeSteps(s, 4, d230);  // 254: the last short head
  s.read({0x02}).read({0xFF}).read({0xFF, 0x00, 0x00, 0x00});  // 255: the long head
  barcodeBody(s, 5, d231);
  s.ack();
  s.read({0x02}).read({0xFF}).read({0xA0, 0x13, 0x00, 0x00});  // 5,024
  barcodeBody(s, 6, d5000);
  s.ack();
  timingSteps(s);
  EXPECT_TRUE(follows(*command, s));
  EXPECT_EQ(lastTransfer(1).end, sim::TransferEnd::Completed);
}

TEST_P(Responses, MoreThanTwentyBarcodesAllTravel) {
  start();
  sim::Scene scene;
  scene.timing = {1000, 5000, 3000, 8000};
  for (uint8_t i = 0; i < 25; ++i) scene.records.push_back(barcode(i, {i}));
  ops->setScene(scene);
  request(4, {{0x01}});
  Script s;
  s.read({0x00});
  for (uint8_t i = 0; i < 25; ++i) barcodeSteps(s, i, {i});
  timingSteps(s);
  EXPECT_TRUE(follows(*command, s));
  EXPECT_EQ(lastTransfer(1).acks.size(), 26u);
}

TEST_P(Responses, ConfigurationBarcodeCarriesItsFlag) {
  start();
  sim::Scene scene;
  const Bytes data = {0xB1, 0x29, 0x01};
  scene.records = {sim::configurationBarcode(19, data)};
  ops->setScene(scene);
  request(4, {{0x01}});
  Script s;
  s.read({0x00}).read({0x02}).read({27}).read({19}).read({0x01});
  for (int i = 0; i < 8; ++i) s.read({0x00, 0x00});
  s.read({0, 0, 0, 0}).read({0x03, 0x00}).read(data).ack();
  s.read({0x01}).read({0x10});
  for (int i = 0; i < 4; ++i) s.read({0, 0, 0, 0});
  s.ack();
  EXPECT_TRUE(follows(*command, s));
}

TEST_P(Responses, ZeroAcknowledgementEndsTheResultSectionAtOnce) {
  start();
  sim::Scene scene;
  scene.records = {barcode(1, {'a'}), barcode(2, {'b'}), barcode(3, {'c'})};
  ops->setScene(scene);
  request(4, {{0x0F}});  // the images and the second section never come
  Script s;
  s.read({0x00}).read({0x00, 0x00}).read({0x00, 0x00});
  barcodeSteps(s, 1, {'a'});
  barcodeSteps(s, 2, {'b'}, 0);
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::StoppedByHost);
  EXPECT_EQ(report.acks, (Bytes{1, 0}));
  EXPECT_TRUE(channelIsClear(4096));
}

TEST_P(Responses, BinarySectionInBlocksWithAFinalAcknowledgement) {
  start(4);
  sim::Scene scene;
  scene.image = binaryImage();
  ops->setScene(scene);
  request(4, {{0x02}});
  Script s;
  s.read({0x00}).read({0x80, 0x00}).read({0x08, 0x00}).read({0x01});
  s.read({0x04, 0x00, 0x00, 0x00}).read({0xFE, 0xFF, 0xFE, 0x00}).ack();
  s.read({0x02, 0x00, 0x00, 0x00}).read({0xFF, 0x02}).ack();  // the final acknowledgement
  EXPECT_TRUE(follows(*command, s));
  EXPECT_EQ(lastTransfer(1).acks, (Bytes{1, 1}));
  EXPECT_TRUE(channelIsClear(4));
}

TEST_P(Responses, BinarySectionEndingOnAFullBlockWantsNoFinalAcknowledgement) {
  start(3);
  sim::Scene scene;
  scene.image = binaryImage();
  ops->setScene(scene);
  request(16);  // the binary-only form: no status byte
  Script s;
  s.read({0x80, 0x00}).read({0x08, 0x00}).read({0x01});
  s.read({0x03, 0x00, 0x00, 0x00}).read({0xFE, 0xFF, 0xFE}).ack();
  s.read({0x03, 0x00, 0x00, 0x00}).read({0x00, 0xFF, 0x02}).ack();
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::Completed);
  EXPECT_EQ(report.flags, 0x02);
  // An imager still waiting would take the next code byte for an acknowledgement.
  EXPECT_TRUE(channelIsClear(3));
}

TEST_P(Responses, ZeroAcknowledgementStopsTheBinarySection) {
  start(4);
  sim::Scene scene;
  scene.image = binaryImage();
  ops->setScene(scene);
  request(4, {{0x06}});
  Script s;
  s.read({0x00}).read({0x80, 0x00}).read({0x08, 0x00}).read({0x01});
  s.read({0x04, 0x00, 0x00, 0x00}).read({0xFE, 0xFF, 0xFE, 0x00}).ack(0);
  EXPECT_TRUE(follows(*command, s));
  EXPECT_EQ(lastTransfer(1).end, sim::TransferEnd::StoppedByHost);
  EXPECT_TRUE(channelIsClear(4));
}

TEST_P(Responses, GreySectionOfMoreThanAHundredPixelsInPiecesOfTheBlockSize) {
  start(50);
  sim::Scene scene;
  scene.image = greyImage(16, 8);
  ops->setScene(scene);
  request(6);
  const Bytes px = scene.image.grey;
  Script s;
  s.read({0x00}).read({0x10, 0x00}).read({0x08, 0x00});
  s.read(slice(px, 0, 50)).ack().read(slice(px, 50, 50)).ack().read(slice(px, 100, 28)).ack();
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.code, 6);
  EXPECT_EQ(report.flags, 0x04);
  EXPECT_EQ(report.acks, (Bytes{1, 1, 1}));
  EXPECT_TRUE(channelIsClear(50));
}

TEST_P(Responses, GreySectionOfAHundredPixelsInLengthPrefixedBlocks) {
  start(40);
  sim::Scene scene;
  scene.image = greyImage(10, 10);
  ops->setScene(scene);
  const Bytes px = scene.image.grey;
  request(6);
  Script s;
  s.read({0x00}).read({0x0A, 0x00}).read({0x0A, 0x00});
  s.read({0x28, 0, 0, 0}).read(slice(px, 0, 40)).ack();
  s.read({0x28, 0, 0, 0}).read(slice(px, 40, 40)).ack();
  s.read({0x14, 0, 0, 0}).read(slice(px, 80, 20)).ack();
  s.read({0, 0, 0, 0});
  EXPECT_TRUE(follows(*command, s));

  ops->setGreyBlockLength(64);  // a block longer than the block size comes in pieces
  request(17);
  Script t;
  t.read({0x0A, 0x00}).read({0x0A, 0x00});
  t.read({0x40, 0, 0, 0}).read(slice(px, 0, 40)).ack().read(slice(px, 40, 24)).ack();
  t.read({0x24, 0, 0, 0}).read(slice(px, 64, 36)).ack();
  t.read({0, 0, 0, 0});
  EXPECT_TRUE(follows(*command, t));
  EXPECT_TRUE(channelIsClear(40));
}

TEST_P(Responses, CompressedGreyAnnouncesAQualityOrItsSize) {
  start();
  sim::Scene scene;
  scene.image = greyImage(10, 12);
  scene.compressedMark = 0x80;
  scene.compressedQuality = 75;  // a quality: the stand-in comes in length-prefixed blocks
  ops->setScene(scene);
  request(6);
  Script s;
  s.read({0x80}).read({0x0A, 0x00}).read({0x0C, 0x00}).read({0x4B, 0, 0, 0});
  s.read({0x78, 0, 0, 0}).read(scene.image.grey).ack().read({0, 0, 0, 0});
  EXPECT_TRUE(follows(*command, s));

  scene.compressedMark = 0x10;
  scene.compressedQuality.reset();
  scene.compressed = Bytes(150, 0xC3);  // its size: read as exactly that many bytes
  ops->setScene(scene);
  request(17);
  Script t;
  t.read({0x0A, 0x00}).read({0x0C, 0x00}).read({0x96, 0, 0, 0}).read(Bytes(150, 0xC3)).ack();
  EXPECT_TRUE(follows(*command, t));

  scene.compressed = Bytes(60, 0x3C);  // a size of 100 or less reads as a quality: blocks again
  ops->setScene(scene);
  request(4, {{0x04}});
  Script u;
  u.read({0x10}).read({0x0A, 0x00}).read({0x0C, 0x00}).read({0x3C, 0, 0, 0});
  u.read({0x3C, 0, 0, 0}).read(Bytes(60, 0x3C)).ack().read({0, 0, 0, 0});
  EXPECT_TRUE(follows(*command, u));
  EXPECT_TRUE(channelIsClear(4096));
}

TEST_P(Responses, FullResponseOrdersItsParts) {
  start();
  sim::Scene scene;
  scene.exposure = sim::ExposureReport{0x0102, 0x0304, 0x05};
  scene.presentationMode = true;
  scene.records = {barcode(7, {'x'})};
  scene.timing = {1000, 5000, 3000, 8000};
  scene.image.width = 8;
  scene.image.height = 2;
  scene.image.grey = {200, 200, 200, 200, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10};
  ops->setScene(scene);
  request(4, {{0x0F}});
  Script s;
  s.read({0x03}).read({0x02, 0x01}).read({0x04, 0x03}).read({0x05}).read({0x08, 0x00}).read({0x02, 0x00});
  barcodeSteps(s, 7, {'x'});
  timingSteps(s);
  s.read({0x01}).read({0x02, 0, 0, 0}).read({0x03, 0x0B}).ack();  // binary: 4 white, 12 black
  s.read({0x10, 0, 0, 0}).read(scene.image.grey).ack().read({0, 0, 0, 0});
  barcodeSteps(s, 7, {'x'});
  timingSteps(s);
  EXPECT_TRUE(follows(*command, s));
  EXPECT_EQ(lastTransfer(1).acks.size(), 6u);
  EXPECT_TRUE(channelIsClear(4096));
}

TEST_P(Responses, ZeroAcknowledgementStopsTheGreySection) {
  start(50);
  sim::Scene scene;
  scene.image = greyImage(16, 8);
  scene.records = {barcode(1, {'a'})};
  ops->setScene(scene);
  request(4, {{0x0C}});  // grey, then results: never sent after the stop
  Script s;
  s.read({0x00}).read({0x10, 0x00}).read({0x08, 0x00});
  s.read(slice(scene.image.grey, 0, 50)).ack().read(slice(scene.image.grey, 50, 50)).ack(0);
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::StoppedByHost);
  EXPECT_EQ(report.acks, (Bytes{1, 0}));
  EXPECT_TRUE(channelIsClear(50));
}

TEST_P(Responses, WindowedPreviousGreyReadsItsNineBytes) {
  start();
  sim::Scene scene;
  scene.image = greyImage(16, 8);
  scene.compressedMark = 0x10;  // a grey-only response then carries the size value
  ops->setScene(scene);
  // Subsampling 2 over x 2, y 1, width 4, height 4: pixels (2,1), (4,1), (2,3), (4,3).
  request(27, {{0x01}, {0x02, 0x00}, {0x01, 0x00}, {0x04, 0x00}, {0x04, 0x00}});
  const Bytes& px = scene.image.grey;
  Script s;
  s.read({0x02, 0x00}).read({0x02, 0x00}).read({0x04, 0, 0, 0});
  s.read({0x04, 0, 0, 0}).read({px[18], px[20], px[50], px[52]}).ack().read({0, 0, 0, 0});
  EXPECT_TRUE(follows(*command, s));
  const sim::WindowRequest window = ops->lastWindow();
  EXPECT_EQ(window.log2Step, 1);
  EXPECT_EQ(window.window, (std::array<uint16_t, 4>{2, 1, 4, 4}));
  EXPECT_EQ(lastTransfer(1).code, 27);
  EXPECT_TRUE(channelIsClear(4096));
}

INSTANTIATE_TEST_SUITE_P(BothLinks, Responses, ::testing::Values(LinkKind::Packet, LinkKind::Direct), kindName);
