// Configuration files: save writes the host copy of the record and the host
// settings; load reads a file, rebuilds the record from the factory defaults and
// the file, passes the host settings on and stores the record in the imager.
// One call at a time, library-wide.
#include "ImgEngine.h"
#include "config/ConfigurationFile.h"
#include "config/DeviceConfiguration.h"
#include "config/HostOptions.h"
#include "config/IniReader.h"
#include "api/TracedCall.h"

namespace {

namespace hostoptions = vel::hostoptions;

int loadAndDeploy(const char* path);

vel::configfile::HostValues currentHostValues() {
  vel::configfile::HostValues host;
  host.autoSave = hostoptions::readSwitch(hostoptions::kAutoSaved);
  host.folder = hostoptions::readImageSourceFolder();
  host.hostPerspectiveCorrection = hostoptions::readSwitch(hostoptions::kHostPerspectiveCorrection);
  host.perspectiveDisplay = hostoptions::readSwitch(hostoptions::kPerspectiveDisplay);
  return host;
}

}  // namespace

extern "C" {

int VEL_API VelSaveCurrentConfigurations(const char* path) {
  if (!path) return -1;
  vel::ScopedLock hold(vel::configfile::fileLock());
  vel::DeviceConfiguration record;
  {
    vel::ScopedLock holdRecord(vel::configurationLock());
    record = vel::deviceConfiguration();
  }
  return vel::configfile::write(path, record, currentHostValues());
}

// A file that cannot be read changes nothing: it is read whole before the record
// is reset. The record goes to the imager as VelSetPermanentDeviceConfiguration
// sends it (traced on its own, before this call).
int VEL_API VelLoadAndDeployConfigurations(const char* path) {
  return vel::api::traced(__func__, loadAndDeploy(path), path);
}

}  // extern "C"

namespace {

int loadAndDeploy(const char* path) {
  if (!path) return 0;
  vel::ScopedLock hold(vel::configfile::fileLock());
  vel::ini::Document file;
  if (!file.load(path)) return 0;
  vel::DeviceConfiguration record;
  vel::ApplyFactoryDefaults(record);
  vel::configfile::readDevice(file, record);
  vel::configfile::HostValues host = currentHostValues();
  vel::configfile::readHost(file, host);
  record.autoSaveEnabled = static_cast<uint8_t>(host.autoSave);
  record.hostPerspectiveCorrectionEnabled = static_cast<uint8_t>(host.hostPerspectiveCorrection);
  record.hostPerspectiveDisplayPopUp = static_cast<uint8_t>(host.perspectiveDisplay);
  host.folder.copy(record.imageSourceFolder, sizeof record.imageSourceFolder - 1);
  record.imageSourceFolder[host.folder.size()] = '\0';
  {
    vel::ScopedLock holdRecord(vel::configurationLock());
    vel::deviceConfiguration() = record;
  }
  VelSetAutoSaveEnabled(host.autoSave);
  VelSetHostPerspectiveCorrectionEnabled(host.hostPerspectiveCorrection);
  VelSetPerspectiveDisplay(host.perspectiveDisplay);
  VelSetImageSourceFolder(host.folder.c_str(), 0);
  VelSetPermanentDeviceConfiguration();
  return 1;
}

}  // namespace
