// Getters and setters of single settings of the host configuration record. They
// never talk to the imager and take no lock; a change reaches the imager with the
// next temporary or permanent configuration store. The families are generated
// from the tables below; settings with rules of their own follow them.
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"
#include "config/IntegrationTime.h"
#include "api/SettingsFamilies.h"

using vel::deviceConfiguration;
using vel::library;

namespace {

// When a switch setter may turn its bit on.
enum class Rule {
  LowByte,     // the argument's low byte is non-zero
  WholeInt,    // the whole argument is non-zero
  Sa1110Only,  // low byte, and only on an SA1110 processor
  ColourOnly,  // low byte, and only on a colour sensor
  NotColour,   // low byte, and never on a colour sensor
};

bool switchOn(Rule rule, int value) {
  const bool lowByte = (value & 0xFF) != 0;
  const bool colour = vel::isColorSensor(library().sensorType);
  switch (rule) {
    case Rule::LowByte: return lowByte;
    case Rule::WholeInt: return value != 0;
    case Rule::Sa1110Only: return lowByte && library().processorType == vel::kProcessorSa1110;
    case Rule::ColourOnly: return lowByte && colour;
    case Rule::NotColour: return lowByte && !colour;
  }
  return false;
}

template <typename Field>
int storeLow(Field& field, int value) {
  field = static_cast<Field>(value);
  return field;
}

template <typename Word>
int setSwitch(Word& word, int bit, bool on) {
  vel::putBit(word, bit, on);
  return on ? 1 : 0;
}

int setSymbology(int bit, int value) {
  uint64_t flags = vel::symbologyFlags(deviceConfiguration());
  vel::putBit(flags, bit, (value & 0xFF) != 0);
  vel::setSymbologyFlags(deviceConfiguration(), flags);
  return static_cast<int>((flags >> bit) & 1u);
}

}  // namespace

extern "C" {

#define VEL_DEFINE_VALUE(getter, setter, field)                                      \
  int VEL_API getter(void) { return deviceConfiguration().field; }                   \
  int VEL_API setter(int value) { return storeLow(deviceConfiguration().field, value); }
VEL_VALUE_SETTINGS(VEL_DEFINE_VALUE)
#undef VEL_DEFINE_VALUE

#define VEL_DEFINE_FLAG(getter, setter, bit, rule, word)                                           \
  int VEL_API getter(void) { return vel::testBit(deviceConfiguration().word, bit); }               \
  int VEL_API setter(int value) { return setSwitch(deviceConfiguration().word, bit, switchOn(Rule::rule, value)); }
#define VEL_DEFINE_OPTION(getter, setter, bit, rule) VEL_DEFINE_FLAG(getter, setter, bit, rule, optionFlags)
#define VEL_DEFINE_CORRECTION(getter, setter, bit, rule) VEL_DEFINE_FLAG(getter, setter, bit, rule, imageCorrectionFlags)
#define VEL_DEFINE_ORDERING(getter, setter, bit) VEL_DEFINE_FLAG(getter, setter, bit, LowByte, orderingFlags)
VEL_OPTION_SWITCHES(VEL_DEFINE_OPTION)
VEL_CORRECTION_SWITCHES(VEL_DEFINE_CORRECTION)
VEL_ORDERING_SWITCHES(VEL_DEFINE_ORDERING)
#undef VEL_DEFINE_ORDERING
#undef VEL_DEFINE_CORRECTION
#undef VEL_DEFINE_OPTION
#undef VEL_DEFINE_FLAG

#define VEL_DEFINE_HISTOGRAM(getter, setter, mode)                                   \
  int VEL_API getter(void) { return deviceConfiguration().histogramMode == (mode); } \
  int VEL_API setter(int value) {                                                    \
    if (value & 0xFF) deviceConfiguration().histogramMode = (mode);                  \
    return deviceConfiguration().histogramMode;                                      \
  }
VEL_HISTOGRAM_MODES(VEL_DEFINE_HISTOGRAM)
#undef VEL_DEFINE_HISTOGRAM

#define VEL_DEFINE_SYMBOLOGY(getter, setter, bit)                                                   \
  int VEL_API getter(void) { return static_cast<int>((vel::symbologyFlags(deviceConfiguration()) >> (bit)) & 1u); } \
  int VEL_API setter(int value) { return setSymbology(bit, value); }
VEL_SYMBOLOGY_SWITCHES(VEL_DEFINE_SYMBOLOGY)
#undef VEL_DEFINE_SYMBOLOGY

// A 32-bit field of which the setter keeps only the low byte.
int VEL_API VelGetImageCorrectionSharpenImageWeight(void) {
  return static_cast<int>(deviceConfiguration().sharpenImageWeight);
}
int VEL_API VelSetImageCorrectionSharpenImageWeight(int value) {
  deviceConfiguration().sharpenImageWeight = static_cast<uint8_t>(value);
  return static_cast<int>(deviceConfiguration().sharpenImageWeight);
}

// Settings whose setters adapt the value to the connected imager.
int VEL_API VelGetWindowX(void) { return deviceConfiguration().windowX; }
int VEL_API VelSetWindowX(int value) {
  if (vel::isColorSensor(library().sensorType)) value = (value / 2) * 2;
  return storeLow(deviceConfiguration().windowX, value);
}

int VEL_API VelGetWindowWidth(void) { return deviceConfiguration().windowWidth; }
int VEL_API VelSetWindowWidth(int value) {
  const int minimum = library().processorType == vel::kProcessorSa1110 ? 128 : 64;
  if (value < minimum) value = minimum;
  return storeLow(deviceConfiguration().windowWidth, value & ~31);
}

int VEL_API VelGetWindowHeight(void) { return deviceConfiguration().windowHeight; }
int VEL_API VelSetWindowHeight(int value) {
  if (value < 64) value = 64;
  return storeLow(deviceConfiguration().windowHeight, value & ~31);
}

int VEL_API VelGetLog2SubsamplingFactor(void) { return deviceConfiguration().log2SubsamplingFactor; }
int VEL_API VelSetLog2SubsamplingFactor(int value) {
  if (library().processorType != vel::kProcessorSa1110) value = 0;
  return storeLow(deviceConfiguration().log2SubsamplingFactor, value);
}

int VEL_API VelGetImageRotationDegrees(void) { return deviceConfiguration().imageRotationDegree; }
// Answers 0 when the value was accepted, non-zero when 0 was stored instead.
int VEL_API VelSetImageRotationDegrees(int value) {
  const bool accepted = value == 90 || value == 180 || value == 270;
  deviceConfiguration().imageRotationDegree = static_cast<uint16_t>(accepted ? value : 0);
  return accepted ? 0 : 1;
}

int VEL_API VelGetImageSoftwareSubsamplingFactor(void) { return deviceConfiguration().imageSoftwareSubsampling; }
int VEL_API VelSetImageSoftwareSubsamplingFactor(int value) {
  int n = value < 1 ? 1 : value > 16 ? 16 : value;
  if (vel::isColorSensor(library().sensorType)) n = 2 * (n / 2) + 1;
  return storeLow(deviceConfiguration().imageSoftwareSubsampling, n);
}

int VEL_API VelGetIntegrationTimeInMicroSeconds(void) {
  return vel::integrationUnitsToMicroseconds(deviceConfiguration().integrationTime, library().sensorType,
                                             library().processorType);
}
int VEL_API VelSetIntegrationTimeInMicroSeconds(int microseconds) {
  deviceConfiguration().integrationTime =
      vel::microsecondsToIntegrationUnits(microseconds, library().sensorType, library().processorType);
  return deviceConfiguration().integrationTime;
}

int VEL_API VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds(void) {
  return vel::integrationUnitsToMicroseconds(deviceConfiguration().maximumAutoExposureIntegrationTime,
                                             library().sensorType, library().processorType);
}
int VEL_API VelSetMaximumAutoExposureIntegrationTimeInMicroSeconds(int microseconds) {
  deviceConfiguration().maximumAutoExposureIntegrationTime =
      vel::microsecondsToIntegrationUnits(microseconds, library().sensorType, library().processorType);
  return deviceConfiguration().maximumAutoExposureIntegrationTime;
}

int VEL_API VelGetMaximumIntegrationTime(void) { return vel::maximumIntegrationTime(library().sensorType); }

}  // extern "C"
