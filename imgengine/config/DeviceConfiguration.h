// The host's copy of the imager's configuration record, its factory defaults and
// its two wire forms: the tagged configuration stream (tags 0..25, end tag 0xFF)
// and the fixed 608-byte block. Multi-byte values are little-endian on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Sync.h"

namespace vel {

class ByteStream;

constexpr int kBarcodeTypeCount = 23;       // type ids 0..22
constexpr int kAffixBytes = 12;             // longest prefix or suffix
constexpr int kImageSourceFolderBytes = 266;

struct PrefixSuffixEntry {
  uint8_t typeId;
  uint8_t prefixLength;
  uint8_t suffixLength;
  uint8_t prefix[kAffixBytes];
  uint8_t suffix[kAffixBytes];
};

struct DeviceConfiguration {
  uint16_t windowX;
  uint16_t windowY;
  uint16_t windowWidth;
  uint16_t windowHeight;
  uint16_t integrationTime;
  uint16_t gain;
  uint8_t log2SubsamplingFactor;
  uint8_t illuminationSetting;
  uint8_t noiseLevel;
  uint8_t lowExtremeIndex;
  uint8_t highExtremeIndex;
  int8_t thresholdBias;
  uint16_t optionFlags;
  uint16_t aeRegionX;
  uint16_t aeRegionY;
  uint16_t aeRegionWidth;
  uint16_t aeRegionHeight;
  uint16_t maximumAutoExposureGain;
  uint16_t maximumAutoExposureIntegrationTime;
  uint8_t maximumAutoExposureIlluminationLevel;
  uint8_t maxNumberOfBarcodes;
  uint8_t numberOfBarcodesMustDecode;
  uint8_t maxNumberOfCapturesOnTriggerDown;
  uint8_t imageCorrectionFlags;
  uint8_t gaussWidth;
  uint8_t gaussFlatArea;
  uint8_t gammaFactor;
  uint8_t noiseFilterPass1Threshold;
  uint8_t noiseFilterPass2Threshold;
  uint8_t histogramMode;
  uint8_t histogramLowBound;
  uint8_t histogramHighBound;
  uint8_t histogramBrightness;
  uint8_t histogramContrast;
  int16_t hsvHueAdjust;
  uint16_t hsvSaturationAdjust;
  uint16_t hsvValueAdjust;
  uint32_t sharpenImageWeight;
  uint8_t presentationModeCycleTime;
  uint16_t orderingFlags;
  uint8_t barcodeTypeOrderList[kBarcodeTypeCount];
  PrefixSuffixEntry prefixSuffix[kBarcodeTypeCount];
  uint32_t barcodeEnableLow;
  uint32_t barcodeEnableHigh;
  uint16_t decoderTimeout;
  uint16_t imageRotationDegree;
  uint8_t imageSoftwareSubsampling;
  uint8_t fwImageCompressedEnabled;
  uint8_t imageCompressedQuality;
  uint8_t timestampEnabled;
  uint8_t timestampDateFormat;
  uint8_t timestampDateOnly;
  uint8_t timestampOption;
  uint8_t timestampParameter;
  uint8_t timestampColor;
  uint8_t timestampLocation;
  uint16_t timestampAnchorX;
  uint16_t timestampAnchorY;
  uint8_t perspectiveCorrectionEnabled;
  // Host-only copies of the host settings.
  uint8_t autoSaveEnabled;
  uint8_t hostPerspectiveCorrectionEnabled;
  uint8_t hostPerspectiveDisplayPopUp;
  char imageSourceFolder[kImageSourceFolderBytes];
};

// OptionFlags bits.
enum OptionBit : int {
  kOptDefaultBackgroundColor = 0,
  kOptInteriorBackgroundMode = 1,
  kOptPerimeterBackgroundMode = 2,
  kOptCaptureBarcodes = 3,
  kOptCaptureBinaryImage = 4,
  kOptCaptureGreyImage = 5,
  kOptBeeper = 6,
  kOptConstantIllumination = 7,
  kOptTargetLeds = 8,
  kOptPresentationMode = 9,
  kOptAutoExposure = 10,
  kOptAutoExposureRegion = 11,
  kOptAutoExposureFastConverge = 12,
  kOptAdaptiveWindow = 13,
  kOptTriggerCameraMode = 14,
  kOptAutoExposureBuiltInSensor = 15,
};

// ImageCorrectionFlags bits.
enum CorrectionBit : int {
  kCorrGauss = 0,
  kCorrGamma = 1,
  kCorrHistogram = 2,
  kCorrNoiseFilter = 3,
  kCorrSharpen = 4,
  kCorrHsv = 5,
};

constexpr int kOrderingPrefixSuffixBit = 5;
constexpr int kSymbologyPerspectiveBit = 39;

constexpr int kTagCount = 26;           // tags 0..25
constexpr uint8_t kEndTag = 0xFF;
constexpr size_t kMaxTagPayload = 623;  // tag 14 with 23 full entries
constexpr size_t kReceiveTagLimit = 1024;  // longer received tags are skipped
constexpr size_t kFixedBlockBytes = 608;

// Fills every field with its factory default.
void ApplyFactoryDefaults(DeviceConfiguration& record);

// Payload bytes of one tag (0..25) written to out (at least kMaxTagPayload bytes);
// answers the count, 0 for an unknown tag.
size_t EncodeTag(const DeviceConfiguration& record, int tag, uint8_t* out);
// Applies one received tag. Payloads of an unexpected length and unknown tags are
// ignored; nothing outside payload[0..length) is read.
void DecodeTag(DeviceConfiguration& record, int tag, size_t length, const uint8_t* payload);

void ToFixedBlock(const DeviceConfiguration& record, uint8_t block[kFixedBlockBytes]);
void FromFixedBlock(const uint8_t block[kFixedBlockBytes], DeviceConfiguration& record);

// Configuration barcode payloads, given without their leading form byte.
// Tagged form (byte 7): factory defaults, then the items up to the end tag or the
// end of the bytes. Compact form (byte 6): answers false and changes nothing when
// the bytes are shorter than its fixed part.
void ApplyTaggedPayload(DeviceConfiguration& record, const uint8_t* bytes, size_t length);
bool ApplyCompactPayload(DeviceConfiguration& record, const uint8_t* bytes, size_t length);
// Whole payload with the form byte first; answers whether a form was applied.
bool ApplyConfigurationPayload(DeviceConfiguration& record, const uint8_t* bytes, size_t length);

// Stream-level exchange, called after the command byte has been written. Each
// answers !stream.failed() at its end.
// Tagged read: items until the end tag or the first link error; a tag longer than
// kReceiveTagLimit is consumed and ignored.
bool ReadTaggedConfiguration(ByteStream& stream, DeviceConfiguration& record);
// Fixed read: uint16 length, then the block when the length is 608. Any other
// length is not a configuration (the channel is out of step, the rest of what
// came would be taken for the next answer): the stream is aborted, the record
// left unchanged and nothing more read.
bool ReadFixedConfiguration(ByteStream& stream, DeviceConfiguration& record);
// Writes tags 0..25 and the end tag, then flushes.
bool WriteTaggedConfiguration(ByteStream& stream, const DeviceConfiguration& record);
// Writes uint16 608 and the block, then flushes.
bool WriteFixedConfiguration(ByteStream& stream, const DeviceConfiguration& record);

// The form chosen by the link level (fixed block when fixedForm, else tagged).
inline bool ReadConfiguration(ByteStream& stream, DeviceConfiguration& record, bool fixedForm) {
  return fixedForm ? ReadFixedConfiguration(stream, record) : ReadTaggedConfiguration(stream, record);
}
inline bool WriteConfiguration(ByteStream& stream, const DeviceConfiguration& record, bool fixedForm) {
  return fixedForm ? WriteFixedConfiguration(stream, record) : WriteTaggedConfiguration(stream, record);
}

// The library's one record (all zero until defaults are applied).
DeviceConfiguration& deviceConfiguration();
// The record's lock. The operation threads change the record on a copy that they
// assign under it in one step; the configuration exchanges with the imager copy
// or replace the record under it. The setters take no lock.
Mutex& configurationLock();

// Timestamp anchors that go with a location (other locations count as 4).
void SetTimestampLocation(DeviceConfiguration& record, int location);

inline bool testBit(uint32_t word, int bit) { return (word >> bit) & 1u; }
template <typename T>
inline void putBit(T& word, int bit, bool on) {
  word = on ? static_cast<T>(word | (T(1) << bit)) : static_cast<T>(word & ~(T(1) << bit));
}
inline uint64_t symbologyFlags(const DeviceConfiguration& r) {
  return (uint64_t(r.barcodeEnableHigh) << 32) | r.barcodeEnableLow;
}
inline void setSymbologyFlags(DeviceConfiguration& r, uint64_t v) {
  r.barcodeEnableLow = static_cast<uint32_t>(v);
  r.barcodeEnableHigh = static_cast<uint32_t>(v >> 32);
}

}  // namespace vel
