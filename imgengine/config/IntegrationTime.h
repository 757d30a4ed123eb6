// Conversion between the sensor's integration-time units and microseconds. The
// constants are single-precision values given by their bit patterns (a decimal
// literal can round to the neighbouring float: 0.01104f is 0x3C34E11E, not the
// imager's 0x3C34E11D); the arithmetic runs in extended precision and truncates
// toward zero.
#pragma once

#include <cstdint>
#include <cstring>

namespace vel {

inline float floatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline const float kMicrosecondsPerUnitMx1 = floatFromBits(0x3CE7E252);     // 0.02830616 = 1/35.328
inline const float kMicrosecondsPerUnitSa1110 = floatFromBits(0x3CCA050C);  // 0.02466061 = 1/40.5505
inline const float kColourUnitsPerMicrosecond = floatFromBits(0x3C34E11D);  // 0.01104
inline const float kClocksPerMicrosecondMx1 = floatFromBits(0x420D4FDF);    // 35.328
inline const float kClocksPerMicrosecondSa1110 = floatFromBits(0x422233B6); // 40.5505
inline const float kOneTwentySeventh = floatFromBits(0x3D17B426);           // 0.037037037 = 1/27

int integrationUnitsToMicroseconds(uint16_t units, int sensorType, int processorType);
// 0 gives 0 without conversion; the result is cut to the 16-bit field.
uint16_t microsecondsToIntegrationUnits(int microseconds, int sensorType, int processorType);

// Largest meaningful integration time of a sensor.
int maximumIntegrationTime(int sensorType);

}  // namespace vel
