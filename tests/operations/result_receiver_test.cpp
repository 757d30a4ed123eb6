// The result receiver: what it stores, publishes and announces for received
// sections, tick scaling, configuration barcodes, and the limits of the store.
#include <gtest/gtest.h>

#include <cstring>

#include "ResultFixture.h"
#include "config/ImagerIdentity.h"

using namespace sections;
using vel::ResultStore;

namespace {

class ResultReceiverTest : public ResultFixture {
 protected:
  ResultStore published() {
    return shared.read([](const ResultStore& s) { return s; });
  }
  Bytes oneBarcodeThenTiming(const Barcode& b) {
    Bytes section = barcodeRecord(b);
    append(section, timingRecord(1000, 5000, 3000, 8000));
    return section;
  }
  Bytes sectionOf(int barcodes) {
    Bytes section;
    for (int i = 0; i < barcodes; ++i) {
      Barcode b;
      b.type = static_cast<uint8_t>(i + 1);
      b.data = Bytes{static_cast<uint8_t>(i)};
      append(section, barcodeRecord(b));
    }
    append(section, timingRecord(0, 0, 0, 0));
    return section;
  }
};

const Notice kProgress = progress(0, 3);
const Notice kReady = progress(0, 6);
const Notice kSettingsChanged = configurationChanged(2);

}  // namespace

TEST_F(ResultReceiverTest, ASectionIsStoredPublishedAndAnnounced) {
  Barcode b;
  b.data = Bytes{'H', 'e', 'l', 'l', 'o'};
  bool ok = false;
  EXPECT_EQ(receive(oneBarcodeThenTiming(b), &ok), (Bytes{1, 1}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(callbacks.notices, (std::vector<Notice>{kProgress, kProgress, kReady}));
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 1);
  EXPECT_EQ(s.barcode(0)->type, 3);
  EXPECT_EQ(s.barcode(0)->data, b.data);
  const int32_t corners[vel::kCornerValues] = {10, 20, 110, 21, 12, 80, 111, 81};
  EXPECT_TRUE(std::equal(corners, corners + vel::kCornerValues, s.barcode(0)->corners));
  EXPECT_EQ(receiver.store().count(), 1);

  // The next section starts from an empty store.
  receive(sectionOf(0));
  EXPECT_EQ(published().count(), 0);
  EXPECT_EQ(callbacks.notices, (std::vector<Notice>{kProgress, kReady}));
}

TEST_F(ResultReceiverTest, TickCountsAreScaledByProcessorType) {
  struct Case {
    int processor;
    uint32_t barcodeTicks;
    int32_t capture, autoExposure, processing, barcode;
  };
  const Case cases[] = {
      {vel::kProcessorMx1, 400, 500, 500, 2000, 100},
      {vel::kProcessorMx1, 0xFFFFFFFF, 500, 500, 2000, 1073741823},
      {vel::kProcessorSa1110, 400, 542, 542, 2170, 108},
      {vel::kProcessorSa1110, 0xFFFFFFFF, 542, 542, 2170, 1165084415},
  };
  for (const Case& c : cases) {
    receiver.setProcessorType(c.processor);
    Barcode b;
    b.ticks = c.barcodeTicks;
    receive(oneBarcodeThenTiming(b));
    const ResultStore s = published();
    EXPECT_EQ(s.captureTime, c.capture) << c.processor;
    EXPECT_EQ(s.autoExposureTime, c.autoExposure) << c.processor;
    EXPECT_EQ(s.imageProcessingTime, c.processing) << c.processor;
    EXPECT_EQ(s.barcode(0)->processingTime, c.barcode) << c.processor << " " << c.barcodeTicks;
  }
}

TEST_F(ResultReceiverTest, AnUnknownProcessorTypeLeavesTheTimesUnwritten) {
  receiver.setProcessorType(vel::kProcessorMx1);
  receive(oneBarcodeThenTiming(Barcode{}));  // 500, 500, 2000
  receiver.setProcessorType(2);
  Barcode b;
  b.ticks = 4000;
  Bytes other = barcodeRecord(b);
  append(other, timingRecord(0, 100, 20, 4000));
  receive(other);
  const ResultStore s = published();
  EXPECT_EQ(s.captureTime, 500);
  EXPECT_EQ(s.autoExposureTime, 500);
  EXPECT_EQ(s.imageProcessingTime, 2000);
  EXPECT_EQ(s.barcode(0)->processingTime, 0);
}

TEST_F(ResultReceiverTest, CaptureTimesOfTheLastTimingRecordStayWhenASectionEndsWithoutOne) {
  receive(oneBarcodeThenTiming(Barcode{}));
  bool ok = true;
  receive(barcodeRecord(Barcode{}), &ok);
  EXPECT_FALSE(ok);
  const ResultStore s = published();
  EXPECT_EQ(s.count(), 1);
  EXPECT_EQ(s.captureTime, 500);
  EXPECT_EQ(s.imageProcessingTime, 2000);
}

TEST_F(ResultReceiverTest, AStoppedSectionLeavesTheSharedResultsAsTheyWere) {
  receive(sectionOf(2));
  callbacks.stop = true;
  bool ok = true;
  EXPECT_EQ(receive(sectionOf(5), &ok), (Bytes{0}));
  EXPECT_FALSE(ok);
  EXPECT_EQ(callbacks.notices, (std::vector<Notice>{kProgress, kProgress}));
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 2);
  EXPECT_EQ(s.barcode(1)->type, 2);

  // Stopped while the stream fails: still nothing published.
  receive(Bytes{2, 30, 9});
  EXPECT_EQ(published().count(), 2);
  EXPECT_EQ(callbacks.notices, (std::vector<Notice>{kProgress, kProgress}));
}

TEST_F(ResultReceiverTest, AReadFailurePublishesWhatArrivedBeforeIt) {
  Bytes section = sectionOf(2);
  section.resize(section.size() - timingRecord(0, 0, 0, 0).size());
  append(section, Bytes{2, 30, 9, 0});  // a third barcode cut after its flag byte
  bool ok = true;
  EXPECT_EQ(receive(section, &ok), (Bytes{1, 1}));
  EXPECT_FALSE(ok);
  EXPECT_EQ(callbacks.notices, (std::vector<Notice>{kProgress, kProgress, kProgress, kProgress, kReady}));
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 3);
  EXPECT_EQ(s.barcode(2)->type, 9);
}

TEST_F(ResultReceiverTest, ABarcodeCutShortAfterItsTypeKeepsNothingOfAnEarlierOne) {
  Barcode full;
  full.ticks = 4000;
  full.data = Bytes{1, 2, 3};
  receive(oneBarcodeThenTiming(full));
  receive(Bytes{2, 30, 7});
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 1);
  const vel::BarcodeResult& b = *s.barcode(0);
  EXPECT_EQ(b.type, 7);
  EXPECT_TRUE(b.data.empty());
  EXPECT_EQ(b.processingTime, 0);
  for (int32_t corner : b.corners) EXPECT_EQ(corner, 0);
}

TEST_F(ResultReceiverTest, RecordsPastTheTwentiethAreAcknowledgedButNotStored) {
  EXPECT_EQ(receive(sectionOf(22)), Bytes(23, 1));
  EXPECT_EQ(callbacks.notices.size(), 24u);
  EXPECT_EQ(callbacks.notices.back(), kReady);
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(s.barcode(i)->type, i + 1);
  EXPECT_EQ(s.barcode(20), nullptr);
  EXPECT_EQ(s.barcode(-1), nullptr);
}

TEST_F(ResultReceiverTest, DataLongerThanTheRecordBufferIsCutToIt) {
  receiver.setProcessorType(vel::kProcessorMx1);
  Barcode b;
  for (int i = 0; i < 5000; ++i) b.data.push_back(static_cast<uint8_t>(i % 251));
  bool ok = false;
  receive(oneBarcodeThenTiming(b), &ok);
  EXPECT_TRUE(ok);
  const ResultStore s = published();
  ASSERT_EQ(s.count(), 1);
  EXPECT_EQ(s.barcode(0)->data, Bytes(b.data.begin(), b.data.begin() + 4096));
  EXPECT_EQ(s.imageProcessingTime, 2000);
}

TEST_F(ResultReceiverTest, CopyingDataIsBoundedByTheCallersLength) {
  Barcode b;
  b.data = Bytes{'H', 'e', 'l', 'l', 'o'};
  receive(oneBarcodeThenTiming(b));
  const ResultStore s = published();
  uint8_t buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(s.copyData(0, 4096, buffer), 5);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{'H', 'e', 'l', 'l', 'o', 0xEE}));
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(s.copyData(0, 3, buffer), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{'H', 'e', 'l', 0xEE}));
  std::memset(buffer, 0xEE, sizeof buffer);
  for (int maxLength : {0, -1, -4096}) EXPECT_EQ(s.copyData(0, maxLength, buffer), 0);
  EXPECT_EQ(s.copyData(0, 8, nullptr), 0);
  for (int index : {-1, 1, 20, 21}) EXPECT_EQ(s.copyData(index, 8, buffer), 0);
  EXPECT_EQ(buffer[0], 0xEE);
}

// Configuration barcodes ----------------------------------------------------

namespace {

class ConfigurationBarcodeTest : public ResultReceiverTest {
 protected:
  void SetUp() override {
    vel::ApplyFactoryDefaults(configuration);
    configuration.gain = 1234;
    remember();
  }
  void remember() { std::memcpy(before, &configuration, sizeof before); }
  bool unchanged() const { return std::memcmp(before, &configuration, sizeof before) == 0; }

  // One configuration barcode record then timing; answers the notices.
  std::vector<Notice> scan(const Bytes& data, uint8_t type = 19, uint8_t flags = 1) {
    Barcode b;
    b.type = type;
    b.flags = flags;
    b.data = data;
    receive(oneBarcodeThenTiming(b));
    EXPECT_EQ(published().barcode(0)->data, data);
    return callbacks.notices;
  }

  void useAffixes(uint8_t type, uint8_t prefixLength, uint8_t suffixLength) {
    vel::putBit(configuration.orderingFlags, vel::kOrderingPrefixSuffixBit, true);
    configuration.prefixSuffix[type].prefixLength = prefixLength;
    configuration.prefixSuffix[type].suffixLength = suffixLength;
    remember();
  }

  uint8_t before[sizeof(vel::DeviceConfiguration)];
};

const std::vector<Notice> kApplied{kProgress, kSettingsChanged, kProgress, kReady};
const std::vector<Notice> kNotApplied{kProgress, kProgress, kReady};
const Bytes kTaggedSubsampling{7, 18, 1, 0, 4, 255};  // tag 18 (software subsampling) = 4

Bytes compactWindow() {
  Bytes payload(1 + 54, 0);
  payload[0] = 6;
  payload[1] = 0x23;  // window x
  payload[2] = 0x01;
  payload[5] = 0x80;  // window width
  payload[6] = 0x02;
  return payload;
}

}  // namespace

TEST_F(ConfigurationBarcodeTest, NoChangeFormIsAnnouncedAndChangesNothing) {
  EXPECT_EQ(scan(configurationData({1})), kApplied);
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(scan(configurationData({1, 0x55, 0x66})), kApplied);
  EXPECT_TRUE(unchanged());
}

TEST_F(ConfigurationBarcodeTest, TaggedFormStartsFromFactoryDefaults) {
  EXPECT_EQ(scan(configurationData(kTaggedSubsampling)), kApplied);
  EXPECT_EQ(configuration.imageSoftwareSubsampling, 4);
  EXPECT_EQ(configuration.gain, 5120);
  EXPECT_EQ(configuration.windowWidth, 1280);
}

TEST_F(ConfigurationBarcodeTest, CompactFormReplacesTheRecord) {
  EXPECT_EQ(scan(configurationData(compactWindow())), kApplied);
  EXPECT_EQ(configuration.windowX, 0x0123);
  EXPECT_EQ(configuration.windowWidth, 640);
  EXPECT_EQ(configuration.gain, 0);
}

TEST_F(ConfigurationBarcodeTest, BarcodesThatDoNotQualifyAreStoredAndChangeNothing) {
  Bytes badCheck = configurationData(kTaggedSubsampling);
  badCheck[0] ^= 0x01;
  Bytes shortCompact = compactWindow();
  shortCompact.resize(40);
  const Bytes cases[] = {
      badCheck,
      configurationData(shortCompact),
      configurationData({9, 1, 2}),  // unknown form
      configurationData({}),         // check value of nothing, no form byte
      {0xFF},                        // shorter than a check value
  };
  for (const Bytes& data : cases) {
    EXPECT_EQ(scan(data), kNotApplied);
    EXPECT_TRUE(unchanged());
  }
  // Without the configuration flag the data is only a barcode.
  EXPECT_EQ(scan(configurationData(kTaggedSubsampling), 19, 0x02), kNotApplied);
  EXPECT_TRUE(unchanged());
}

TEST_F(ConfigurationBarcodeTest, PrefixAndSuffixOfTheTypeSurroundTheCheckedPart) {
  useAffixes(19, 2, 3);
  const Bytes withAffixes = configurationData(kTaggedSubsampling, {'<', '<'}, {'>', '>', '>'});
  EXPECT_EQ(scan(withAffixes), kApplied);
  EXPECT_EQ(configuration.imageSoftwareSubsampling, 4);

  // Another type's entry does not apply; with the option off, affixes are data.
  SetUp();
  useAffixes(19, 2, 3);
  EXPECT_EQ(scan(withAffixes, 4), kNotApplied);
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(scan(configurationData(kTaggedSubsampling), 200), kApplied);

  SetUp();
  useAffixes(19, 2, 3);
  vel::putBit(configuration.orderingFlags, vel::kOrderingPrefixSuffixBit, false);
  remember();
  EXPECT_EQ(scan(withAffixes), kNotApplied);
  EXPECT_TRUE(unchanged());
}

TEST_F(ConfigurationBarcodeTest, DataShorterThanItsAffixesIsNotExamined) {
  useAffixes(19, 12, 12);
  for (size_t length : {size_t{0}, size_t{5}, size_t{25}, size_t{26}}) {
    EXPECT_EQ(scan(Bytes(length, 0xFF)), kNotApplied) << length;
    EXPECT_TRUE(unchanged()) << length;
  }
}
