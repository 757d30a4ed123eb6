// Connect, disconnect and the communication status.
#include "ImgEngine.h"
#include "core/Connect.h"
#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"

namespace {
constexpr int kDefaultBaudRate = 115200;
}

extern "C" {

int VEL_API VelDeviceConnect(int port, int channelTimeoutMs) {
  return vel::connectDevice(port, channelTimeoutMs, kDefaultBaudRate);
}

int VEL_API VelDeviceConnectEx(int port, int channelTimeoutMs, int baudRate) {
  return vel::connectDevice(port, channelTimeoutMs, baudRate);
}

void VEL_API VelDeviceDisconnect(void) { vel::disconnectDevice(); }

int VEL_API VelGetCommunicationStatus(void) { return vel::communicationStatus(); }

// Marks the connection failed; nothing when not connected. Never waits for a transfer.
void VEL_API SetCommunicationError(void) {
  vel::library().withSession([](vel::Session* session) {
    if (session && session->connection) session->connection->setError();
  });
}

}  // extern "C"
