// Connect, disconnect and the communication status.
#include "ImgEngine.h"
#include "core/Connect.h"
#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"
#include "api/TracedCall.h"

namespace {
constexpr int kDefaultBaudRate = 115200;
}

extern "C" {

int VEL_API VelDeviceConnect(int port, int channelTimeoutMs) {
  return vel::api::traced(__func__, vel::connectDevice(port, channelTimeoutMs, kDefaultBaudRate), port, channelTimeoutMs);
}

int VEL_API VelDeviceConnectEx(int port, int channelTimeoutMs, int baudRate) {
  return vel::api::traced(__func__, vel::connectDevice(port, channelTimeoutMs, baudRate), port, channelTimeoutMs,
                          baudRate);
}

// Recorded before the disconnect: the connection's close follows it in the trace.
void VEL_API VelDeviceDisconnect(void) {
  vel::api::tracedVoid(__func__);
  vel::disconnectDevice();
}

int VEL_API VelGetCommunicationStatus(void) { return vel::api::traced(__func__, vel::communicationStatus()); }

// Marks the connection failed; nothing when not connected. Never waits for a transfer.
void VEL_API SetCommunicationError(void) {
  vel::library().withSession([](vel::Session* session) {
    if (session && session->connection) session->connection->setError();
  });
  vel::api::tracedVoid(__func__);
}

}  // extern "C"
