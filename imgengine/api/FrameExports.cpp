// Exports of the library frame: versions, host version and classification queries.
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "core/Text.h"

using vel::library;

namespace {
// The library's version text (from the version header); the terminating zero is part
// of what is copied.
constexpr char kHostVersion[] = VEL_HOST_VERSION;
}

extern "C" {

unsigned int VEL_API VelGetVisionProcessorVersion(void) { return library().versions.visionProcessor; }
unsigned int VEL_API VelGetImageSensorVersion(void) { return library().versions.imageSensor; }
unsigned int VEL_API VelGetIlluminationBoardVersion(void) { return library().versions.illuminationBoard; }

int VEL_API VelGetFirmwareVersion(int maxLength, char* buffer) {
  const auto& v = library().versions;
  return vel::copyText(v.firmware, v.firmwareLength, maxLength, buffer);
}

int VEL_API VelGetHostVersion(int maxLength, char* buffer) {
  return vel::copyText(kHostVersion, static_cast<int>(sizeof kHostVersion), maxLength, buffer);
}

int VEL_API VelIsSensorTypeStandard(void) { return library().sensorType == vel::kSensorStandard; }
int VEL_API VelIsSensorTypePicocam(void) { return library().sensorType == vel::kSensorPicocam; }
int VEL_API VelIsSensorTypeOv9640(void) { return library().sensorType == vel::kSensorOv9640; }
int VEL_API VelIsSensorTypeOv9650(void) { return library().sensorType == vel::kSensorOv9650; }
int VEL_API VelIsColorSensor(void) { return vel::isColorSensor(library().sensorType); }
int VEL_API VelIsProcessorTypeMx1(void) { return library().processorType == vel::kProcessorMx1; }
int VEL_API VelIsProcessorTypeSa1110(void) { return library().processorType == vel::kProcessorSa1110; }

}  // extern "C"
