#include "transport/PortMap.h"

#include <cctype>
#include <cstring>

#include "platform/Environment.h"
#include "platform/HostSettings.h"
#include "transport/NetworkSerialLine.h"
#include "transport/TracedDevices.h"

namespace vel {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 99;
constexpr char kScheme[] = "rfc2217://";
constexpr size_t kSettingCapacity = 512;

std::string trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// "1".."65535", digits only.
bool parsePort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

PortTarget parseUrl(const std::string& rest) {
  PortTarget target;
  std::string host, port;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return target;
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
  } else {
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) return target;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  // An optional trailing slash, nothing else after the port (no options, no path).
  if (!port.empty() && port.back() == '/') port.pop_back();
  uint16_t number = 0;
  if (host.empty() || !parsePort(port, &number)) return target;
  for (char c : host) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@') return target;
  }
  target.host = host;
  target.port = number;
  target.kind = PortTarget::Kind::kNetwork;
  return target;
}

// "COM12" in a plain path names no device from 10 on: the device namespace form does.
std::string deviceName(const std::string& text) {
  if (startsWithNoCase(text, "com") && text.size() > 3 && text.size() < 6 &&
      text.find_first_not_of("0123456789", 3) == std::string::npos) {
    const std::string name = comPortName(std::stoi(text.substr(3)));
    if (!name.empty()) return name;
  }
  return text;
}

std::string mapping(int portNumber) {
  const std::string number = std::to_string(portNumber);
  std::string text;
  if (platform::environmentValue(("VEL_SERIAL_PORT_" + number).c_str(), &text)) return text;
  char buffer[kSettingCapacity];
  const int n = platform::hostSettingsReadString(("SerialPort" + number).c_str(), buffer, sizeof buffer);
  if (n <= 0) return {};
  // A registry string may carry its terminating NUL.
  const size_t length = static_cast<size_t>(n);
  return std::string(buffer, strnlen(buffer, length));
}

}  // namespace

std::string comPortName(int portNumber) {
  if (portNumber < kFirstPort || portNumber > kLastPort) return {};
  // The device namespace form: "COM10" and above are not device names inside a
  // plain path, and "\\.\COMn" names the same device as "COMn" for 1..9.
  return "\\\\.\\COM" + std::to_string(portNumber);
}

PortTarget parsePortMapping(const std::string& text) {
  const std::string value = trimmed(text);
  if (value.empty()) return {};
  if (startsWithNoCase(value, kScheme)) return parseUrl(value.substr(sizeof kScheme - 1));
  PortTarget target;
  target.kind = PortTarget::Kind::kDevice;
  target.device = deviceName(value);
  return target;
}

PortTarget portTarget(int portNumber) {
  if (portNumber < kFirstPort || portNumber > kLastPort) return {};
  const std::string text = mapping(portNumber);
  if (!trimmed(text).empty()) return parsePortMapping(text);
  PortTarget target;
  target.kind = PortTarget::Kind::kDevice;
  target.device = comPortName(portNumber);
  return target;
}

std::unique_ptr<devices::SerialLine> openPortLine(int portNumber) {
  const PortTarget target = portTarget(portNumber);
  const std::string com = "COM" + std::to_string(portNumber);
  if (target.kind == PortTarget::Kind::kNetwork) {
    const std::string address =
        (target.host.find(':') != std::string::npos ? "[" + target.host + "]" : target.host) + ":" +
        std::to_string(target.port);
    return devices::traced(NetworkSerialLine::open(target.host, target.port), "rfc2217 " + address,
                           "network serial port (RFC 2217) " + address + " as " + com);
  }
  if (target.kind == PortTarget::Kind::kDevice) {
    // "serial COM3" for the device namespace form of a COM port, else the name as given.
    std::string shown = target.device;
    if (shown.rfind("\\\\.\\", 0) == 0) shown = shown.substr(4);
    return devices::traced(devices::provider().openSerial(target.device.c_str()), "serial " + shown,
                           "serial line " + target.device + " as " + com);
  }
  return nullptr;
}

}  // namespace vel
