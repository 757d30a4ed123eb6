// The simulated imager's scene: run bytes of its binary image, windows of its
// grey image, and the data of configuration barcodes.
#include <gtest/gtest.h>

#include "imager/ImagerScene.h"

using sim::Bytes;

namespace {

// A one-row image of the given runs, starting white.
sim::SceneImage runsImage(const std::vector<size_t>& runs) {
  sim::SceneImage image;
  uint8_t grey = 200;
  for (size_t run : runs) {
    image.grey.insert(image.grey.end(), run, grey);
    grey = grey == 200 ? 10 : 200;
  }
  image.width = static_cast<uint16_t>(image.grey.size());
  image.height = 1;
  return image;
}

}  // namespace

TEST(SceneImage, RunBytesCountRunsAcrossTheWholeImage) {
  uint8_t colour = 9;
  // 255 white, 510 black, 1 white, 258 black.
  EXPECT_EQ(runsImage({255, 510, 1, 258}).runBytes(colour), (Bytes{0xFE, 0xFF, 0xFE, 0x00, 0xFF, 0x02}));
  EXPECT_EQ(colour, 1);
  EXPECT_EQ(runsImage({256, 1}).runBytes(colour), (Bytes{0xFF, 0x00, 0x00}));
  EXPECT_EQ(runsImage({1, 254}).runBytes(colour), (Bytes{0x00, 0xFD}));

  sim::SceneImage image;  // rows run on into each other: 8 x 2, white then black
  image.width = 8;
  image.height = 2;
  image.grey = {200, 200, 200, 200, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10};
  EXPECT_EQ(image.runBytes(colour), (Bytes{0x03, 0x0B}));
  image.threshold = 5;  // everything white
  EXPECT_EQ(image.runBytes(colour), (Bytes{0x0F}));
  image.grey[0] = 0;  // one black pixel first
  EXPECT_EQ(image.runBytes(colour), (Bytes{0x00, 0x0E}));
  EXPECT_EQ(colour, 0);

  EXPECT_TRUE(sim::SceneImage{}.runBytes(colour).empty());
  EXPECT_EQ(colour, 0);
}

TEST(SceneImage, WindowsAreClippedAndSubsampled) {
  sim::SceneImage image;
  image.width = 6;
  image.height = 4;
  for (uint8_t i = 0; i < 24; ++i) image.grey.push_back(i);

  sim::SceneImage w = image.window(1, 1, 3, 2, 0);
  EXPECT_EQ(w.width, 3);
  EXPECT_EQ(w.height, 2);
  EXPECT_EQ(w.grey, (Bytes{7, 8, 9, 13, 14, 15}));

  w = image.window(4, 2, 100, 100, 0);
  EXPECT_EQ(w.width, 2);
  EXPECT_EQ(w.height, 2);
  EXPECT_EQ(w.grey, (Bytes{16, 17, 22, 23}));

  w = image.window(0, 0, 6, 4, 1);
  EXPECT_EQ(w.width, 3);
  EXPECT_EQ(w.height, 2);
  EXPECT_EQ(w.grey, (Bytes{0, 2, 4, 12, 14, 16}));

  w = image.window(6, 0, 2, 2, 0);
  EXPECT_EQ(w.width, 0);
  EXPECT_TRUE(w.grey.empty());
}

TEST(ConfigurationBarcode, CheckValueLeadsThePayloadBetweenPrefixAndSuffix) {
  const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  // CRC-16/CCITT-FALSE of "123456789" is 0x29B1.
  Bytes good = {0xB1, 0x29};
  good.insert(good.end(), digits.begin(), digits.end());
  EXPECT_EQ(sim::configurationData(digits, true), good);

  const Bytes bad = sim::configurationData(digits, false);
  ASSERT_EQ(bad.size(), good.size());
  EXPECT_NE(Bytes(bad.begin(), bad.begin() + 2), Bytes(good.begin(), good.begin() + 2));
  EXPECT_EQ(Bytes(bad.begin() + 2, bad.end()), digits);

  Bytes framed = {'P', 'R', 0xB1, 0x29};
  framed.insert(framed.end(), digits.begin(), digits.end());
  framed.insert(framed.end(), {'\r', '\n'});
  EXPECT_EQ(sim::configurationData(digits, true, {'P', 'R'}, {'\r', '\n'}), framed);
}

TEST(ConfigurationBarcode, PayloadFormsAndTaggedItems) {
  EXPECT_EQ(sim::taggedItem(17, {90, 0}), (Bytes{0x11, 0x02, 0x00, 0x5A, 0x00}));
  Bytes items = sim::taggedItem(17, {90, 0});
  const Bytes second = sim::taggedItem(3, {2});
  items.insert(items.end(), second.begin(), second.end());
  EXPECT_EQ(sim::configurationPayload(sim::ConfigurationForm::Tagged, items),
            (Bytes{0x07, 0x11, 0x02, 0x00, 0x5A, 0x00, 0x03, 0x01, 0x00, 0x02, 0xFF}));
  EXPECT_EQ(sim::configurationPayload(sim::ConfigurationForm::Compact, {1, 2, 3}), (Bytes{0x06, 1, 2, 3}));
  EXPECT_EQ(sim::configurationPayload(sim::ConfigurationForm::NoChange), (Bytes{0x01}));

  const sim::SceneBarcode barcode = sim::configurationBarcode(19, {0xAA});
  EXPECT_TRUE(barcode.configuration);
  EXPECT_EQ(barcode.type, 19);
  EXPECT_EQ(barcode.data, (Bytes{0xAA}));
}
