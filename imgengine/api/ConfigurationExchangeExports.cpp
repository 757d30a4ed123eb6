// Exchange of the configuration record with the imager. Each call holds the
// command lock for its whole exchange and answers 1 when the connection's error
// flag is clear afterwards, 0 when it is set or there is no connection. The
// exchange works on a copy of the record taken, and put back, under the record's
// lock, so that a change the operation threads make meanwhile is never half seen.
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"
#include "connection/DeviceConnection.h"

using vel::DeviceConfiguration;

namespace {

DeviceConfiguration recordCopy() {
  vel::ScopedLock hold(vel::configurationLock());
  return vel::deviceConfiguration();
}

template <typename Command>
int exchange(Command command) {
  vel::LibraryState& state = vel::library();
  vel::CommandHold lock(state.commandLock);
  vel::DeviceConnection* connection = state.connection();
  if (!connection) return 0;
  command(*connection);
  return connection->errorFlag() ? 0 : 1;
}

int store(bool permanent) {
  return exchange([permanent](vel::DeviceConnection& c) { c.setConfiguration(recordCopy(), permanent); });
}

}  // namespace

extern "C" {

int VEL_API VelGetDeviceConfiguration(void) {
  return exchange([](vel::DeviceConnection& c) {
    DeviceConfiguration record = recordCopy();
    c.getConfiguration(record);
    vel::ScopedLock hold(vel::configurationLock());
    vel::deviceConfiguration() = record;
  });
}

int VEL_API VelSetTemporaryDeviceConfiguration(void) { return store(false); }
int VEL_API VelSetPermanentDeviceConfiguration(void) { return store(true); }

}  // extern "C"
