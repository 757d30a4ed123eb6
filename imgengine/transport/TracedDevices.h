// Recording decorators of the device seam (base/trace/Recorder.h): a device
// opened while recording is on is wrapped so that its reads (as completed),
// writes (as issued), settings, line events, open and close go to the trace.
#pragma once

#include <memory>
#include <string>

#include "transport/DeviceSeam.h"

namespace vel::devices {

// The line or device itself when recording is off (or it is null); else its
// recording wrapper. ifName names the interface ("serial COM3", "rfc2217
// 127.0.0.1:4000", "usb \\.\VelUsb0"), description the transport and port.
std::unique_ptr<SerialLine> traced(std::unique_ptr<SerialLine> line, const std::string &ifName,
                                   const std::string &description);
std::unique_ptr<DriverDevice> traced(std::unique_ptr<DriverDevice> device, const std::string &ifName,
                                     const std::string &description);

}  // namespace vel::devices
