// Exchange of the configuration record with the imager. Each call holds the
// command lock for its whole exchange and answers 1 when the connection's error
// flag is clear afterwards, 0 when it is set or there is no connection.
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"
#include "connection/DeviceConnection.h"

namespace {

template <typename Command>
int exchange(Command command) {
  vel::LibraryState& state = vel::library();
  vel::ScopedLock lock(state.commandLock);
  vel::DeviceConnection* connection = state.connection();
  if (!connection) return 0;
  command(*connection, vel::deviceConfiguration());
  return connection->errorFlag() ? 0 : 1;
}

}  // namespace

extern "C" {

int VEL_API VelGetDeviceConfiguration(void) {
  return exchange([](vel::DeviceConnection& c, vel::DeviceConfiguration& r) { c.getConfiguration(r); });
}

int VEL_API VelSetTemporaryDeviceConfiguration(void) {
  return exchange([](vel::DeviceConnection& c, vel::DeviceConfiguration& r) { c.setConfiguration(r, false); });
}

int VEL_API VelSetPermanentDeviceConfiguration(void) {
  return exchange([](vel::DeviceConnection& c, vel::DeviceConfiguration& r) { c.setConfiguration(r, true); });
}

}  // extern "C"
