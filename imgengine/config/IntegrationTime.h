// Conversion between the sensor's integration-time units and microseconds. The
// constants are single-precision values; the arithmetic runs in extended
// precision and truncates toward zero.
#pragma once

#include <cstdint>

namespace vel {

constexpr float kMicrosecondsPerUnitMx1 = 0.02830616f;     // 1/35.328
constexpr float kMicrosecondsPerUnitSa1110 = 0.02466061f;  // 1/40.5505
constexpr float kColourUnitsPerMicrosecond = 0.01104f;
constexpr float kClocksPerMicrosecondMx1 = 35.328f;
constexpr float kClocksPerMicrosecondSa1110 = 40.5505f;
constexpr float kOneTwentySeventh = 0.037037037f;

int integrationUnitsToMicroseconds(uint16_t units, int sensorType, int processorType);
// 0 gives 0 without conversion; the result is cut to the 16-bit field.
uint16_t microsecondsToIntegrationUnits(int microseconds, int sensorType, int processorType);

// Largest meaningful integration time of a sensor.
int maximumIntegrationTime(int sensorType);

}  // namespace vel
