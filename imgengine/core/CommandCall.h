// One command of an export on the open connection, under the command lock.
#pragma once

#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"

namespace vel {

// Runs command(connection) holding the command lock. Answers failure when there
// is no connection (nothing is sent) or when the connection's error flag is set
// afterwards, by this command or an earlier one; otherwise what command answered.
template <typename Command>
int runCommand(int failure, Command command) {
  LibraryState& state = library();
  CommandHold lock(state.commandLock);
  DeviceConnection* connection = state.connection();
  if (!connection) return failure;
  const int result = command(*connection);
  return connection->errorFlag() ? failure : result;
}

}  // namespace vel
