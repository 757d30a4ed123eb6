// The port map: a COM port number may stand for a device path or for a network
// serial port. VEL_SERIAL_PORT_<N> in the environment, else the host settings
// string SerialPort<N>, holds either a device name ("/dev/ttyUSB0", "COM12",
// "\\.\COM12") or "rfc2217://HOST:PORT" (HOST a name, an IPv4 address or an IPv6
// address in brackets). An unmapped number is the COM port of that number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/DeviceSeam.h"

namespace vel {

struct PortTarget {
  enum class Kind { kNone, kDevice, kNetwork };
  Kind kind = Kind::kNone;
  std::string device;  // kDevice: the name the device seam opens
  std::string host;    // kNetwork
  uint16_t port = 0;   // kNetwork
};

// "\\.\COM" followed by the number for 1..99; empty for any other number.
std::string comPortName(int portNumber);
// What the mapping text names; kNone for an empty text or a malformed URL.
PortTarget parsePortMapping(const std::string& text);
// The target of port number 1..99 (kNone for any other number or a malformed mapping).
PortTarget portTarget(int portNumber);
// Opens the serial line port number 1..99 names: a network serial port, or a
// device through the device seam. Null when it does not open.
std::unique_ptr<devices::SerialLine> openPortLine(int portNumber);

}  // namespace vel
