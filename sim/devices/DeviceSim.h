// The simulated OS devices behind the library's device seam: serial lines by port
// number and USB driver device objects by driver and number. A test creates a
// DeviceSim, installs it, adds lines and devices and hands their ImagerLine to a
// simulated imager; the library's transports then open them by name.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "devices/SimSerialLine.h"
#include "devices/UsbDevice.h"
#include "transport/DeviceSeam.h"

namespace sim {

class DeviceSim : public vel::devices::Provider {
 public:
  DeviceSim() = default;
  ~DeviceSim() override;  // uninstalls itself if installed

  void install();    // the library's transports now open simulated devices
  void uninstall();  // back to the platform's devices

  std::shared_ptr<SimSerialLine> addSerialLine(int portNumber);
  void removeSerialLine(int portNumber);
  std::shared_ptr<UsbDevice> plugUsb(UsbDriver driver, int number);
  void unplugUsb(UsbDriver driver, int number);

  std::unique_ptr<vel::devices::SerialLine> openSerial(const char* name) override;
  std::unique_ptr<vel::devices::DriverDevice> openDevice(const char* name) override;
  bool probeDevice(const char* name) override;
  int probeCount() const;

 private:
  mutable std::mutex m_;
  std::map<std::string, std::shared_ptr<SimSerialLine>> lines_;
  std::map<std::string, std::shared_ptr<UsbDevice>> usb_;
  int probes_ = 0;
  bool installed_ = false;
};

}  // namespace sim
