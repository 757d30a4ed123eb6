#include "config/ConfigurationFile.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/Files.h"

namespace vel::configfile {

namespace {

constexpr const char* kDescriptor = "ConfigDescriptor";
constexpr const char* kDevice = "CorvidConfig";
constexpr const char* kHost = "HostConfig";

// How a key is written from its field and read back into it.
enum class Rule : uint8_t {
  kUnsigned,     // the field; on load its low `arg` bits
  kSigned,       // the field as a signed number; on load its low `arg` bits
  kSwitch,       // bit `arg` of the field as 0 or 1; on load non-zero sets it, 0 clears it
  kUnread,       // a switch that is written but never read back
  kSubsampling,  // the factor 1, 2, 4 or 8 for the field 0..3
  kRotation,     // 90, 180 or 270, anything else loads as 0
  kLocation,     // 1, 2 or 3, anything else loads as 4; the anchors follow
  kHistogram,    // 1 when the histogram mode is `arg`; a non-zero value sets that mode
  kPerspective,  // symbology bit 39; on load both it and the perspective switch
};

struct Key {
  const char* name;
  Rule rule;
  size_t offset;  // of the field in the record
  uint8_t size;   // of the field in bytes
  uint8_t arg;
};

#define VEL_FIELD(f) offsetof(DeviceConfiguration, f), sizeof(DeviceConfiguration::f)

constexpr Key number(const char* name, size_t offset, size_t size) {
  return {name, Rule::kUnsigned, offset, static_cast<uint8_t>(size), static_cast<uint8_t>(size * 8)};
}
constexpr Key option(const char* name, int bit) { return {name, Rule::kSwitch, VEL_FIELD(optionFlags), uint8_t(bit)}; }
constexpr Key correction(const char* name, int bit) {
  return {name, Rule::kSwitch, VEL_FIELD(imageCorrectionFlags), uint8_t(bit)};
}
constexpr Key symbology(const char* name, int bit) {
  return bit < 32 ? Key{name, Rule::kSwitch, VEL_FIELD(barcodeEnableLow), uint8_t(bit)}
                  : Key{name, Rule::kSwitch, VEL_FIELD(barcodeEnableHigh), uint8_t(bit - 32)};
}
constexpr Key histogram(const char* name, int mode) {
  return {name, Rule::kHistogram, VEL_FIELD(histogramMode), uint8_t(mode)};
}

const Key kDeviceKeys[] = {
    number("WindowX", VEL_FIELD(windowX)),
    number("WindowY", VEL_FIELD(windowY)),
    number("WindowWidth", VEL_FIELD(windowWidth)),
    number("WindowHeight", VEL_FIELD(windowHeight)),
    number("IntergationTime", VEL_FIELD(integrationTime)),
    number("Gain", VEL_FIELD(gain)),
    {"log2SubsamplingFactor", Rule::kSubsampling, VEL_FIELD(log2SubsamplingFactor), 8},
    number("IlluminationSetting", VEL_FIELD(illuminationSetting)),
    number("NoiseLevel", VEL_FIELD(noiseLevel)),
    number("LowExtremeIndex", VEL_FIELD(lowExtremeIndex)),
    number("HighExtremeIndex", VEL_FIELD(highExtremeIndex)),
    {"ThresholdBias", Rule::kSigned, VEL_FIELD(thresholdBias), 8},
    option("DefaultBackgroundColor", kOptDefaultBackgroundColor),
    option("InteriorBackgroundMode", kOptInteriorBackgroundMode),
    option("PerimeterBackgroundMode", kOptPerimeterBackgroundMode),
    option("CaptureBarcodes", kOptCaptureBarcodes),
    {"CaptureBinaryImage", Rule::kUnread, VEL_FIELD(optionFlags), kOptCaptureBinaryImage},
    option("CaptureGreyImage", kOptCaptureGreyImage),
    option("BeeperEnabled", kOptBeeper),
    option("TargetLedsEnabled", kOptTargetLeds),
    option("PresentationModeEnabled", kOptPresentationMode),
    number("PresentationModeCycleTime", VEL_FIELD(presentationModeCycleTime)),
    option("AutoExposureEnabled", kOptAutoExposure),
    option("AutoExposureRegionOfInterestEnabled", kOptAutoExposureRegion),
    option("AutoExposureFastConvergeEnabled", kOptAutoExposureFastConverge),
    number("AutoExposureRegionOfInterestFractionalX", VEL_FIELD(aeRegionX)),
    number("AutoExposureRegionOfInterestFractionalY", VEL_FIELD(aeRegionY)),
    number("AutoExposureRegionOfInterestFractionalWidth", VEL_FIELD(aeRegionWidth)),
    number("AutoExposureRegionOfInterestFractionalHeight", VEL_FIELD(aeRegionHeight)),
    number("MaximumAutoExposureGain", VEL_FIELD(maximumAutoExposureGain)),
    number("MaximumAutoExposureIntegrationTime", VEL_FIELD(maximumAutoExposureIntegrationTime)),
    number("MaximumAutoExposureIlluminationLevel", VEL_FIELD(maximumAutoExposureIlluminationLevel)),
    number("MaxNumberOfBarcodes", VEL_FIELD(maxNumberOfBarcodes)),
    number("NumberOfBarcodesMustDecode", VEL_FIELD(numberOfBarcodesMustDecode)),
    number("MaxNumberOfCapturesOnTriggerDown", VEL_FIELD(maxNumberOfCapturesOnTriggerDown)),
    number("DecoderTimeout", VEL_FIELD(decoderTimeout)),
    option("ConstantIlluminationEnabled", kOptConstantIllumination),
    option("AdaptiveWindowEnabled", kOptAdaptiveWindow),
    {"ImageRotationDegree", Rule::kRotation, VEL_FIELD(imageRotationDegree), 16},
    number("ImageSoftwareSubsampling", VEL_FIELD(imageSoftwareSubsampling)),
    symbology("AztecCodeEnabled", 0),
    symbology("CodabarEnabled", 1),
    symbology("Code128Enabled", 2),
    symbology("Code39Enabled", 3),
    symbology("Code39FullAsciiEnabled", 4),
    symbology("Code39CheckCharacterEnabled", 5),
    symbology("Code39CheckCharacterStrippingEnabled", 6),
    symbology("Code93Enabled", 7),
    symbology("CompositeCodeEnabled", 8),
    symbology("DataMatrixEnabled", 9),
    symbology("DataMatrixInverseVideoModeEnabled", 10),
    symbology("DataMatrixRectangularEnabled", 11),
    symbology("DataMatrixSmallPhysicalSizEnabled", 12),
    symbology("Interleaved2Of5Enabled", 13),
    symbology("Interleaved2Of5CheckCharacterEnabled", 14),
    symbology("Interleaved2Of5CheckCharacterStrippingEnabled", 15),
    symbology("MaxicodeEnabled", 16),
    symbology("MicroPdf417Enabled", 17),
    symbology("PostalAustralia", 18),
    symbology("PostalJapan", 19),
    symbology("PostalKorea", 20),
    symbology("PostalPlanet", 21),
    symbology("PostalPostnet", 22),
    symbology("PostalRoyalMail", 23),
    symbology("PostalKix", 37),
    symbology("PostalCanada", 38),
    symbology("Pdf417Enabled", 24),
    symbology("QrCodeEnabled", 25),
    symbology("QrCodeInverseVideoModeEnabled", 26),
    symbology("RssCodeEnabled", 27),
    symbology("UpcAEnabled", 28),
    symbology("UpcASupplements2Enabled", 29),
    symbology("UpcASupplements5Enabled", 30),
    symbology("UpcASupplementsMandatory", 34),
    symbology("UpcEEnabled", 31),
    symbology("UpcESupplements2Enabled", 32),
    symbology("UpcESupplements5Enabled", 33),
    symbology("UpcESupplementsMandatory", 35),
    symbology("All1dCodesStrongRecoveryEnabled", 63),
    {"VelmoraPerspectiveLiftEnabled", Rule::kPerspective, VEL_FIELD(barcodeEnableHigh), kSymbologyPerspectiveBit - 32},
    correction("ImageCorrectionNoiseFilter", kCorrNoiseFilter),
    number("ImageCorrectionNoiseFilterPass1Threshold", VEL_FIELD(noiseFilterPass1Threshold)),
    number("ImageCorrectionNoiseFilterPass2Threshold", VEL_FIELD(noiseFilterPass2Threshold)),
    correction("ImageCorrectionGauss", kCorrGauss),
    number("ImageCorrectionGaussWidth", VEL_FIELD(gaussWidth)),
    number("ImageCorrectionGaussFlatArea", VEL_FIELD(gaussFlatArea)),
    correction("ImageCorrectionGamma", kCorrGamma),
    number("ImageCorrectionGammaFactor", VEL_FIELD(gammaFactor)),
    correction("ImageCorrectionSharpenImageFilter", kCorrSharpen),
    {"ImageCorrectionSharpenImageWeight", Rule::kUnsigned, VEL_FIELD(sharpenImageWeight), 8},
    correction("ImageCorrectionHistogramFilter", kCorrHistogram),
    histogram("ImageCorrectionHistogramAutomatic", 1),
    histogram("ImageCorrectionHistogramUsesBounds", 2),
    histogram("ImageCorrectionHistogramUsesBrightnessContrast", 3),
    number("ImageCorrectionHistogramLowBound", VEL_FIELD(histogramLowBound)),
    number("ImageCorrectionHistogramHighBound", VEL_FIELD(histogramHighBound)),
    number("ImageCorrectionHistogramBrightness", VEL_FIELD(histogramBrightness)),
    number("ImageCorrectionHistogramContrast", VEL_FIELD(histogramContrast)),
    correction("HsvAdjustementEnabled", kCorrHsv),
    {"HsvHueAdjust", Rule::kSigned, VEL_FIELD(hsvHueAdjust), 16},
    number("HsvSaturationAdjust", VEL_FIELD(hsvSaturationAdjust)),
    number("HsvValueAdjust", VEL_FIELD(hsvValueAdjust)),
    {"FWImageCompressedEnabled", Rule::kSwitch, VEL_FIELD(fwImageCompressedEnabled), 0},
    number("ImageCompressedQuality", VEL_FIELD(imageCompressedQuality)),
    {"TimestampEnabled", Rule::kSwitch, VEL_FIELD(timestampEnabled), 0},
    number("TimestampColor", VEL_FIELD(timestampColor)),
    {"TimestampDateOnly", Rule::kSwitch, VEL_FIELD(timestampDateOnly), 0},
    number("TimestampDateFormat", VEL_FIELD(timestampDateFormat)),
    {"TimestampLocation", Rule::kLocation, VEL_FIELD(timestampLocation), 8},
};

#undef VEL_FIELD

// A field of 1, 2 or 4 bytes as an unsigned number, and back (cut to the field).
uint32_t fieldValue(const DeviceConfiguration& r, const Key& k) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r) + k.offset;
  uint8_t b;
  uint16_t h;
  uint32_t w;
  switch (k.size) {
    case 1: std::memcpy(&b, p, 1); return b;
    case 2: std::memcpy(&h, p, 2); return h;
    default: std::memcpy(&w, p, 4); return w;
  }
}

void setField(DeviceConfiguration& r, const Key& k, uint32_t value) {
  auto* p = reinterpret_cast<uint8_t*>(&r) + k.offset;
  const auto b = static_cast<uint8_t>(value);
  const auto h = static_cast<uint16_t>(value);
  switch (k.size) {
    case 1: std::memcpy(p, &b, 1); break;
    case 2: std::memcpy(p, &h, 2); break;
    default: std::memcpy(p, &value, 4); break;
  }
}

uint32_t lowBits(int value, int bits) {
  const auto v = static_cast<uint32_t>(value);
  return bits >= 32 ? v : v & ((1u << bits) - 1);
}

std::string valueText(const DeviceConfiguration& r, const Key& k) {
  const uint32_t field = fieldValue(r, k);
  switch (k.rule) {
    case Rule::kSigned:
      return std::to_string(k.size == 1 ? int(int8_t(field)) : int(int16_t(field)));
    case Rule::kSwitch:
    case Rule::kUnread:
    case Rule::kPerspective:
      return testBit(field, k.arg) ? "1" : "0";
    case Rule::kSubsampling:
      // The factor of the field 0..3; a larger field (not an imager value) is written as 8.
      return std::to_string(1u << std::min<uint32_t>(field, 3));
    case Rule::kHistogram:
      return field == k.arg ? "1" : "0";
    default:
      return std::to_string(field);
  }
}

void readKey(const ini::Document& file, DeviceConfiguration& r, const Key& k) {
  const std::string* text = file.find(kDevice, k.name);
  if (!text || k.rule == Rule::kUnread) return;
  const int value = ini::number(*text);
  switch (k.rule) {
    case Rule::kUnsigned:
    case Rule::kSigned:
      setField(r, k, lowBits(value, k.arg));
      break;
    case Rule::kSwitch: {
      uint32_t field = fieldValue(r, k);
      putBit(field, k.arg, value != 0);
      setField(r, k, field);
      break;
    }
    case Rule::kSubsampling: {
      const uint32_t factor = lowBits(value, 8);
      setField(r, k, factor >= 8 ? 3 : factor == 4 ? 2 : factor == 2 ? 1 : 0);
      break;
    }
    case Rule::kRotation:
      setField(r, k, value == 90 || value == 180 || value == 270 ? uint32_t(value) : 0);
      break;
    case Rule::kLocation:
      SetTimestampLocation(r, value >= 1 && value <= 3 ? value : 4);
      break;
    case Rule::kHistogram:
      if (value != 0) setField(r, k, k.arg);
      break;
    case Rule::kPerspective: {
      uint64_t flags = symbologyFlags(r);
      putBit(flags, kSymbologyPerspectiveBit, value != 0);
      setSymbologyFlags(r, flags);
      r.perspectiveCorrectionEnabled = value != 0 ? 1 : 0;
      break;
    }
    case Rule::kUnread:
      break;
  }
}

// The folder without its trailing backslash, so that no reader joins the next
// line to it. Where a reader would lose part of that text (an inline comment
// sign, blanks at either end, a leading quote, a second trailing backslash) the
// whole folder is written in quotes instead, its backslash included.
std::string folderText(const std::string& folder) {
  std::string bare = folder;
  if (!bare.empty() && bare.back() == '\\') bare.pop_back();
  if (bare.empty()) return bare;
  const bool quote = bare.back() == '\\' || bare.find_first_of(";#") != std::string::npos ||
                     ini::blank(bare.front()) || ini::blank(bare.back()) || bare.front() == '"' || bare.front() == '\'';
  if (!quote) return bare;
  const char mark = folder.find('"') == std::string::npos ? '"' : '\'';
  return mark + folder + mark;
}

void line(std::string& out, const char* key, const std::string& value) {
  out += key;
  out += '=';
  out += value;
  out += '\n';
}

void section(std::string& out, const char* name) {
  out += '[';
  out += name;
  out += "]\n";
}

}  // namespace

std::string text(const DeviceConfiguration& record, const HostValues& host) {
  std::string out;
  section(out, kDescriptor);
  line(out, "Comments", "");
  section(out, kDevice);
  for (const Key& k : kDeviceKeys) line(out, k.name, valueText(record, k));
  section(out, kHost);
  line(out, "AutoSaveEnabled", host.autoSave ? "1" : "0");
  line(out, "ImageSourceFolder", folderText(host.folder));
  line(out, "HostPerspectiveCorrectionEnabled", host.hostPerspectiveCorrection ? "1" : "0");
  line(out, "HostPerspectiveDisplayPopUp", host.perspectiveDisplay ? "1" : "0");
  return out;
}

int write(const char* path, const DeviceConfiguration& record, const HostValues& host) {
  if (!path || !*path) return -1;
  std::string body;
  for (const char c : text(record, host)) {
    if (c == '\n')
      body += platform::kLineEnd;
    else
      body += c;
  }
  // Written beside the file under a name of its own, then moved over it: a failed
  // write leaves the previous file as it was. A name left by an interrupted save
  // is passed over.
  constexpr int kTemporaryNames = 100;
  std::string temporary;
  platform::PlainFile* file = nullptr;
  for (int i = 0; i < kTemporaryNames; ++i) {
    temporary = std::string(path) + ".saving" + std::to_string(i);
    file = platform::fileCreate(temporary.c_str(), platform::CreateMode::kNewOnly);
    if (file || !platform::fileProbe(temporary.c_str())) break;
  }
  if (!file) return -1;
  const bool written = platform::fileWrite(file, body.data(), body.size()) == body.size();
  if (platform::fileClose(file) && written && platform::fileReplace(temporary.c_str(), path)) return 0;
  platform::fileDelete(temporary.c_str());
  return -1;
}

void readDevice(const ini::Document& file, DeviceConfiguration& record) {
  for (const Key& k : kDeviceKeys) readKey(file, record, k);
}

void readHost(const ini::Document& file, HostValues& host) {
  host.autoSave = file.number(kHost, "AutoSaveEnabled", host.autoSave) != 0 ? 1 : 0;
  host.hostPerspectiveCorrection =
      file.number(kHost, "HostPerspectiveCorrectionEnabled", host.hostPerspectiveCorrection) != 0 ? 1 : 0;
  host.perspectiveDisplay = file.number(kHost, "HostPerspectiveDisplayPopUp", host.perspectiveDisplay) != 0 ? 1 : 0;
  if (const std::string* folder = file.find(kHost, "ImageSourceFolder")) {
    std::string withBackslash = *folder;
    if (withBackslash.empty() || withBackslash.back() != '\\') withBackslash += '\\';
    if (withBackslash.size() <= kLongestFolder) host.folder = std::move(withBackslash);
  }
}

}  // namespace vel::configfile
