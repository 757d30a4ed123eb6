// The result getters read what a section published into the library's shared
// store; indexes, lengths and buffers from the caller are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "ImgEngine.h"
#include "ResultFixture.h"

using namespace sections;

namespace {

class ResultExportsTest : public ResultFixture {
 protected:
  ResultExportsTest() : ResultFixture(&vel::sharedResults()) {}

  void receiveTwoBarcodes() {
    Barcode first;
    first.data = Bytes{'H', 'e', 'l', 'l', 'o'};
    Barcode second;
    second.type = 16;
    for (int i = 0; i < 8; ++i) second.corners[i] = static_cast<int16_t>(-100 * (i + 1));
    second.ticks = 1000;
    Bytes section = barcodeRecord(first);
    append(section, barcodeRecord(second));
    append(section, timingRecord(1000, 5000, 3000, 8000));
    receive(section);
  }
};

using Getter = int(VEL_API*)(int);
const Getter kIndexedGetters[] = {
    VelGetBarcodeType,          VelGetBarcodeDataSize,         VelGetBarcodeTopLeftX,
    VelGetBarcodeTopLeftY,      VelGetBarcodeTopRightX,        VelGetBarcodeTopRightY,
    VelGetBarcodeBottomLeftX,   VelGetBarcodeBottomLeftY,      VelGetBarcodeBottomRightX,
    VelGetBarcodeBottomRightY,  VelGetBarcodeProcessingTime,
};

}  // namespace

TEST_F(ResultExportsTest, GettersReadThePublishedResults) {
  receiveTwoBarcodes();
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 2);
  EXPECT_EQ(VelGetImageCaptureTime(), 500);
  EXPECT_EQ(VelGetAutoExposureExecutionTime(), 500);
  EXPECT_EQ(VelGetImageProcessingTime(), 2000);

  EXPECT_EQ(VelGetBarcodeType(0), 3);
  EXPECT_EQ(VelGetBarcodeDataSize(0), 5);
  EXPECT_EQ(VelGetBarcodeProcessingTime(0), 100);
  EXPECT_EQ(VelGetBarcodeType(1), 16);
  EXPECT_EQ(VelGetBarcodeDataSize(1), 0);
  EXPECT_EQ(VelGetBarcodeProcessingTime(1), 250);

  // Corner getters in their wire order.
  const Getter corners[] = {VelGetBarcodeTopLeftX,    VelGetBarcodeTopLeftY,    VelGetBarcodeTopRightX,
                            VelGetBarcodeTopRightY,   VelGetBarcodeBottomLeftX, VelGetBarcodeBottomLeftY,
                            VelGetBarcodeBottomRightX, VelGetBarcodeBottomRightY};
  const int firstCorners[] = {10, 20, 110, 21, 12, 80, 111, 81};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(corners[i](0), firstCorners[i]) << i;
    EXPECT_EQ(corners[i](1), -100 * (i + 1)) << i;
  }
}

TEST_F(ResultExportsTest, BarcodeDataIsCopiedUpToTheCallersLength) {
  receiveTwoBarcodes();
  unsigned char buffer[4096];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(VelGetBarcodeData(0, 4096, buffer), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "Hello\xEE");
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(VelGetBarcodeData(0, 3, buffer), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "Hel\xEE");

  // Nothing copied: no data, a length of zero or below, no buffer, a bad index.
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(VelGetBarcodeData(1, 4096, buffer), 0);
  EXPECT_EQ(VelGetBarcodeData(0, 0, buffer), 0);
  EXPECT_EQ(VelGetBarcodeData(0, -1, buffer), 0);
  EXPECT_EQ(VelGetBarcodeData(0, -2147483647 - 1, buffer), 0);
  EXPECT_EQ(VelGetBarcodeData(0, 4096, nullptr), 0);
  for (int index : {-1, 2, 19, 20, 1000}) EXPECT_EQ(VelGetBarcodeData(index, 4096, buffer), 0) << index;
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(ResultExportsTest, IndexesOutsideTheDecodedBarcodesAnswerZero) {
  receiveTwoBarcodes();
  for (Getter get : kIndexedGetters)
    for (int index : {-1, 2, 19, 20, 21, -2147483647 - 1}) EXPECT_EQ(get(index), 0) << index;

  // A shorter section leaves nothing of the longer one behind its count.
  receive(timingRecord(0, 0, 0, 0));
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 0);
  for (Getter get : kIndexedGetters) EXPECT_EQ(get(0), 0);
}

TEST(SharedResultsTest, AReaderSeesOnePublishedStoreOrTheOtherNeverAMixture) {
  vel::ResultStore shortText, longText;
  vel::BarcodeResult b;
  b.data.assign(3, 'a');
  shortText.add(b);
  b.data.assign(3000, 'b');
  longText.add(b);
  vel::sharedResults().publish(shortText);

  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) vel::sharedResults().publish(i % 2 ? shortText : longText);
  });
  unsigned char buffer[4096];
  int mixtures = 0;
  for (int i = 0; i < 20000; ++i) {
    const int n = VelGetBarcodeData(0, sizeof buffer, buffer);
    const unsigned char expected = n == 3 ? 'a' : 'b';
    if ((n != 3 && n != 3000) || std::count(buffer, buffer + n, expected) != n) ++mixtures;
  }
  worker.join();
  EXPECT_EQ(mixtures, 0);
}

TEST(BarcodeNames, TypesOneToTwentyTwoHaveNamesCopiedWithoutATerminator) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(VelGetBarcodeName(5, 3, buffer), 3);
  EXPECT_EQ(std::string(buffer, 4), "Cod#");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(VelGetBarcodeName(5, 64, buffer), 7);
  EXPECT_EQ(std::string(buffer, 8), "Code 93#");
  for (int type = 1; type <= 22; ++type) {
    const int n = VelGetBarcodeName(type, 64, buffer);
    EXPECT_GT(n, 0) << type;
    EXPECT_LT(n, 64) << type;
  }
  std::memset(buffer, '#', sizeof buffer);
  for (int type : {0, 23, -1, 255})
    EXPECT_EQ(VelGetBarcodeName(type, 64, buffer), 0) << type;
  EXPECT_EQ(VelGetBarcodeName(5, 0, buffer), 0);
  EXPECT_EQ(VelGetBarcodeName(5, -1, buffer), 0);
  EXPECT_EQ(VelGetBarcodeName(5, 64, nullptr), 0);
  EXPECT_EQ(buffer[0], '#');
}
