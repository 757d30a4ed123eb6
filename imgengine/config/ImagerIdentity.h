// What the imager says it is: the version record read at connect, and the
// processor and image sensor classified from its version numbers. Kept from one
// connection to the next.
#pragma once

#include <cstdint>

namespace vel {

enum ProcessorType : int { kProcessorMx1 = 0, kProcessorSa1110 = 1 };
enum SensorType : int { kSensorStandard = 0, kSensorPicocam = 1, kSensorOv9640 = 2, kSensorOv9650 = 3 };

struct VersionRecord {
  uint32_t visionProcessor = 0;
  uint32_t imageSensor = 0;
  uint32_t illuminationBoard = 0;
  uint32_t reserved = 0;
  uint8_t firmwareLength = 0;
  char firmware[255] = {};
};

ProcessorType classifyProcessor(uint32_t visionProcessorVersion);
SensorType classifySensor(uint32_t imageSensorVersion);
inline bool isColorSensor(int sensorType) { return sensorType == kSensorOv9640 || sensorType == kSensorOv9650; }

}  // namespace vel
