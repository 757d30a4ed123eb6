#include "config/ImagerIdentity.h"

namespace vel {

ProcessorType classifyProcessor(uint32_t v) { return v == 0 ? kProcessorMx1 : kProcessorSa1110; }

SensorType classifySensor(uint32_t v) {
  if ((v & 0xFF000000u) == 0x01000000u) return kSensorPicocam;
  if ((v & 0xFFFFFFF0u) == 0x7FA29640u) return kSensorOv9640;
  if ((v & 0xFFFFFFF0u) == 0x7FA29650u) return kSensorOv9650;
  return kSensorStandard;
}

}  // namespace vel
