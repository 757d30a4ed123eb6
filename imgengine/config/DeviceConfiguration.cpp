#include "config/DeviceConfiguration.h"

#include <algorithm>
#include <cstring>

#include "base/ByteStream.h"
#include "base/LittleEndian.h"

namespace vel {

namespace {

uint8_t bitByte(uint32_t word, int bit) { return testBit(word, bit) ? 1 : 0; }

// Fixed payload length of every tag except 13 and 14 (variable).
constexpr size_t kTagLength[kTagCount] = {8, 4, 8, 1, 5, 16, 7, 5, 1, 2, 3, 2, 3,
                                          0, 0, 1, 1, 2, 1, 1, 6, 5, 7, 1, 3, 11};

uint16_t acceptedRotation(unsigned value) {
  return (value == 90 || value == 180 || value == 270) ? static_cast<uint16_t>(value) : 0;
}

// Reads a prefix/suffix item list (tag 14 and the compact form). Items for type ids
// up to maxTypeId are stored into the entry of that id; lengths above 12 are cut to
// 12 with the surplus skipped. Ends at a foreign type id or at the end of the bytes.
void readAffixItems(DeviceConfiguration& r, const uint8_t* p, size_t length, size_t pos, unsigned count,
                    unsigned maxTypeId) {
  for (unsigned item = 0; item < count; ++item) {
    if (pos >= length) return;
    const unsigned type = p[pos++];
    if (type > maxTypeId) return;
    PrefixSuffixEntry& e = r.prefixSuffix[type];
    for (int part = 0; part < 2; ++part) {
      if (pos >= length) return;
      const size_t sent = p[pos++];
      const size_t available = std::min(sent, length - pos);
      const size_t kept = std::min<size_t>(available, kAffixBytes);
      std::memcpy(part == 0 ? e.prefix : e.suffix, p + pos, kept);
      (part == 0 ? e.prefixLength : e.suffixLength) = static_cast<uint8_t>(kept);
      if (available < sent) return;
      pos += sent;
    }
  }
}

}  // namespace

void SetTimestampLocation(DeviceConfiguration& r, int location) {
  switch (location) {
    case 1: r.timestampAnchorX = 0; r.timestampAnchorY = 0; break;
    case 2: r.timestampAnchorX = 0; r.timestampAnchorY = 0xFFFF; break;
    case 3: r.timestampAnchorX = 0xFFFF; r.timestampAnchorY = 0xFFFF; break;
    default: location = 4; r.timestampAnchorX = 0xFFFF; r.timestampAnchorY = 0; break;
  }
  r.timestampLocation = static_cast<uint8_t>(location);
}

void ApplyFactoryDefaults(DeviceConfiguration& r) {
  std::memset(&r, 0, sizeof r);
  r.windowWidth = 1280;
  r.windowHeight = 1024;
  r.integrationTime = 26169;
  r.gain = 5120;
  r.illuminationSetting = 5;
  r.noiseLevel = 33;
  r.lowExtremeIndex = 50;
  r.highExtremeIndex = 50;
  r.optionFlags = 0x0D69;
  r.aeRegionX = 768;
  r.aeRegionY = 768;
  r.aeRegionWidth = 512;
  r.aeRegionHeight = 512;
  r.maximumAutoExposureGain = 7920;
  r.maximumAutoExposureIntegrationTime = 26169;
  r.maximumAutoExposureIlluminationLevel = 7;
  r.maxNumberOfBarcodes = 1;
  r.numberOfBarcodesMustDecode = 1;
  r.maxNumberOfCapturesOnTriggerDown = 32;
  r.imageCorrectionFlags = 0x0E;
  r.gaussWidth = 90;
  r.gaussFlatArea = 90;
  r.gammaFactor = 17;
  r.noiseFilterPass1Threshold = 20;
  r.noiseFilterPass2Threshold = 5;
  r.histogramMode = 1;
  r.histogramHighBound = 255;
  r.histogramBrightness = 128;
  r.histogramContrast = 128;
  r.hsvSaturationAdjust = 256;
  r.hsvValueAdjust = 256;
  r.sharpenImageWeight = 70;
  r.presentationModeCycleTime = 5;
  for (int i = 0; i < kBarcodeTypeCount; ++i) {
    PrefixSuffixEntry& e = r.prefixSuffix[i];
    e.typeId = static_cast<uint8_t>(i);
    if (i != 0 && i != 19 && i != 22) {
      e.suffixLength = 2;
      e.suffix[0] = 0x0D;
      e.suffix[1] = 0x0A;
    }
  }
  r.barcodeEnableLow = 0x9100220C;
  r.barcodeEnableHigh = 0x10;
  r.decoderTimeout = 500;
  r.imageSoftwareSubsampling = 2;
  r.imageCompressedQuality = 75;
  r.timestampParameter = 3;
  r.timestampColor = 1;
  SetTimestampLocation(r, 4);
  std::memcpy(r.imageSourceFolder, ".\\", 3);
}

size_t EncodeTag(const DeviceConfiguration& r, int tag, uint8_t* p) {
  const uint16_t o = r.optionFlags;
  const uint8_t c = r.imageCorrectionFlags;
  switch (tag) {
    case 0: putLe32(p, r.barcodeEnableLow); putLe32(p + 4, r.barcodeEnableHigh); return 8;
    case 1:
      p[0] = r.maxNumberOfBarcodes;
      p[1] = r.numberOfBarcodesMustDecode;
      putLe16(p + 2, r.decoderTimeout);
      return 4;
    case 2:
      putLe16(p, r.windowX); putLe16(p + 2, r.windowY); putLe16(p + 4, r.windowWidth); putLe16(p + 6, r.windowHeight);
      return 8;
    case 3: p[0] = r.log2SubsamplingFactor; return 1;
    case 4: putLe16(p, r.gain); putLe16(p + 2, r.integrationTime); p[4] = r.illuminationSetting; return 5;
    case 5:
      p[0] = bitByte(o, kOptAutoExposure);
      p[1] = bitByte(o, kOptAutoExposureRegion);
      p[2] = bitByte(o, kOptAutoExposureFastConverge);
      putLe16(p + 3, r.maximumAutoExposureGain);
      putLe16(p + 5, r.maximumAutoExposureIntegrationTime);
      p[7] = r.maximumAutoExposureIlluminationLevel;
      putLe16(p + 8, r.aeRegionX); putLe16(p + 10, r.aeRegionY);
      putLe16(p + 12, r.aeRegionWidth); putLe16(p + 14, r.aeRegionHeight);
      return 16;
    case 6:
      p[0] = r.noiseLevel; p[1] = r.lowExtremeIndex; p[2] = r.highExtremeIndex;
      p[3] = static_cast<uint8_t>(r.thresholdBias);
      p[4] = bitByte(o, 0); p[5] = bitByte(o, 1); p[6] = bitByte(o, 2);
      return 7;
    case 7:
      p[0] = bitByte(o, 3); p[1] = bitByte(o, 4); p[2] = bitByte(o, 5); p[3] = bitByte(o, 6);
      p[4] = r.maxNumberOfCapturesOnTriggerDown;
      return 5;
    case 8: p[0] = bitByte(o, kOptTargetLeds); return 1;
    case 9: p[0] = bitByte(o, kOptPresentationMode); p[1] = r.presentationModeCycleTime; return 2;
    case 10: p[0] = bitByte(c, kCorrGauss); p[1] = r.gaussWidth; p[2] = r.gaussFlatArea; return 3;
    case 11: p[0] = bitByte(c, kCorrGamma); p[1] = r.gammaFactor; return 2;
    case 12:
      p[0] = bitByte(c, kCorrNoiseFilter); p[1] = r.noiseFilterPass1Threshold; p[2] = r.noiseFilterPass2Threshold;
      return 3;
    case 13: {
      for (int b = 0; b < 5; ++b) p[b] = bitByte(r.orderingFlags, b);
      size_t n = 0;
      while (n < kBarcodeTypeCount && r.barcodeTypeOrderList[n] != 0) {
        p[6 + n] = r.barcodeTypeOrderList[n];
        ++n;
      }
      p[5] = static_cast<uint8_t>(n);
      return 6 + n;
    }
    case 14: {
      p[0] = bitByte(r.orderingFlags, kOrderingPrefixSuffixBit);
      size_t pos = 2;
      uint8_t count = 0;
      for (const PrefixSuffixEntry& e : r.prefixSuffix) {
        if (e.prefixLength == 0 && e.suffixLength == 0) continue;
        const uint8_t pl = std::min<uint8_t>(e.prefixLength, kAffixBytes);
        const uint8_t sl = std::min<uint8_t>(e.suffixLength, kAffixBytes);
        p[pos++] = e.typeId;
        p[pos++] = pl;
        std::memcpy(p + pos, e.prefix, pl);
        pos += pl;
        p[pos++] = sl;
        std::memcpy(p + pos, e.suffix, sl);
        pos += sl;
        ++count;
      }
      p[1] = count;
      return pos;
    }
    case 15: p[0] = bitByte(o, kOptConstantIllumination); return 1;
    case 16: p[0] = bitByte(o, kOptAdaptiveWindow); return 1;
    case 17: putLe16(p, r.imageRotationDegree); return 2;
    case 18: p[0] = r.imageSoftwareSubsampling; return 1;
    case 19: p[0] = bitByte(o, kOptTriggerCameraMode); return 1;
    case 20:
      p[0] = bitByte(c, kCorrHistogram); p[1] = r.histogramMode; p[2] = r.histogramLowBound;
      p[3] = r.histogramHighBound; p[4] = r.histogramBrightness; p[5] = r.histogramContrast;
      return 6;
    case 21: p[0] = bitByte(c, kCorrSharpen); putLe32(p + 1, r.sharpenImageWeight); return 5;
    case 22:
      p[0] = bitByte(c, kCorrHsv);
      putLe16(p + 1, static_cast<uint16_t>(r.hsvHueAdjust));
      putLe16(p + 3, r.hsvSaturationAdjust);
      putLe16(p + 5, r.hsvValueAdjust);
      return 7;
    case 23: p[0] = bitByte(o, kOptAutoExposureBuiltInSensor); return 1;
    case 24:
      p[0] = r.fwImageCompressedEnabled & 1; p[1] = r.imageCompressedQuality; p[2] = r.perspectiveCorrectionEnabled & 1;
      return 3;
    case 25:
      p[0] = r.timestampEnabled & 1; p[1] = r.timestampDateFormat; p[2] = r.timestampDateOnly & 1;
      p[3] = r.timestampOption & 1; p[4] = r.timestampParameter; p[5] = r.timestampColor;
      p[6] = r.timestampLocation;
      putLe16(p + 7, r.timestampAnchorX); putLe16(p + 9, r.timestampAnchorY);
      return 11;
    default: return 0;
  }
}

void DecodeTag(DeviceConfiguration& r, int tag, size_t length, const uint8_t* p) {
  if (tag < 0 || tag >= kTagCount) return;
  if (tag == 13 ? length < 6 : tag == 14 ? length < 2 : length != kTagLength[tag]) return;
  uint16_t& o = r.optionFlags;
  uint8_t& c = r.imageCorrectionFlags;
  switch (tag) {
    case 0: r.barcodeEnableLow = getLe32(p); r.barcodeEnableHigh = getLe32(p + 4); break;
    case 1: r.maxNumberOfBarcodes = p[0]; r.numberOfBarcodesMustDecode = p[1]; r.decoderTimeout = getLe16(p + 2); break;
    case 2: r.windowX = getLe16(p); r.windowY = getLe16(p + 2); r.windowWidth = getLe16(p + 4); r.windowHeight = getLe16(p + 6); break;
    case 3: r.log2SubsamplingFactor = p[0]; break;
    case 4: r.gain = getLe16(p); r.integrationTime = getLe16(p + 2); r.illuminationSetting = p[4]; break;
    case 5:
      putBit(o, kOptAutoExposure, p[0]);
      putBit(o, kOptAutoExposureRegion, p[1]);
      putBit(o, kOptAutoExposureFastConverge, p[2]);
      r.maximumAutoExposureGain = getLe16(p + 3);
      r.maximumAutoExposureIntegrationTime = getLe16(p + 5);
      r.maximumAutoExposureIlluminationLevel = p[7];
      r.aeRegionX = getLe16(p + 8); r.aeRegionY = getLe16(p + 10);
      r.aeRegionWidth = getLe16(p + 12); r.aeRegionHeight = getLe16(p + 14);
      break;
    case 6:
      r.noiseLevel = p[0]; r.lowExtremeIndex = p[1]; r.highExtremeIndex = p[2];
      r.thresholdBias = static_cast<int8_t>(p[3]);
      putBit(o, 0, p[4]); putBit(o, 1, p[5]); putBit(o, 2, p[6]);
      break;
    case 7:
      putBit(o, 3, p[0]); putBit(o, 4, p[1]); putBit(o, 5, p[2]); putBit(o, 6, p[3]);
      r.maxNumberOfCapturesOnTriggerDown = p[4];
      break;
    case 8: putBit(o, kOptTargetLeds, p[0]); break;
    case 9: putBit(o, kOptPresentationMode, p[0]); r.presentationModeCycleTime = p[1]; break;
    case 10: putBit(c, kCorrGauss, p[0]); r.gaussWidth = p[1]; r.gaussFlatArea = p[2]; break;
    case 11: putBit(c, kCorrGamma, p[0]); r.gammaFactor = p[1]; break;
    case 12: putBit(c, kCorrNoiseFilter, p[0]); r.noiseFilterPass1Threshold = p[1]; r.noiseFilterPass2Threshold = p[2]; break;
    case 13: {
      for (int b = 0; b < 5; ++b) putBit(r.orderingFlags, b, p[b]);
      std::memset(r.barcodeTypeOrderList, 0, sizeof r.barcodeTypeOrderList);
      // The count byte may claim more ids than were sent or than the list holds.
      const size_t listed = std::min<size_t>(p[5], length - 6);
      size_t stored = 0;
      for (size_t i = 0; i < listed && stored < kBarcodeTypeCount; ++i) {
        if (p[6 + i] < kBarcodeTypeCount) r.barcodeTypeOrderList[stored++] = p[6 + i];
      }
      break;
    }
    case 14:
      putBit(r.orderingFlags, kOrderingPrefixSuffixBit, p[0]);
      for (int i = 0; i < kBarcodeTypeCount; ++i) {
        r.prefixSuffix[i].typeId = static_cast<uint8_t>(i);
        r.prefixSuffix[i].prefixLength = 0;
        r.prefixSuffix[i].suffixLength = 0;
      }
      readAffixItems(r, p, length, 2, p[1], kBarcodeTypeCount - 1);
      break;
    case 15: putBit(o, kOptConstantIllumination, p[0]); break;
    case 16: putBit(o, kOptAdaptiveWindow, p[0]); break;
    case 17: r.imageRotationDegree = acceptedRotation(getLe16(p)); break;
    case 18: r.imageSoftwareSubsampling = p[0]; break;
    case 19: putBit(o, kOptTriggerCameraMode, p[0]); break;
    case 20:
      putBit(c, kCorrHistogram, p[0]);
      r.histogramMode = p[1]; r.histogramLowBound = p[2]; r.histogramHighBound = p[3];
      r.histogramBrightness = p[4]; r.histogramContrast = p[5];
      break;
    case 21: putBit(c, kCorrSharpen, p[0]); r.sharpenImageWeight = getLe32(p + 1); break;
    case 22:
      putBit(c, kCorrHsv, p[0]);
      r.hsvHueAdjust = static_cast<int16_t>(getLe16(p + 1));
      r.hsvSaturationAdjust = getLe16(p + 3);
      r.hsvValueAdjust = getLe16(p + 5);
      break;
    case 23: putBit(o, kOptAutoExposureBuiltInSensor, p[0]); break;
    case 24:
      r.fwImageCompressedEnabled = p[0] ? 1 : 0;
      r.imageCompressedQuality = p[1];
      r.perspectiveCorrectionEnabled = p[2] ? 1 : 0;
      break;
    case 25:
      r.timestampEnabled = p[0] ? 1 : 0;
      r.timestampDateFormat = p[1];
      r.timestampDateOnly = p[2] ? 1 : 0;
      r.timestampOption = p[3] ? 1 : 0;
      r.timestampParameter = p[4];
      r.timestampColor = p[5];
      r.timestampLocation = (p[6] >= 1 && p[6] <= 3) ? p[6] : 4;
      r.timestampAnchorX = getLe16(p + 7);
      r.timestampAnchorY = getLe16(p + 9);
      break;
  }
}

namespace {
constexpr uint16_t kFixedOptionMask = 0x1F7F;  // bits 0-6 and 8-12
constexpr int kFixedEntries = 19;
constexpr size_t kFixedEntryBytes = 28;
}  // namespace

void ToFixedBlock(const DeviceConfiguration& r, uint8_t* b) {
  std::memset(b, 0, kFixedBlockBytes);
  putLe16(b, r.windowX); putLe16(b + 2, r.windowY); putLe16(b + 4, r.windowWidth); putLe16(b + 6, r.windowHeight);
  putLe16(b + 8, r.integrationTime); putLe16(b + 10, r.gain);
  b[12] = r.log2SubsamplingFactor; b[13] = r.illuminationSetting; b[14] = r.noiseLevel;
  b[15] = r.lowExtremeIndex; b[16] = r.highExtremeIndex; b[17] = static_cast<uint8_t>(r.thresholdBias);
  putLe16(b + 18, r.optionFlags & kFixedOptionMask);
  putLe16(b + 20, r.aeRegionX); putLe16(b + 22, r.aeRegionY); putLe16(b + 24, r.aeRegionWidth); putLe16(b + 26, r.aeRegionHeight);
  putLe16(b + 28, r.maximumAutoExposureGain); putLe16(b + 30, r.maximumAutoExposureIntegrationTime);
  b[32] = r.maximumAutoExposureIlluminationLevel;
  b[33] = r.maxNumberOfBarcodes; b[34] = r.numberOfBarcodesMustDecode; b[35] = r.maxNumberOfCapturesOnTriggerDown;
  const uint8_t c = r.imageCorrectionFlags;
  b[36] = static_cast<uint8_t>(bitByte(c, kCorrGauss) | (bitByte(c, kCorrGamma) << 1) | (bitByte(c, kCorrNoiseFilter) << 2));
  b[37] = r.gaussWidth; b[38] = r.gaussFlatArea; b[39] = r.gammaFactor;
  b[40] = r.noiseFilterPass1Threshold; b[41] = r.noiseFilterPass2Threshold;
  b[43] = r.presentationModeCycleTime;
  std::memcpy(b + 44, r.barcodeTypeOrderList, kFixedEntries);
  putLe16(b + 66, r.orderingFlags & 0x3F);
  for (int i = 0; i < kFixedEntries; ++i) {
    const PrefixSuffixEntry& e = r.prefixSuffix[i];
    uint8_t* q = b + 68 + i * kFixedEntryBytes;
    const uint8_t pl = std::min<uint8_t>(e.prefixLength, kAffixBytes);
    const uint8_t sl = std::min<uint8_t>(e.suffixLength, kAffixBytes);
    q[0] = static_cast<uint8_t>(i);
    q[1] = pl;
    q[2] = sl;
    std::memcpy(q + 4, e.prefix, pl);
    std::memcpy(q + 16, e.suffix, sl);
  }
  putLe32(b + 600, r.barcodeEnableLow);
  putLe32(b + 604, r.barcodeEnableHigh);
}

void FromFixedBlock(const uint8_t* b, DeviceConfiguration& r) {
  r.windowX = getLe16(b); r.windowY = getLe16(b + 2); r.windowWidth = getLe16(b + 4); r.windowHeight = getLe16(b + 6);
  r.integrationTime = getLe16(b + 8); r.gain = getLe16(b + 10);
  r.log2SubsamplingFactor = b[12]; r.illuminationSetting = b[13]; r.noiseLevel = b[14];
  r.lowExtremeIndex = b[15]; r.highExtremeIndex = b[16]; r.thresholdBias = static_cast<int8_t>(b[17]);
  r.optionFlags = static_cast<uint16_t>((r.optionFlags & ~kFixedOptionMask) | (getLe16(b + 18) & kFixedOptionMask));
  r.aeRegionX = getLe16(b + 20); r.aeRegionY = getLe16(b + 22); r.aeRegionWidth = getLe16(b + 24); r.aeRegionHeight = getLe16(b + 26);
  r.maximumAutoExposureGain = getLe16(b + 28); r.maximumAutoExposureIntegrationTime = getLe16(b + 30);
  r.maximumAutoExposureIlluminationLevel = b[32];
  r.maxNumberOfBarcodes = b[33]; r.numberOfBarcodesMustDecode = b[34]; r.maxNumberOfCapturesOnTriggerDown = b[35];
  putBit(r.imageCorrectionFlags, kCorrGauss, b[36] & 1);
  putBit(r.imageCorrectionFlags, kCorrGamma, b[36] & 2);
  putBit(r.imageCorrectionFlags, kCorrNoiseFilter, b[36] & 4);
  r.gaussWidth = b[37]; r.gaussFlatArea = b[38]; r.gammaFactor = b[39];
  r.noiseFilterPass1Threshold = b[40]; r.noiseFilterPass2Threshold = b[41];
  r.presentationModeCycleTime = b[43];
  std::memcpy(r.barcodeTypeOrderList, b + 44, kFixedEntries);
  std::memset(r.barcodeTypeOrderList + kFixedEntries, 0, kBarcodeTypeCount - kFixedEntries);
  r.orderingFlags = getLe16(b + 66) & 0x3F;
  // Entry i of the block belongs to type id i, whatever its id byte says.
  for (int i = 0; i < kFixedEntries; ++i) {
    const uint8_t* q = b + 68 + i * kFixedEntryBytes;
    PrefixSuffixEntry& e = r.prefixSuffix[i];
    e.typeId = static_cast<uint8_t>(i);
    e.prefixLength = std::min<uint8_t>(q[1], kAffixBytes);
    e.suffixLength = std::min<uint8_t>(q[2], kAffixBytes);
    std::memcpy(e.prefix, q + 4, e.prefixLength);
    std::memcpy(e.suffix, q + 16, e.suffixLength);
  }
  r.barcodeEnableLow = getLe32(b + 600);
  r.barcodeEnableHigh = getLe32(b + 604);
}

void ApplyTaggedPayload(DeviceConfiguration& r, const uint8_t* p, size_t length) {
  ApplyFactoryDefaults(r);
  size_t pos = 0;
  while (pos < length) {
    const uint8_t tag = p[pos++];
    if (tag == kEndTag || length - pos < 2) return;
    const size_t itemLength = getLe16(p + pos);
    pos += 2;
    if (itemLength > length - pos) return;  // item cut short
    DecodeTag(r, tag, itemLength, p + pos);
    pos += itemLength;
  }
}

bool ApplyCompactPayload(DeviceConfiguration& r, const uint8_t* p, size_t length) {
  constexpr size_t kFixedPart = 54;  // up to and including the order-list count
  if (!p || length < kFixedPart) return false;
  uint8_t b[kFixedBlockBytes] = {};
  std::memcpy(b, p, 18);           // window, exposure, binarisation bytes
  std::memcpy(b + 20, p + 18, 12);  // region, maximum gain and integration time
  std::memcpy(b + 32, p + 30, 10);  // maximum illumination .. noise pass 2
  b[43] = p[40];
  std::memcpy(b + 18, p + 41, 2);
  std::memcpy(b + 66, p + 43, 2);
  std::memcpy(b + 600, p + 45, 8);
  size_t pos = 53;
  const size_t listed = p[pos++];
  const size_t sent = std::min(listed, length - pos);
  std::memcpy(b + 44, p + pos, std::min<size_t>(sent, kFixedEntries));
  pos += sent;
  for (int i = 0; i < kFixedEntries; ++i) b[68 + i * kFixedEntryBytes] = static_cast<uint8_t>(i);
  if (sent == listed && pos < length) {
    // Unpack the items into a scratch record and move them into the block.
    DeviceConfiguration items{};
    const unsigned count = p[pos];
    readAffixItems(items, p, length, pos + 1, count, kFixedEntries - 1);
    for (int i = 0; i < kFixedEntries; ++i) {
      uint8_t* q = b + 68 + i * kFixedEntryBytes;
      const PrefixSuffixEntry& e = items.prefixSuffix[i];
      q[1] = e.prefixLength;
      q[2] = e.suffixLength;
      std::memcpy(q + 4, e.prefix, e.prefixLength);
      std::memcpy(q + 16, e.suffix, e.suffixLength);
    }
  }
  FromFixedBlock(b, r);
  return true;
}

bool ApplyConfigurationPayload(DeviceConfiguration& r, const uint8_t* p, size_t length) {
  if (!p || length == 0) return false;
  if (p[0] == 7) {
    ApplyTaggedPayload(r, p + 1, length - 1);
    return true;
  }
  if (p[0] == 6) return ApplyCompactPayload(r, p + 1, length - 1);
  return false;
}

bool ReadTaggedConfiguration(ByteStream& s, DeviceConfiguration& r) {
  uint8_t payload[kReceiveTagLimit];
  for (;;) {
    uint8_t tag = kEndTag;
    s.read(&tag, 1);
    if (s.failed() || tag == kEndTag) break;
    uint8_t lengthBytes[2] = {};
    s.read(lengthBytes, 2);
    if (s.failed()) break;
    const size_t length = getLe16(lengthBytes);
    if (length > sizeof payload) {
      // Too long for any defined tag: consume it so the stream stays in step.
      for (size_t left = length; left > 0 && !s.failed();) {
        const size_t chunk = std::min(left, sizeof payload);
        s.read(payload, chunk);
        left -= chunk;
      }
      if (s.failed()) break;
      continue;
    }
    if (length > 0) s.read(payload, length);
    if (s.failed()) break;
    DecodeTag(r, tag, length, payload);
  }
  return !s.failed();
}

bool ReadFixedConfiguration(ByteStream& s, DeviceConfiguration& r) {
  uint8_t lengthBytes[2] = {};
  s.read(lengthBytes, 2);
  if (s.failed()) return false;
  if (getLe16(lengthBytes) != kFixedBlockBytes) {
    s.abort();
    return false;
  }
  uint8_t block[kFixedBlockBytes];
  s.read(block, sizeof block);
  if (!s.failed()) FromFixedBlock(block, r);
  return !s.failed();
}

bool WriteTaggedConfiguration(ByteStream& s, const DeviceConfiguration& r) {
  uint8_t payload[kMaxTagPayload];
  for (int tag = 0; tag < kTagCount; ++tag) {
    const size_t length = EncodeTag(r, tag, payload);
    const uint8_t tagByte = static_cast<uint8_t>(tag);
    uint8_t lengthBytes[2];
    putLe16(lengthBytes, static_cast<uint16_t>(length));
    s.write(&tagByte, 1);
    s.write(lengthBytes, 2);
    s.write(payload, length);
  }
  s.write(&kEndTag, 1);
  s.flush();
  return !s.failed();
}

bool WriteFixedConfiguration(ByteStream& s, const DeviceConfiguration& r) {
  uint8_t block[kFixedBlockBytes];
  ToFixedBlock(r, block);
  uint8_t lengthBytes[2];
  putLe16(lengthBytes, static_cast<uint16_t>(kFixedBlockBytes));
  s.write(lengthBytes, 2);
  s.write(block, sizeof block);
  s.flush();
  return !s.failed();
}

}  // namespace vel
