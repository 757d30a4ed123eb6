// Connecting to the imager, disconnecting and checking the communication.
#pragma once

namespace vel {

// Disconnects, opens the transport the port selects (0 USB with a fall-back from
// the direct to the packet link, 100 USB 2, 1..99 a COM port at baudRate), builds
// the operations and the connection, checks the link and reads the imager's
// versions and configuration. Answers 1 when connected; 0 when the link or the
// block size failed or the imager stopped answering; -1 when it answered but
// refused the link check; -2 when the transport did not open; -3 when memory or
// a thread could not be had. Every answer but 1 leaves the library not connected.
int connectDevice(int port, int channelTimeoutMs, int baudRate);
void disconnectDevice();
// 1 when the imager answers a link check within 200 ms; -3 when the connection is
// marked failed or the check fails; -4 when not connected.
int communicationStatus();

}  // namespace vel
