// The configuration record's wire forms, checked against the simulated imager's
// independently written store and against hand-built payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imager/ImagerConfigStore.h"
#include "MemoryStream.h"
#include "config/DeviceConfiguration.h"

using namespace vel;
using Bytes = std::vector<uint8_t>;

namespace {

DeviceConfiguration defaults() {
  DeviceConfiguration r;
  ApplyFactoryDefaults(r);
  return r;
}

// Scalar fields that both wire forms carry.
#define BLOCK_SCALARS(X)                                                                               \
  X(windowX) X(windowY) X(windowWidth) X(windowHeight) X(integrationTime) X(gain) X(log2SubsamplingFactor) \
  X(illuminationSetting) X(noiseLevel) X(lowExtremeIndex) X(highExtremeIndex) X(thresholdBias) X(aeRegionX)  \
  X(aeRegionY) X(aeRegionWidth) X(aeRegionHeight) X(maximumAutoExposureGain)                               \
  X(maximumAutoExposureIntegrationTime) X(maximumAutoExposureIlluminationLevel) X(maxNumberOfBarcodes)      \
  X(numberOfBarcodesMustDecode) X(maxNumberOfCapturesOnTriggerDown) X(gaussWidth) X(gaussFlatArea)          \
  X(gammaFactor) X(noiseFilterPass1Threshold) X(noiseFilterPass2Threshold) X(presentationModeCycleTime)     \
  X(orderingFlags) X(barcodeEnableLow) X(barcodeEnableHigh)
// Scalar fields only the tagged stream carries.
#define TAGGED_SCALARS(X)                                                                                   \
  X(optionFlags) X(imageCorrectionFlags) X(histogramMode) X(histogramLowBound) X(histogramHighBound)           \
  X(histogramBrightness) X(histogramContrast) X(hsvHueAdjust) X(hsvSaturationAdjust) X(hsvValueAdjust)         \
  X(sharpenImageWeight) X(decoderTimeout) X(imageRotationDegree) X(imageSoftwareSubsampling)                   \
  X(fwImageCompressedEnabled) X(imageCompressedQuality) X(timestampEnabled) X(timestampDateFormat)             \
  X(timestampDateOnly) X(timestampOption) X(timestampParameter) X(timestampColor) X(timestampLocation)         \
  X(timestampAnchorX) X(timestampAnchorY) X(perspectiveCorrectionEnabled)

void expectAffixesEqual(const DeviceConfiguration& a, const DeviceConfiguration& b, int from, int to) {
  for (int i = from; i < to; ++i) {
    const PrefixSuffixEntry &x = a.prefixSuffix[i], &y = b.prefixSuffix[i];
    EXPECT_EQ(x.typeId, y.typeId) << "entry " << i;
    ASSERT_EQ(x.prefixLength, y.prefixLength) << "entry " << i;
    ASSERT_EQ(x.suffixLength, y.suffixLength) << "entry " << i;
    EXPECT_EQ(0, std::memcmp(x.prefix, y.prefix, x.prefixLength)) << "entry " << i;
    EXPECT_EQ(0, std::memcmp(x.suffix, y.suffix, x.suffixLength)) << "entry " << i;
  }
}

void expectSameTagged(const DeviceConfiguration& a, const DeviceConfiguration& b, const std::string& what) {
  SCOPED_TRACE(what);
#define CHECK_FIELD(f) EXPECT_EQ(a.f, b.f) << #f;
  BLOCK_SCALARS(CHECK_FIELD)
  TAGGED_SCALARS(CHECK_FIELD)
#undef CHECK_FIELD
  EXPECT_EQ(0, std::memcmp(a.barcodeTypeOrderList, b.barcodeTypeOrderList, sizeof a.barcodeTypeOrderList));
  expectAffixesEqual(a, b, 0, kBarcodeTypeCount);
}

// Fixed form: the carried fields are equal and every other field kept the receiver's value.
void expectSameFixed(const DeviceConfiguration& sent, const DeviceConfiguration& before,
                     const DeviceConfiguration& got, const std::string& what) {
  SCOPED_TRACE(what);
#define CHECK_SENT(f) EXPECT_EQ(got.f, sent.f) << #f;
  BLOCK_SCALARS(CHECK_SENT)
#undef CHECK_SENT
  // Option bits 0-6 and 8-12, correction bits 0, 1 and 3 are carried; the others stay.
  EXPECT_EQ(got.optionFlags & 0x1F7F, sent.optionFlags & 0x1F7F);
  EXPECT_EQ(got.optionFlags & ~0x1F7F, before.optionFlags & ~0x1F7F);
  EXPECT_EQ(got.imageCorrectionFlags & 0x0B, sent.imageCorrectionFlags & 0x0B);
  EXPECT_EQ(got.imageCorrectionFlags & ~0x0B, before.imageCorrectionFlags & ~0x0B);
  EXPECT_EQ(0, std::memcmp(got.barcodeTypeOrderList, sent.barcodeTypeOrderList, 19));
  for (int i = 19; i < kBarcodeTypeCount; ++i) EXPECT_EQ(got.barcodeTypeOrderList[i], 0);
  expectAffixesEqual(sent, got, 0, 19);
  expectAffixesEqual(before, got, 19, kBarcodeTypeCount);  // not in the block
  EXPECT_EQ(got.decoderTimeout, before.decoderTimeout);
  EXPECT_EQ(got.timestampLocation, before.timestampLocation);
}

// A record in which every field differs from its factory value.
DeviceConfiguration busyRecord() {
  DeviceConfiguration r = defaults();
  r.windowX = 32; r.windowY = 64; r.windowWidth = 640; r.windowHeight = 480;
  r.integrationTime = 1234; r.gain = 4321; r.log2SubsamplingFactor = 2; r.illuminationSetting = 200;
  r.noiseLevel = 7; r.lowExtremeIndex = 8; r.highExtremeIndex = 9; r.thresholdBias = -7;
  r.optionFlags = 0xF296;
  r.aeRegionX = 1; r.aeRegionY = 2; r.aeRegionWidth = 2047; r.aeRegionHeight = 1000;
  r.maximumAutoExposureGain = 100; r.maximumAutoExposureIntegrationTime = 60000;
  r.maximumAutoExposureIlluminationLevel = 3; r.maxNumberOfBarcodes = 20; r.numberOfBarcodesMustDecode = 4;
  r.maxNumberOfCapturesOnTriggerDown = 99; r.imageCorrectionFlags = 0x31;
  r.gaussWidth = 11; r.gaussFlatArea = 12; r.gammaFactor = 13; r.noiseFilterPass1Threshold = 14;
  r.noiseFilterPass2Threshold = 15; r.histogramMode = 3; r.histogramLowBound = 16; r.histogramHighBound = 17;
  r.histogramBrightness = 18; r.histogramContrast = 19; r.hsvHueAdjust = -300; r.hsvSaturationAdjust = 40000;
  r.hsvValueAdjust = 3; r.sharpenImageWeight = 0xDEADBEEF; r.presentationModeCycleTime = 77;
  r.orderingFlags = 0x3F;
  const uint8_t order[] = {16, 3, 3, 22, 1, 19, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 20, 21, 2, 4};
  std::memcpy(r.barcodeTypeOrderList, order, sizeof order);
  for (int i = 0; i < kBarcodeTypeCount; ++i) {
    PrefixSuffixEntry& e = r.prefixSuffix[i];
    e.prefixLength = static_cast<uint8_t>(i % 13);
    e.suffixLength = static_cast<uint8_t>((i * 5) % 13);
    for (int k = 0; k < kAffixBytes; ++k) {
      e.prefix[k] = static_cast<uint8_t>(i * 16 + k);
      e.suffix[k] = static_cast<uint8_t>(0xF0 - i - k);
    }
  }
  r.prefixSuffix[7].prefixLength = r.prefixSuffix[7].suffixLength = 0;  // one entry left out of tag 14
  r.barcodeEnableLow = 0x6EFFDDF3; r.barcodeEnableHigh = 0x8000006F;
  r.decoderTimeout = 65535; r.imageRotationDegree = 270; r.imageSoftwareSubsampling = 17;
  r.fwImageCompressedEnabled = 1; r.imageCompressedQuality = 20; r.timestampEnabled = 1; r.timestampDateFormat = 5;
  r.timestampDateOnly = 1; r.timestampOption = 1; r.timestampParameter = 9; r.timestampColor = 6;
  r.timestampLocation = 2; r.timestampAnchorX = 1234; r.timestampAnchorY = 4321; r.perspectiveCorrectionEnabled = 1;
  return r;
}

Bytes writeTagged(const DeviceConfiguration& r) {
  MemoryStream s;
  EXPECT_TRUE(WriteTaggedConfiguration(s, r));
  return s.output;
}

Bytes writeFixed(const DeviceConfiguration& r) {
  MemoryStream s;
  EXPECT_TRUE(WriteFixedConfiguration(s, r));
  return s.output;
}

// record -> wire -> simulator -> wire -> record
DeviceConfiguration throughSimulator(const DeviceConfiguration& r, int level, DeviceConfiguration receiver) {
  sim::ImagerConfigStore imager;
  const Bytes sent = level == 17 ? writeFixed(r) : writeTagged(r);
  EXPECT_TRUE(imager.applySet(level, sent));
  MemoryStream back(imager.answerGet(level));
  const bool ok = level == 17 ? ReadFixedConfiguration(back, receiver) : ReadTaggedConfiguration(back, receiver);
  EXPECT_TRUE(ok);
  EXPECT_EQ(back.position, back.input.size()) << "the whole answer is consumed";
  return receiver;
}

Bytes item(uint8_t tag, const Bytes& payload) {
  Bytes b(3 + payload.size());
  b[0] = tag;
  b[1] = static_cast<uint8_t>(payload.size());
  b[2] = static_cast<uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), b.begin() + 3);
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

DeviceConfiguration decoded(uint8_t tag, const Bytes& payload, DeviceConfiguration r = defaults()) {
  DecodeTag(r, tag, payload.size(), payload.data());
  return r;
}

}  // namespace

TEST(ConfigurationRoundTrip, TaggedThroughTheSimulator) {
  const DeviceConfiguration sent = busyRecord();
  expectSameTagged(sent, throughSimulator(sent, 18, defaults()), "busy record");
  expectSameTagged(defaults(), throughSimulator(defaults(), 18, busyRecord()), "defaults over a busy record");
}

TEST(ConfigurationRoundTrip, FixedThroughTheSimulator) {
  const DeviceConfiguration sent = busyRecord();
  const DeviceConfiguration before = defaults();
  expectSameFixed(sent, before, throughSimulator(sent, 17, before), "busy record");
  expectSameFixed(before, sent, throughSimulator(before, 17, sent), "defaults over a busy record");
}

TEST(ConfigurationRoundTrip, EveryFieldReachesTheSimulatorOnItsOwn) {
  std::vector<std::pair<std::string, std::function<void(DeviceConfiguration&)>>> changes;
  const DeviceConfiguration busy = busyRecord();
#define CHANGE(f) changes.push_back({#f, [busy](DeviceConfiguration& r) { r.f = busy.f; }});
  BLOCK_SCALARS(CHANGE)
  TAGGED_SCALARS(CHANGE)
#undef CHANGE
  for (int bit = 0; bit < 16; ++bit)
    changes.push_back({"option bit " + std::to_string(bit), [bit](DeviceConfiguration& r) { r.optionFlags ^= 1u << bit; }});
  for (int bit = 0; bit < 6; ++bit) {
    changes.push_back({"correction bit " + std::to_string(bit),
                       [bit](DeviceConfiguration& r) { r.imageCorrectionFlags ^= 1u << bit; }});
    changes.push_back({"ordering bit " + std::to_string(bit), [bit](DeviceConfiguration& r) { r.orderingFlags ^= 1u << bit; }});
  }
  for (int bit = 0; bit < 64; ++bit)
    changes.push_back({"symbology bit " + std::to_string(bit),
                       [bit](DeviceConfiguration& r) { setSymbologyFlags(r, symbologyFlags(r) ^ (1ull << bit)); }});
  for (int i = 0; i < kBarcodeTypeCount; ++i) {
    changes.push_back({"order entry " + std::to_string(i), [i](DeviceConfiguration& r) {
                         for (int k = 0; k <= i; ++k) r.barcodeTypeOrderList[k] = static_cast<uint8_t>(22 - k);
                       }});
    changes.push_back({"prefix " + std::to_string(i), [i](DeviceConfiguration& r) {
                         r.prefixSuffix[i].prefixLength = 12;
                         std::memset(r.prefixSuffix[i].prefix, 'A' + i, 12);
                       }});
    changes.push_back({"suffix " + std::to_string(i), [i](DeviceConfiguration& r) {
                         r.prefixSuffix[i].suffixLength = 1;
                         r.prefixSuffix[i].suffix[0] = static_cast<uint8_t>(i);
                       }});
  }
  for (const auto& [name, change] : changes) {
    DeviceConfiguration r = defaults();
    change(r);
    expectSameTagged(r, throughSimulator(r, 18, defaults()), "tagged, " + name);
    expectSameFixed(r, defaults(), throughSimulator(r, 17, defaults()), "fixed, " + name);
  }
}

TEST(TaggedDecoding, LengthMismatchSkipsOnlyThatTag) {
  DeviceConfiguration r = defaults();
  MemoryStream s(concat({item(2, {1, 0, 2, 0, 3, 0, 4}), item(3, {3}), {0xFF}}));
  EXPECT_TRUE(ReadTaggedConfiguration(s, r));
  EXPECT_EQ(r.windowX, 0);
  EXPECT_EQ(r.windowWidth, 1280);
  EXPECT_EQ(r.log2SubsamplingFactor, 3) << "the tag after the bad one is still applied";
}

TEST(TaggedDecoding, OrderListTag) {
  DeviceConfiguration r = decoded(13, {1, 0, 1, 0, 9, 4, 5, 30, 0, 7});
  EXPECT_EQ(r.orderingFlags, 0x15) << "any non-zero byte sets its bit";
  const uint8_t expected[kBarcodeTypeCount] = {5, 0, 7};
  EXPECT_EQ(0, std::memcmp(r.barcodeTypeOrderList, expected, sizeof expected));
  uint8_t payload[kMaxTagPayload];
  ASSERT_EQ(EncodeTag(r, 13, payload), 7u) << "the stored 0 ends the list when sent";
  EXPECT_EQ(payload[5], 1);
  EXPECT_EQ(payload[6], 5);

  // A count that claims more ids than were sent reads only what is there.
  r = decoded(13, {0, 0, 0, 0, 0, 200, 3, 4});
  EXPECT_EQ(r.barcodeTypeOrderList[0], 3);
  EXPECT_EQ(r.barcodeTypeOrderList[1], 4);
  EXPECT_EQ(r.barcodeTypeOrderList[2], 0);

  // More than 23 ids: the list is cut to its 23 entries.
  Bytes many{0, 0, 0, 0, 0, 40};
  for (int i = 0; i < 40; ++i) many.push_back(static_cast<uint8_t>(1 + i % 22));
  r = decoded(13, many);
  for (int i = 0; i < kBarcodeTypeCount; ++i) EXPECT_EQ(r.barcodeTypeOrderList[i], 1 + i % 22);

  // Shorter than 6 bytes: ignored.
  r = busyRecord();
  EXPECT_EQ(decoded(13, {1, 1, 1, 1, 1}, r).barcodeTypeOrderList[0], 16);
}

TEST(TaggedDecoding, PrefixSuffixTag) {
  DeviceConfiguration r = decoded(14, {1, 0});
  EXPECT_TRUE(testBit(r.orderingFlags, kOrderingPrefixSuffixBit));
  for (const PrefixSuffixEntry& e : r.prefixSuffix) {
    EXPECT_EQ(e.prefixLength, 0);
    EXPECT_EQ(e.suffixLength, 0);
  }

  // A 14-byte prefix is cut to 12 and the item after it still lines up; an item
  // with type id 23 ends the list.
  Bytes p{0, 3, 4, 14};
  for (int i = 0; i < 14; ++i) p.push_back(static_cast<uint8_t>('a' + i));
  p.insert(p.end(), {1, 'z', 22, 0, 2, 'x', 'y', 23, 1, 'q', 0});
  r = decoded(14, p, busyRecord());
  EXPECT_FALSE(testBit(r.orderingFlags, kOrderingPrefixSuffixBit));
  EXPECT_EQ(r.prefixSuffix[4].prefixLength, 12);
  EXPECT_EQ(0, std::memcmp(r.prefixSuffix[4].prefix, "abcdefghijkl", 12));
  EXPECT_EQ(r.prefixSuffix[4].suffixLength, 1);
  EXPECT_EQ(r.prefixSuffix[4].suffix[0], 'z');
  EXPECT_EQ(r.prefixSuffix[22].prefixLength, 0);
  EXPECT_EQ(r.prefixSuffix[22].suffixLength, 2);
  EXPECT_EQ(r.prefixSuffix[7].typeId, 7);
  EXPECT_EQ(r.prefixSuffix[3].prefixLength, 0) << "entries not listed are emptied";

  // An item cut short by the end of the payload stores what arrived and stops.
  r = decoded(14, {0, 2, 5, 10, 'a', 'b'});
  EXPECT_EQ(r.prefixSuffix[5].prefixLength, 2);
  EXPECT_EQ(r.prefixSuffix[5].suffixLength, 0);
}

TEST(TaggedDecoding, ValueRules) {
  EXPECT_EQ(decoded(17, {45, 0}).imageRotationDegree, 0);
  EXPECT_EQ(decoded(17, {0x0E, 0x01}).imageRotationDegree, 270);
  EXPECT_EQ(decoded(17, {90, 1}).imageRotationDegree, 0) << "346 is not a rotation";

  DeviceConfiguration r = decoded(25, {1, 2, 1, 1, 5, 6, 9, 0x34, 0x12, 0x78, 0x56});
  EXPECT_EQ(r.timestampLocation, 4);
  EXPECT_EQ(r.timestampAnchorX, 0x1234) << "anchors are taken as sent";
  EXPECT_EQ(r.timestampAnchorY, 0x5678);
  EXPECT_EQ(decoded(25, {0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0}).timestampLocation, 3);

  r = defaults();
  setSymbologyFlags(r, symbologyFlags(r) | (1ull << kSymbologyPerspectiveBit));
  r = decoded(24, {0, 50, 0}, r);
  EXPECT_EQ(r.perspectiveCorrectionEnabled, 0);
  EXPECT_TRUE((symbologyFlags(r) >> kSymbologyPerspectiveBit) & 1) << "tag 24 leaves symbology bit 39 alone";
  EXPECT_EQ(decoded(24, {0x80, 50, 2}).perspectiveCorrectionEnabled, 1);

  EXPECT_EQ(decoded(6, {1, 2, 3, 0xFB, 0, 0, 0}).thresholdBias, -5);
  EXPECT_EQ(decoded(22, {1, 0xD4, 0xFE, 0, 1, 0, 1}).hsvHueAdjust, -300);
  EXPECT_EQ(decoded(26, {1}).windowWidth, 1280) << "unknown tags change nothing";
}

TEST(TaggedEncoding, VariableLengthTags) {
  DeviceConfiguration r = defaults();
  uint8_t p[kMaxTagPayload];
  EXPECT_EQ(EncodeTag(r, 13, p), 6u);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(EncodeTag(r, 14, p), 2u + 20 * 5) << "20 entries carry the CR LF suffix";
  EXPECT_EQ(p[1], 20);
  for (PrefixSuffixEntry& e : r.prefixSuffix) e.suffixLength = 0;
  EXPECT_EQ(EncodeTag(r, 14, p), 2u);
  EXPECT_EQ(p[1], 0);
  for (PrefixSuffixEntry& e : r.prefixSuffix) e.prefixLength = e.suffixLength = kAffixBytes;
  EXPECT_EQ(EncodeTag(r, 14, p), kMaxTagPayload);
}

TEST(TaggedStream, WriterFraming) {
  MemoryStream s;
  ASSERT_TRUE(WriteTaggedConfiguration(s, busyRecord()));
  EXPECT_EQ(s.flushes, 1);
  size_t at = 0;
  for (int tag = 0; tag < kTagCount; ++tag) {
    ASSERT_LT(at + 3, s.output.size());
    EXPECT_EQ(s.output[at], tag);
    at += 3 + (s.output[at + 1] | (s.output[at + 2] << 8));
  }
  ASSERT_EQ(at + 1, s.output.size());
  EXPECT_EQ(s.output[at], 0xFF);
}

TEST(TaggedStream, OverlongTagIsConsumedAndSkipped) {
  Bytes big(2000, 0xAB);
  DeviceConfiguration r = defaults();
  MemoryStream s(concat({item(2, big), item(3, {2}), item(200, {1, 2, 3}), {0xFF}, {0x55}}));
  EXPECT_TRUE(ReadTaggedConfiguration(s, r));
  EXPECT_EQ(r.log2SubsamplingFactor, 2);
  EXPECT_EQ(r.windowWidth, 1280);
  EXPECT_EQ(s.position, s.input.size() - 1) << "reading stops right after the end tag";
}

TEST(TaggedStream, LinkErrorKeepsWhatWasApplied) {
  DeviceConfiguration r = defaults();
  Bytes wire = concat({item(3, {1}), item(2, {1, 0, 2, 0, 3, 0, 4, 0})});
  wire.resize(wire.size() - 3);  // the window payload never completes
  MemoryStream s(wire);
  EXPECT_FALSE(ReadTaggedConfiguration(s, r));
  EXPECT_EQ(r.log2SubsamplingFactor, 1);
  EXPECT_EQ(r.windowX, 0) << "a tag cut by the error is not applied";
}

TEST(FixedStream, LengthWordDecides) {
  const DeviceConfiguration before = defaults();
  DeviceConfiguration r = before;
  MemoryStream wrongLength(concat({{0x58, 0x02}, Bytes(608, 0x11)}));
  EXPECT_FALSE(ReadFixedConfiguration(wrongLength, r));
  EXPECT_TRUE(wrongLength.failed()) << "the stream is out of step";
  EXPECT_EQ(wrongLength.position, 2u) << "nothing after the length is read";
  expectSameTagged(before, r, "record unchanged");

  Bytes cut = writeFixed(busyRecord());
  cut.resize(300);
  MemoryStream shortBlock(cut);
  EXPECT_FALSE(ReadFixedConfiguration(shortBlock, r));
  expectSameTagged(before, r, "record unchanged after a short block");

  MemoryStream written;
  ASSERT_TRUE(WriteFixedConfiguration(written, before));
  ASSERT_EQ(written.output.size(), 610u);
  EXPECT_EQ(written.output[0], 0x60);
  EXPECT_EQ(written.output[1], 0x02);
  EXPECT_EQ(written.flushes, 1);
}

TEST(FixedBlock, CarriedBitsAndReservedBytes) {
  DeviceConfiguration r = busyRecord();
  r.optionFlags = 0xFFFF;
  r.imageCorrectionFlags = 0x3F;
  r.orderingFlags = 0xFFFF;
  uint8_t b[kFixedBlockBytes];
  ToFixedBlock(r, b);
  EXPECT_EQ(b[18] | (b[19] << 8), 0x1F7F) << "bits 7 and 13-15 go as 0";
  EXPECT_EQ(b[36], 0x07) << "noise filter travels as block bit 2";
  EXPECT_EQ(b[42], 0);
  EXPECT_EQ(b[63] | b[64] | b[65], 0);
  EXPECT_EQ(b[66] | (b[67] << 8), 0x3F);
  const uint8_t* entry5 = b + 68 + 5 * 28;
  EXPECT_EQ(entry5[0], 5);
  EXPECT_EQ(entry5[1], 5);
  EXPECT_EQ(entry5[3], 0);
  for (int k = 5; k < 12; ++k) EXPECT_EQ(entry5[4 + k], 0) << "bytes beyond the prefix length are 0";

  // Receipt keeps constant illumination (bit 7) and the uncarried correction bits.
  DeviceConfiguration got = defaults();
  got.optionFlags |= 1u << kOptConstantIllumination;
  got.imageCorrectionFlags = 1u << kCorrHistogram;
  std::memset(b + 18, 0, 2);
  b[36] = 0x04;
  b[68 + 2 * 28 + 1] = 200;  // an impossible prefix length
  FromFixedBlock(b, got);
  EXPECT_EQ(got.optionFlags, 1u << kOptConstantIllumination);
  EXPECT_EQ(got.imageCorrectionFlags, (1u << kCorrHistogram) | (1u << kCorrNoiseFilter));
  EXPECT_EQ(got.prefixSuffix[2].prefixLength, 12);
}

namespace {
// Compact form: 54 fixed bytes, then the order ids and the prefix/suffix items.
Bytes compactPayload(const Bytes& order, const Bytes& items) {
  Bytes p(53, 0);
  for (int i = 0; i < 6; ++i) { p[2 * i] = static_cast<uint8_t>(10 + i); p[2 * i + 1] = 1; }  // 0x10A..
  for (int i = 12; i < 18; ++i) p[i] = static_cast<uint8_t>(i);
  for (int i = 18; i < 30; ++i) p[i] = static_cast<uint8_t>(0x40 + i);
  for (int i = 30; i < 40; ++i) p[i] = static_cast<uint8_t>(0x80 + i);
  p[34] = 0x05;  // Gauss and noise filter
  p[40] = 42;
  p[41] = 0x00; p[42] = 0x11;  // option bits 8 and 12
  p[43] = 0x21; p[44] = 0x00;
  for (int i = 45; i < 53; ++i) p[i] = static_cast<uint8_t>(i);
  p.push_back(static_cast<uint8_t>(order.size()));
  p.insert(p.end(), order.begin(), order.end());
  p.insert(p.end(), items.begin(), items.end());
  return p;
}
}  // namespace

TEST(ConfigurationPayloads, CompactForm) {
  Bytes order(25);
  for (int i = 0; i < 25; ++i) order[i] = static_cast<uint8_t>(i + 1);
  const Bytes items{3, 3, 2, 'p', 'q', 1, '!', 19, 1, 'x', 0, 4, 0, 0};
  const Bytes payload = compactPayload(order, items);
  DeviceConfiguration r = defaults();
  ASSERT_TRUE(ApplyCompactPayload(r, payload.data(), payload.size()));
  EXPECT_EQ(r.windowX, 0x10A);
  EXPECT_EQ(r.gain, 0x10F);
  EXPECT_EQ(r.log2SubsamplingFactor, 12);
  EXPECT_EQ(r.thresholdBias, 17);
  EXPECT_EQ(r.aeRegionX, 0x5352);
  EXPECT_EQ(r.maximumAutoExposureIntegrationTime, 0x5D5C);
  EXPECT_EQ(r.maximumAutoExposureIlluminationLevel, 0x9E);
  EXPECT_EQ(r.maxNumberOfCapturesOnTriggerDown, 0xA1);
  EXPECT_EQ(r.imageCorrectionFlags, (1u << kCorrGauss) | (1u << kCorrHistogram) | (1u << kCorrNoiseFilter));
  EXPECT_EQ(r.noiseFilterPass2Threshold, 0xA7);
  EXPECT_EQ(r.presentationModeCycleTime, 42);
  EXPECT_EQ(r.optionFlags, 0x1100);
  EXPECT_EQ(r.orderingFlags, 0x21);
  EXPECT_EQ(r.barcodeEnableLow, 0x302F2E2Du);
  EXPECT_EQ(r.barcodeEnableHigh, 0x34333231u);
  for (int i = 0; i < 19; ++i) EXPECT_EQ(r.barcodeTypeOrderList[i], i + 1) << "more than 19 ids are cut";
  EXPECT_EQ(r.barcodeTypeOrderList[19], 0);
  EXPECT_EQ(r.prefixSuffix[3].prefixLength, 2);
  EXPECT_EQ(r.prefixSuffix[3].suffixLength, 1);
  EXPECT_EQ(r.prefixSuffix[3].suffix[0], '!');
  EXPECT_EQ(r.prefixSuffix[4].suffixLength, 0) << "items after type id 19 are not read; entries start empty";
  EXPECT_EQ(r.prefixSuffix[20].suffixLength, 2) << "entries 19..22 are not in the compact form";

  DeviceConfiguration untouched = defaults();
  EXPECT_FALSE(ApplyCompactPayload(untouched, payload.data(), 53));
  expectSameTagged(defaults(), untouched, "short compact payload");
}

TEST(ConfigurationPayloads, FormByteSelects) {
  Bytes tagged{7};
  const Bytes items = concat({item(3, {2}), {0xFF}, item(2, {1, 0, 1, 0, 1, 0, 1, 0})});
  tagged.insert(tagged.end(), items.begin(), items.end());
  DeviceConfiguration r = busyRecord();
  ASSERT_TRUE(ApplyConfigurationPayload(r, tagged.data(), tagged.size()));
  EXPECT_EQ(r.log2SubsamplingFactor, 2);
  EXPECT_EQ(r.windowX, 0) << "factory defaults first, nothing after the end tag";
  EXPECT_EQ(r.gain, 5120);

  // A tagged payload whose last item runs past the end stops before it.
  const Bytes cut{7, 3, 1, 0, 1, 2, 10, 0, 1};
  r = busyRecord();
  ASSERT_TRUE(ApplyConfigurationPayload(r, cut.data(), cut.size()));
  EXPECT_EQ(r.log2SubsamplingFactor, 1);
  EXPECT_EQ(r.windowWidth, 1280);

  const Bytes other{5, 1, 2};
  EXPECT_FALSE(ApplyConfigurationPayload(r, other.data(), other.size()));
}

TEST(FactoryDefaults, NotableValues) {
  const DeviceConfiguration r = defaults();
  EXPECT_EQ(r.optionFlags, 0x0D69);
  EXPECT_EQ(r.imageCorrectionFlags, 0x0E);
  EXPECT_EQ(symbologyFlags(r), 0x000000109100220Cull);
  EXPECT_EQ(r.prefixSuffix[3].suffixLength, 2);
  EXPECT_EQ(r.prefixSuffix[3].suffix[0], 0x0D);
  EXPECT_EQ(r.prefixSuffix[3].suffix[1], 0x0A);
  for (int id : {0, 19, 22}) EXPECT_EQ(r.prefixSuffix[id].suffixLength, 0) << id;
  EXPECT_EQ(r.timestampLocation, 4);
  EXPECT_EQ(r.timestampAnchorX, 0xFFFF);
  EXPECT_EQ(r.timestampAnchorY, 0);
  EXPECT_STREQ(r.imageSourceFolder, ".\\");
  // The simulator starts from the same factory settings.
  sim::ImagerConfigStore imager;
  MemoryStream fromImager(imager.answerGet(18));
  DeviceConfiguration got{};
  ASSERT_TRUE(ReadTaggedConfiguration(fromImager, got));
  expectSameTagged(r, got, "simulator factory settings");
}

TEST(SimulatorStore, HoldsWhatTheHostSent) {
  sim::ImagerConfigStore imager;
  ASSERT_TRUE(imager.applySet(18, writeTagged(busyRecord())));
  const sim::ImagerSettings& s = imager.settings();
  EXPECT_EQ(s.window, (std::array<uint16_t, 4>{32, 64, 640, 480}));
  EXPECT_EQ(s.threshold, -7);
  EXPECT_EQ(s.hue, -300);
  EXPECT_TRUE(s.option[15]);
  EXPECT_FALSE(s.option[0]);
  EXPECT_EQ(s.symbologies, 0x8000006F6EFFDDF3ull);
  EXPECT_EQ(s.typeOrder.size(), 23u);
  EXPECT_EQ(s.affix[4].prefix.size(), 4u);
  EXPECT_TRUE(s.affix[7].prefix.empty() && s.affix[7].suffix.empty());
  EXPECT_EQ(s.stampAnchorY, 4321);

  sim::ImagerConfigStore fixedImager;
  ASSERT_TRUE(fixedImager.applySet(17, writeFixed(busyRecord())));
  EXPECT_EQ(fixedImager.settings().window[2], 640);
  EXPECT_FALSE(fixedImager.settings().option[15]) << "not in the block: the imager keeps its own";
  EXPECT_EQ(fixedImager.settings().decoderTimeoutMs, 500);
}

TEST(SimulatorStore, RequestCompleteness) {
  const Bytes tagged = writeTagged(busyRecord());
  for (size_t have = 0; have < tagged.size(); have += 7)
    EXPECT_GT(sim::ImagerConfigStore::bytesStillNeeded(18, tagged.data(), have), 0u) << have;
  EXPECT_EQ(sim::ImagerConfigStore::bytesStillNeeded(18, tagged.data(), tagged.size()), 0u);
  const Bytes fixed = writeFixed(busyRecord());
  EXPECT_EQ(sim::ImagerConfigStore::bytesStillNeeded(17, fixed.data(), 1), 1u);
  EXPECT_EQ(sim::ImagerConfigStore::bytesStillNeeded(17, fixed.data(), 2), 608u);
  EXPECT_EQ(sim::ImagerConfigStore::bytesStillNeeded(17, fixed.data(), 610), 0u);

  sim::ImagerConfigStore imager;
  Bytes unterminated(tagged.begin(), tagged.end() - 1);
  EXPECT_FALSE(imager.applySet(18, unterminated));
  const Bytes wrongLength{0x10, 0x00, 1, 2};
  EXPECT_FALSE(imager.applySet(17, wrongLength));
}

// Arbitrary bytes from the imager or a barcode never push a length past its field
// (run under the sanitizers, this also catches reads outside the input).
TEST(ConfigurationPayloads, ArbitraryInputKeepsTheRecordsLimits) {
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    const size_t length = next() % 700;
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(next() % 4 == 0 ? next() % 24 : next());
    DeviceConfiguration r = defaults();
    DecodeTag(r, static_cast<int>(next() % 30), length, bytes.data());
    if (!bytes.empty()) bytes[0] = round % 2 ? 6 : 7;
    ApplyConfigurationPayload(r, bytes.data(), bytes.size());
    MemoryStream wire(bytes);
    ReadTaggedConfiguration(wire, r);
    for (const PrefixSuffixEntry& e : r.prefixSuffix) {
      ASSERT_LE(e.prefixLength, kAffixBytes);
      ASSERT_LE(e.suffixLength, kAffixBytes);
    }
    uint8_t p[kMaxTagPayload];
    for (int tag = 0; tag < kTagCount; ++tag) ASSERT_LE(EncodeTag(r, tag, p), kMaxTagPayload);
  }
}
