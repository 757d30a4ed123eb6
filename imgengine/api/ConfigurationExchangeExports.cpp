// Exchange of the configuration record with the imager. Each call holds the
// command lock for its whole exchange and answers 1 when the connection's error
// flag is clear afterwards, 0 when it is set or there is no connection. The
// exchange works on a copy of the record taken, and put back, under the record's
// lock, so that a change the operation threads make meanwhile is never half seen.
#include "ImgEngine.h"
#include "core/CommandCall.h"
#include "config/DeviceConfiguration.h"
#include "api/TracedCall.h"

using vel::DeviceConfiguration;

namespace {

DeviceConfiguration recordCopy() {
  vel::ScopedLock hold(vel::configurationLock());
  return vel::deviceConfiguration();
}

int store(bool permanent) {
  return vel::runCommand(0, [permanent](vel::DeviceConnection& c) { return c.setConfiguration(recordCopy(), permanent); });
}

}  // namespace

extern "C" {

int VEL_API VelGetDeviceConfiguration(void) {
  return vel::api::traced(__func__, vel::runCommand(0, [](vel::DeviceConnection& c) {
    DeviceConfiguration record = recordCopy();
    c.getConfiguration(record);
    vel::ScopedLock hold(vel::configurationLock());
    vel::deviceConfiguration() = record;
    return 1;
  }));
}

int VEL_API VelSetTemporaryDeviceConfiguration(void) { return vel::api::traced(__func__, store(false)); }
int VEL_API VelSetPermanentDeviceConfiguration(void) { return vel::api::traced(__func__, store(true)); }

}  // extern "C"
