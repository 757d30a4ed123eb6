// Serial lines: a device file (platform/DeviceFiles.h) opened by a COM port name,
// with line settings, purge, break and line events.
#pragma once

#include <cstdint>

#include "platform/DeviceFiles.h"

namespace vel::platform {

// Serial line settings written when a port opens; the rest of the port state stays.
struct SerialSettings {
  uint32_t inQueue = 65536, outQueue = 65536;
  uint32_t baudRate = 115200;
  uint32_t extraEventMask = 0;  // added to the mask the port already has
};
// The framing of the line's characters, written over the port's current state
// (everything else stays as it was).
struct LineFormat {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;
  uint8_t stopBits = 1;      // 1 or 2
  bool parityBit = false;    // even parity when set
  bool parityCheck = false;  // received characters checked against their parity
  bool binary = true;        // bytes pass unchanged, no end-of-file or line-end handling
};
// Line events (the system's own bit values).
constexpr uint32_t kLineCts = 0x0008, kLineDsr = 0x0010, kLineBreak = 0x0040, kLineError = 0x0080;
// Modem-status levels (the system's own bit values).
constexpr uint32_t kModemCtsOn = 0x0010, kModemDsrOn = 0x0020;

// Queue sizes; port state; purge; timeouts; event mask.
bool serialConfigure(NativeFile* f, const SerialSettings& s);
bool serialSetBaudRate(NativeFile* f, uint32_t baud);
// False when the port's state cannot be read or the format is refused.
bool serialSetLineFormat(NativeFile* f, const LineFormat& format);
bool serialPurge(NativeFile* f);  // both pending operations and both buffers
bool serialSetBreak(NativeFile* f, bool on);
// Overlapped wait for a line event; *mask receives the bits on completion and
// must stay valid until then.
IoStart serialWaitEvent(NativeFile* f, uint32_t* mask, IoOperation* op);
// The CTS and DSR levels now (kModem* bits); false when the port cannot tell.
bool serialModemStatus(NativeFile* f, uint32_t* levels);

}  // namespace vel::platform
