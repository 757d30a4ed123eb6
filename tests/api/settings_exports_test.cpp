// The settings interface: value and switch families, the rules that adapt a value
// to the connected imager, the microsecond conversions, the symbology lists, the
// factory-default reset and the pre-movie save and restore.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"
#include "config/Symbology.h"

using namespace vel;

namespace {

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    // A store that does not exist: host settings read as defaults, writes fail.
    setenv("VEL_HOST_SETTINGS", "/nonexistent-velmora-test/host-settings", 1);
#endif
    ApplyFactoryDefaults(deviceConfiguration());
    use(kSensorStandard, kProcessorMx1);
  }
  void TearDown() override { use(kSensorStandard, kProcessorMx1); }
  static void use(int sensor, int processor) {
    library().sensorType = sensor;
    library().processorType = processor;
  }
  DeviceConfiguration& record() { return deviceConfiguration(); }
};

}  // namespace

TEST_F(Settings, ValuesStoreTheLowBitsAndWidenBySign) {
  VelSetThresholdBias(-5);
  EXPECT_EQ(VelGetThresholdBias(), -5);
  VelSetIlluminationLevel(-1);
  EXPECT_EQ(VelGetIlluminationLevel(), 255);
  VelSetImageCorrectionColorHue(-300);
  EXPECT_EQ(VelGetImageCorrectionColorHue(), -300);
  VelSetImageCorrectionColorSaturation(0x1FFFF);
  EXPECT_EQ(VelGetImageCorrectionColorSaturation(), 0xFFFF);
  VelSetGain(70000);
  EXPECT_EQ(VelGetGain(), 70000 & 0xFFFF);
  VelSetImageCorrectionSharpenImageWeight(0x1234);
  EXPECT_EQ(VelGetImageCorrectionSharpenImageWeight(), 0x34);
  // The two Gauss setters are named the other way round from their getters.
  VelSetGaussCorrectionWidth(11);
  VelSetGaussCorrectionFlatArea(22);
  EXPECT_EQ(VelGetImageCorrectionGaussWidth(), 11);
  EXPECT_EQ(VelGetImageCorrectionGaussFlatArea(), 22);
  VelSetDecoderTimeoutInMilliSeconds(1500);
  EXPECT_EQ(record().decoderTimeout, 1500);
}

TEST_F(Settings, SwitchesTestTheLowByteExceptTheBackgroundThree) {
  VelSetBeeperEnabled(256);
  EXPECT_EQ(VelGetBeeperEnabled(), 0);
  VelSetBeeperEnabled(0x101);
  EXPECT_EQ(VelGetBeeperEnabled(), 1);
  VelSetDefaultBackgroundColour(0);
  EXPECT_EQ(VelGetDefaultBackgroundColour(), 0);
  VelSetDefaultBackgroundColour(256);
  EXPECT_EQ(VelGetDefaultBackgroundColour(), 1);
  VelSetPerimeterBackgroundMode(0x10000);
  EXPECT_EQ(record().optionFlags & 4, 4);
  const uint16_t before = record().optionFlags;
  VelSetConstantIlluminationModeEnabled(1);
  EXPECT_EQ(record().optionFlags, before | (1u << kOptConstantIllumination)) << "only its own bit changes";
  VelSetTriggerCameraModeEnabled(1);
  EXPECT_EQ(VelGetTriggerCameraModeEnabled(), 1);
  EXPECT_TRUE(testBit(record().optionFlags, 14));
#ifndef _WIN32
  // The second export names of the beeper pair are the same functions.
  VelSetTriggerBeeperEnabled(0);
  EXPECT_EQ(VelGetBeeperEnabled(), 0);
  EXPECT_EQ(VelGetTriggerBeeperEnabled(), 0);
#endif
}

TEST_F(Settings, SwitchesThatDependOnTheImager) {
  VelSetTriggerBinaryImageReadEnabled(1);
  EXPECT_EQ(VelGetTriggerBinaryImageReadEnabled(), 0) << "Mx1";
  use(kSensorStandard, kProcessorSa1110);
  VelSetTriggerBinaryImageReadEnabled(1);
  EXPECT_EQ(VelGetTriggerBinaryImageReadEnabled(), 1);

  VelSetAutoExposureBuiltInSensorEnabled(1);
  VelSetImageCorrectionColorHsvAdjustmentEnabled(1);
  EXPECT_EQ(VelGetAutoExposureBuiltInSensorEnabled(), 0);
  EXPECT_EQ(VelGetImageCorrectionColorHsvAdjustmentEnabled(), 0);
  VelSetImageCorrectionNoiseFilterEnabled(1);
  EXPECT_EQ(VelGetImageCorrectionNoiseFilterEnabled(), 1);

  use(kSensorOv9640, kProcessorMx1);
  VelSetImageCorrectionNoiseFilterEnabled(1);
  VelSetImageCorrectionSharpenImageEnabled(1);
  EXPECT_EQ(VelGetImageCorrectionNoiseFilterEnabled(), 0);
  EXPECT_EQ(VelGetImageCorrectionSharpenImageEnabled(), 0);
  VelSetAutoExposureBuiltInSensorEnabled(1);
  VelSetImageCorrectionColorHsvAdjustmentEnabled(1);
  EXPECT_EQ(VelGetAutoExposureBuiltInSensorEnabled(), 1);
  EXPECT_EQ(VelGetImageCorrectionColorHsvAdjustmentEnabled(), 1);
  EXPECT_TRUE(testBit(record().imageCorrectionFlags, kCorrHsv));
}

TEST_F(Settings, HistogramModeIsASelector) {
  VelSetImageHistogramCorrectionUsesBounds(1);
  EXPECT_EQ(VelGetImageHistogramCorrectionUsesBounds(), 1);
  EXPECT_EQ(VelGetImageHistogramCorrectionAutomatic(), 0);
  VelSetImageHistogramCorrectionUsesBounds(0);
  VelSetImageHistogramCorrectionAutomatic(256);
  EXPECT_EQ(record().histogramMode, 2) << "a zero low byte changes nothing";
  VelSetImageHistogramCorrectionUsesBrightnessContrast(1);
  EXPECT_EQ(record().histogramMode, 3);
  EXPECT_EQ(VelGetImageHistogramCorrectionUsesBrightnessContrast(), 1);
}

TEST_F(Settings, SymbologyAndOrderingSwitchesAcrossBothWords) {
  VelSetUPCEEnabled(0);
  EXPECT_EQ(record().barcodeEnableLow & 0x80000000u, 0u);
  VelSetUPCESupplements2Enabled(1);
  EXPECT_EQ(record().barcodeEnableHigh & 1u, 1u);
  VelSetAll1dCodesStrongRecoveryEnabled(1);
  EXPECT_EQ(VelGetAll1dCodesStrongRecoveryEnabled(), 1);
  EXPECT_EQ(record().barcodeEnableHigh & 0x80000000u, 0x80000000u);
  VelSetPostalCanadaEnabled(1);
  EXPECT_EQ(symbologyFlags(record()) >> 38 & 1, 1u);
  EXPECT_EQ(symbologyFlags(record()) >> 36 & 1, 1u) << "bit 36 keeps its factory value";
  EXPECT_EQ(VelGetPostalKixEnabled(), 0);
  VelSetCode128Enabled(0);
  EXPECT_EQ(VelGetCode128Enabled(), 0);
  EXPECT_EQ(VelGetCode39Enabled(), 1);

  VelSetPrefixSuffixEnabled(1);
  VelSetOrderBySizeAscendentEnabled(1);
  EXPECT_EQ(record().orderingFlags, 0x28);
  EXPECT_EQ(VelGetSingleTargettedBarcodeEnabled(), 0);
}

TEST_F(Settings, WindowRules) {
  VelSetWindowWidth(100);
  EXPECT_EQ(VelGetWindowWidth(), 96);
  VelSetWindowWidth(10);
  EXPECT_EQ(VelGetWindowWidth(), 64);
  VelSetWindowHeight(10);
  EXPECT_EQ(VelGetWindowHeight(), 64);
  VelSetWindowHeight(1000);
  EXPECT_EQ(VelGetWindowHeight(), 992);
  VelSetWindowX(101);
  EXPECT_EQ(VelGetWindowX(), 101);
  VelSetLog2SubsamplingFactor(2);
  EXPECT_EQ(VelGetLog2SubsamplingFactor(), 0);

  use(kSensorOv9650, kProcessorSa1110);
  VelSetWindowWidth(100);
  EXPECT_EQ(VelGetWindowWidth(), 128);
  VelSetWindowX(101);
  EXPECT_EQ(VelGetWindowX(), 100);
  VelSetLog2SubsamplingFactor(2);
  EXPECT_EQ(VelGetLog2SubsamplingFactor(), 2);
}

TEST_F(Settings, SubsamplingAndRotationRules) {
  VelSetImageSoftwareSubsamplingFactor(0);
  EXPECT_EQ(VelGetImageSoftwareSubsamplingFactor(), 1);
  VelSetImageSoftwareSubsamplingFactor(20);
  EXPECT_EQ(VelGetImageSoftwareSubsamplingFactor(), 16);
  use(kSensorOv9640, kProcessorMx1);
  EXPECT_EQ(VelSetImageSoftwareSubsamplingFactor(20), 17);
  EXPECT_EQ(VelSetImageSoftwareSubsamplingFactor(2), 3);
  EXPECT_EQ(VelSetImageSoftwareSubsamplingFactor(-4), 1);

  EXPECT_NE(VelSetImageRotationDegrees(45), 0);
  EXPECT_EQ(VelGetImageRotationDegrees(), 0);
  EXPECT_EQ(VelSetImageRotationDegrees(270), 0);
  EXPECT_EQ(VelGetImageRotationDegrees(), 270);
  EXPECT_NE(VelSetImageRotationDegrees(270 + 65536), 0);
}

// Expected values computed exactly from the single-precision constants; each row
// includes a value that comes out one lower or higher with the decimal constants.
TEST_F(Settings, MicrosecondConversions) {
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(1000), 1308);
  EXPECT_EQ(VelGetIntegrationTime(), 1308);
  EXPECT_EQ(VelGetIntegrationTimeInMicroSeconds(), 999);
  VelSetIntegrationTime(25020);
  EXPECT_EQ(VelGetIntegrationTimeInMicroSeconds(), 19122);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(0), 0);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(7), 9);

  use(kSensorStandard, kProcessorSa1110);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(1000), 1501);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(11802), 17724);
  VelSetIntegrationTime(5279);
  EXPECT_EQ(VelGetIntegrationTimeInMicroSeconds(), 3514);
  EXPECT_EQ(VelSetMaximumAutoExposureIntegrationTimeInMicroSeconds(1000), 1501);
  VelSetMaximumAutoExposureIntegrationTime(26169);
  EXPECT_EQ(VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds(), 17424);

  use(kSensorOv9650, kProcessorSa1110);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(5000), 55);
  // 6250 us is 69 units exactly in decimals: the imager's constant (0x3C34E11D) lies
  // just below 0.01104 and gives 68, the float nearest 0.01104 (0x3C34E11E) 69.
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(6250), 68);
  EXPECT_EQ(VelSetIntegrationTimeInMicroSeconds(62500), 689);
  VelSetIntegrationTime(6467);
  EXPECT_EQ(VelGetIntegrationTimeInMicroSeconds(), 585779);
  VelSetMaximumAutoExposureIntegrationTime(100);
  EXPECT_EQ(VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds(), 9057);
}

TEST_F(Settings, MaximumIntegrationTimeFollowsTheSensor) {
  EXPECT_EQ(VelGetMaximumIntegrationTime(), 65535);
  use(kSensorOv9640, kProcessorMx1);
  EXPECT_EQ(VelGetMaximumIntegrationTime(), 1023);
  use(kSensorOv9650, kProcessorMx1);
  EXPECT_EQ(VelGetMaximumIntegrationTime(), 1048);
  use(kSensorPicocam, kProcessorMx1);
  EXPECT_EQ(VelGetMaximumIntegrationTime(), 65535);
}

TEST(Symbology, NamesOfTheTypeIds) {
  EXPECT_EQ(barcodeTypeName(0), nullptr);
  EXPECT_EQ(barcodeTypeName(23), nullptr);
  EXPECT_EQ(barcodeTypeName(-1), nullptr);
  EXPECT_STREQ(barcodeTypeName(1), "Aztec Code");
  EXPECT_STREQ(barcodeTypeName(7), "Interleaved 2-of-5");
  EXPECT_STREQ(barcodeTypeName(14), "Royal Mail 4-State Postal");
  EXPECT_STREQ(barcodeTypeName(19), "Velmora Configuration");
  EXPECT_STREQ(barcodeTypeName(20), "Dutch 4-State Postal (KIX Code)");
  EXPECT_STREQ(barcodeTypeName(22), "Perspective Pattern");
}

TEST_F(Settings, OrderList) {
  unsigned char out[64];
  const unsigned char ids[] = {16, 0, 3};
  VelSetBarcodeTypeOrderList(3, ids);
  EXPECT_EQ(record().barcodeTypeOrderList[0], 16);
  EXPECT_EQ(record().barcodeTypeOrderList[1], 3);
  EXPECT_EQ(record().barcodeTypeOrderList[2], 0);
  ASSERT_EQ(VelGetBarcodeTypeOrderList(out), 2);
  EXPECT_EQ(out[0], 16);
  EXPECT_EQ(out[1], 3);

  unsigned char many[40];
  for (int i = 0; i < 40; ++i) many[i] = static_cast<unsigned char>(1 + i % 22);
  VelSetBarcodeTypeOrderList(40, many);
  ASSERT_EQ(VelGetBarcodeTypeOrderList(out), 23);
  EXPECT_EQ(0, std::memcmp(out, many, 23));

  const unsigned char mixed[] = {25, 19};
  VelSetBarcodeTypeOrderList(2, mixed);
  ASSERT_EQ(VelGetBarcodeTypeOrderList(out), 1);
  EXPECT_EQ(out[0], 19);
  VelSetBarcodeTypeOrderList(-3, mixed);
  EXPECT_EQ(VelGetBarcodeTypeOrderList(out), 0);

  // Invalid bytes received from the imager are skipped without ending the walk.
  const uint8_t received[kBarcodeTypeCount] = {0, 40, 5, 0, 6};
  std::memcpy(record().barcodeTypeOrderList, received, sizeof received);
  ASSERT_EQ(VelGetBarcodeTypeOrderList(out), 2);
  EXPECT_EQ(out[1], 6);
}

TEST_F(Settings, PrefixAndSuffixLists) {
  unsigned char out[12];
  ASSERT_EQ(VelGetSuffixBarcodeList(3, out), 2);
  EXPECT_EQ(out[0], 0x0D);
  EXPECT_EQ(out[1], 0x0A);
  EXPECT_EQ(VelGetSuffixBarcodeList(19, out), 0);

  const unsigned char text[20] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd'};
  VelSetSuffixBarcodeList(4, 20, text);
  ASSERT_EQ(VelGetSuffixBarcodeList(4, out), 12);
  EXPECT_EQ(0, std::memcmp(out, text, 12));
  VelSetPrefixBarcodeList(5, static_cast<unsigned>(-1), text);
  EXPECT_EQ(VelGetPrefixBarcodeList(5, out), 12) << "a negative length counts as very large";
  VelSetPrefixBarcodeList(5 + 256, 3, text);
  EXPECT_EQ(VelGetPrefixBarcodeList(5, out), 3) << "the type id is taken from the low byte";
  VelSetPrefixBarcodeList(5, 0, nullptr);
  EXPECT_EQ(VelGetPrefixBarcodeList(5, out), 0);

  VelSetPrefixBarcodeList(23, 3, text);
  EXPECT_EQ(VelGetPrefixBarcodeList(23, out), 0);
  VelSetPrefixBarcodeList(0, 2, text);
  ASSERT_EQ(VelGetPrefixBarcodeList(0, out), 2);
  EXPECT_EQ(out[1], '1');
  VelSetPrefixBarcodeList(6, 4, nullptr);
  EXPECT_EQ(VelGetPrefixBarcodeList(6, out), 0) << "no bytes to copy: nothing changes";
}

TEST_F(Settings, FactoryDefaultsAdaptToTheSensor) {
  std::memset(&record(), 0, sizeof record());
  use(kSensorOv9650, kProcessorMx1);
  VelSetFactoryDefaultConfiguration();
  EXPECT_EQ(record().integrationTime, 1048);
  EXPECT_EQ(record().maximumAutoExposureIntegrationTime, 1048);
  EXPECT_EQ(record().imageSoftwareSubsampling, 3);
  EXPECT_FALSE(testBit(record().imageCorrectionFlags, kCorrNoiseFilter));
  EXPECT_FALSE(testBit(record().imageCorrectionFlags, kCorrSharpen));
  EXPECT_TRUE(testBit(record().imageCorrectionFlags, kCorrGamma));
  EXPECT_EQ(record().gain, 5120);

  use(kSensorOv9640, kProcessorMx1);
  VelSetFactoryDefaultConfiguration();
  EXPECT_EQ(record().integrationTime, 1023);
  use(kSensorPicocam, kProcessorMx1);
  VelSetFactoryDefaultConfiguration();
  EXPECT_EQ(record().integrationTime, 26169);
  EXPECT_EQ(record().imageSoftwareSubsampling, 2);
  EXPECT_TRUE(testBit(record().imageCorrectionFlags, kCorrNoiseFilter));
}

TEST_F(Settings, PreMovieSaveAndRestore) {
  DeviceConfiguration& r = record();
  r.timestampEnabled = 1;
  r.fwImageCompressedEnabled = 1;
  r.perspectiveCorrectionEnabled = 1;
  setSymbologyFlags(r, symbologyFlags(r) | (1ull << kSymbologyPerspectiveBit));
  r.optionFlags |= (1u << kOptConstantIllumination) | (1u << kOptAdaptiveWindow);
  r.imageCorrectionFlags |= 1u << kCorrSharpen;
  r.maximumAutoExposureGain = 1234;
  const DeviceConfiguration before = r;

  EXPECT_EQ(VelSavePreMovieSettings(), 0) << "the permanent store fails without a connection";
  EXPECT_EQ(VelGetBeeperEnabled(), 0);
  EXPECT_EQ(VelGetTargetingLedsEnabled(), 0);
  EXPECT_EQ(VelGetIlluminationLevel(), 0);
  EXPECT_EQ(r.timestampEnabled, 0);
  EXPECT_EQ(r.perspectiveCorrectionEnabled, 0);
  EXPECT_EQ(symbologyFlags(r) >> kSymbologyPerspectiveBit & 1, 0u);
  EXPECT_EQ(r.optionFlags & 0x67C8, 1u << kOptAutoExposure) << "auto-exposure is kept";
  EXPECT_EQ(r.imageCorrectionFlags & 0x1F, 0);
  EXPECT_EQ(r.maximumAutoExposureIlluminationLevel, 0);
  EXPECT_EQ(r.maximumAutoExposureGain, 1234);
  EXPECT_TRUE(testBit(r.optionFlags, kOptCaptureGreyImage)) << "bits outside the set stay";

  EXPECT_EQ(VelRestorePreMovieSettings(), 0);
  uint8_t a[kMaxTagPayload], b[kMaxTagPayload];
  for (int tag = 0; tag < kTagCount; ++tag) {
    const size_t na = EncodeTag(before, tag, a), nb = EncodeTag(r, tag, b);
    ASSERT_EQ(na, nb) << "tag " << tag;
    EXPECT_EQ(0, std::memcmp(a, b, na)) << "tag " << tag;
  }
  EXPECT_EQ(r.perspectiveCorrectionEnabled, 1);
}
