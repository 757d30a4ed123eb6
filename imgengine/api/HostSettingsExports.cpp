// Host-side settings kept in the per-machine store (auto-save, its folder, host
// perspective correction, perspective display), the factory-default reset of the
// record, and the pre-movie save and restore.
#include <cstring>

#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"
#include "config/HostOptions.h"

using vel::deviceConfiguration;

namespace {

using vel::hostoptions::kAutoSaved;
using vel::hostoptions::kHostPerspectiveCorrection;
using vel::hostoptions::kPerspectiveDisplay;
using vel::hostoptions::readSwitch;
using vel::hostoptions::writeSwitch;

// The settings that a movie switches off, as they were before.
struct PreMovieSlots {
  int autoSaved;
  uint16_t optionBits;      // the saved option bits, in place
  uint8_t correctionBits;   // the saved correction bits, in place
  uint8_t timestampEnabled;
  uint8_t fwImageCompressedEnabled;
  uint8_t illuminationSetting;
  uint16_t maximumAutoExposureGain;
  uint16_t maximumAutoExposureIntegrationTime;
  uint8_t maximumAutoExposureIlluminationLevel;
  uint8_t perspectiveCorrection;
};
PreMovieSlots g_slots;

using namespace vel;
constexpr uint16_t kMovieSavedOptions = (1u << kOptTargetLeds) | (1u << kOptBeeper) | (1u << kOptConstantIllumination) |
                                        (1u << kOptCaptureBarcodes) | (1u << kOptTriggerCameraMode) |
                                        (1u << kOptPresentationMode) | (1u << kOptAdaptiveWindow) |
                                        (1u << kOptAutoExposure);
constexpr uint16_t kMovieClearedOptions = kMovieSavedOptions & ~(1u << kOptAutoExposure);
constexpr uint8_t kMovieCorrections = (1u << kCorrGauss) | (1u << kCorrGamma) | (1u << kCorrNoiseFilter) |
                                      (1u << kCorrHistogram) | (1u << kCorrSharpen);

void setPerspectiveCorrection(DeviceConfiguration& r, bool on) {
  r.perspectiveCorrectionEnabled = on ? 1 : 0;
  uint64_t flags = symbologyFlags(r);
  putBit(flags, kSymbologyPerspectiveBit, on);
  setSymbologyFlags(r, flags);
}

}  // namespace

extern "C" {

int VEL_API VelGetAutoSaveEnabled(void) { return readSwitch(kAutoSaved); }
int VEL_API VelSetAutoSaveEnabled(int value) { return writeSwitch(kAutoSaved, value); }
int VEL_API VelGetHostPerspectiveCorrectionEnabled(void) { return readSwitch(kHostPerspectiveCorrection); }
int VEL_API VelSetHostPerspectiveCorrectionEnabled(int value) { return writeSwitch(kHostPerspectiveCorrection, value); }
int VEL_API VelGetPerspectiveDisplay(void) { return readSwitch(kPerspectiveDisplay); }
int VEL_API VelSetPerspectiveDisplay(int value) { return writeSwitch(kPerspectiveDisplay, value); }

// The folder text lives in the host options; callers may read it through this pointer.
char* VEL_API VelGetImageSourceFolder(void) { return const_cast<char*>(vel::hostoptions::imageSourceFolder()); }

int VEL_API VelSetImageSourceFolder(const char* path, int) { return vel::hostoptions::setImageSourceFolder(path) ? 1 : 0; }

int VEL_API VelSetFactoryDefaultConfiguration(void) {
  DeviceConfiguration& r = deviceConfiguration();
  ApplyFactoryDefaults(r);
  VelSetAutoSaveEnabled(r.autoSaveEnabled);
  VelSetImageSourceFolder(r.imageSourceFolder, 0);
  VelSetHostPerspectiveCorrectionEnabled(r.hostPerspectiveCorrectionEnabled);
  VelSetPerspectiveDisplay(r.hostPerspectiveDisplayPopUp);
  const int sensor = library().sensorType;
  if (sensor == kSensorOv9640 || sensor == kSensorOv9650) {
    const uint16_t limit = sensor == kSensorOv9640 ? 1023 : 1048;
    r.integrationTime = limit;
    r.maximumAutoExposureIntegrationTime = limit;
    putBit(r.imageCorrectionFlags, kCorrNoiseFilter, false);
    putBit(r.imageCorrectionFlags, kCorrSharpen, false);
    r.imageSoftwareSubsampling |= 1;
  }
  return 0;
}

int VEL_API VelSavePreMovieSettings(void) {
  DeviceConfiguration& r = deviceConfiguration();
  g_slots.autoSaved = VelGetAutoSaveEnabled();
  g_slots.optionBits = r.optionFlags & kMovieSavedOptions;
  g_slots.correctionBits = r.imageCorrectionFlags & kMovieCorrections;
  g_slots.timestampEnabled = r.timestampEnabled;
  g_slots.fwImageCompressedEnabled = r.fwImageCompressedEnabled;
  g_slots.illuminationSetting = r.illuminationSetting;
  g_slots.maximumAutoExposureGain = r.maximumAutoExposureGain;
  g_slots.maximumAutoExposureIntegrationTime = r.maximumAutoExposureIntegrationTime;
  g_slots.maximumAutoExposureIlluminationLevel = r.maximumAutoExposureIlluminationLevel;
  g_slots.perspectiveCorrection = r.perspectiveCorrectionEnabled & 1;

  VelSetAutoSaveEnabled(0);
  r.optionFlags &= static_cast<uint16_t>(~kMovieClearedOptions);
  r.imageCorrectionFlags &= static_cast<uint8_t>(~kMovieCorrections);
  r.timestampEnabled = 0;
  r.fwImageCompressedEnabled = 0;
  setPerspectiveCorrection(r, false);
  r.maximumAutoExposureIlluminationLevel = 0;
  r.illuminationSetting = 0;
  return VelSetPermanentDeviceConfiguration();
}

int VEL_API VelRestorePreMovieSettings(void) {
  DeviceConfiguration& r = deviceConfiguration();
  VelSetAutoSaveEnabled(g_slots.autoSaved);
  r.optionFlags = static_cast<uint16_t>((r.optionFlags & ~kMovieSavedOptions) | g_slots.optionBits);
  r.imageCorrectionFlags = static_cast<uint8_t>((r.imageCorrectionFlags & ~kMovieCorrections) | g_slots.correctionBits);
  r.timestampEnabled = g_slots.timestampEnabled;
  r.fwImageCompressedEnabled = g_slots.fwImageCompressedEnabled;
  r.illuminationSetting = g_slots.illuminationSetting;
  r.maximumAutoExposureGain = g_slots.maximumAutoExposureGain;
  r.maximumAutoExposureIntegrationTime = g_slots.maximumAutoExposureIntegrationTime;
  r.maximumAutoExposureIlluminationLevel = g_slots.maximumAutoExposureIlluminationLevel;
  setPerspectiveCorrection(r, g_slots.perspectiveCorrection != 0);
  return VelSetPermanentDeviceConfiguration();
}

}  // extern "C"
