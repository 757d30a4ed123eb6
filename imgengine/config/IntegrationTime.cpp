#include "config/IntegrationTime.h"

#include "config/ImagerIdentity.h"

namespace vel {

namespace {
using Wide = long double;

// Truncates toward zero; the values in use stay far inside 64 bits.
int64_t truncate(Wide v) { return static_cast<int64_t>(v); }
}  // namespace

int integrationUnitsToMicroseconds(uint16_t t, int sensorType, int processorType) {
  if (isColorSensor(sensorType)) return static_cast<int>(truncate(Wide(3200) * t * Wide(kMicrosecondsPerUnitMx1)));
  const Wide perUnit = processorType == kProcessorSa1110 ? Wide(kMicrosecondsPerUnitSa1110) : Wide(kMicrosecondsPerUnitMx1);
  return static_cast<int>(truncate((Wide(27) * t + Wide(2.0f)) * perUnit));
}

uint16_t microsecondsToIntegrationUnits(int us, int sensorType, int processorType) {
  if (us == 0) return 0;
  int64_t units;
  if (isColorSensor(sensorType)) {
    units = truncate(Wide(us) * Wide(kColourUnitsPerMicrosecond));
  } else {
    const Wide clocks = processorType == kProcessorSa1110 ? Wide(kClocksPerMicrosecondSa1110) : Wide(kClocksPerMicrosecondMx1);
    units = truncate((Wide(us) * clocks - Wide(2.0f)) * Wide(kOneTwentySeventh));
  }
  return static_cast<uint16_t>(units);
}

int maximumIntegrationTime(int sensorType) {
  if (sensorType == kSensorOv9640) return 1023;
  if (sensorType == kSensorOv9650) return 1048;
  return 65535;
}

}  // namespace vel
