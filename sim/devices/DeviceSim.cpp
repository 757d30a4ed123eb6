#include "devices/DeviceSim.h"

namespace sim {

DeviceSim::~DeviceSim() { uninstall(); }

void DeviceSim::install() {
  installed_ = true;
  vel::devices::setProvider(this);
}

void DeviceSim::uninstall() {
  if (!installed_) return;
  installed_ = false;
  vel::devices::setProvider(nullptr);
}

std::shared_ptr<SimSerialLine> DeviceSim::addSerialLine(int portNumber) {
  auto line = std::make_shared<SimSerialLine>(portNumber);
  std::lock_guard<std::mutex> g(m_);
  lines_[line->name()] = line;
  return line;
}

void DeviceSim::removeSerialLine(int portNumber) {
  std::lock_guard<std::mutex> g(m_);
  lines_.erase(SimSerialLine::portName(portNumber));
}

std::shared_ptr<UsbDevice> DeviceSim::plugUsb(UsbDriver driver, int number) {
  auto dev = std::make_shared<UsbDevice>(driver, number);
  std::lock_guard<std::mutex> g(m_);
  usb_[dev->name()] = dev;
  return dev;
}

void DeviceSim::unplugUsb(UsbDriver driver, int number) {
  std::shared_ptr<UsbDevice> dev;
  {
    std::lock_guard<std::mutex> g(m_);
    auto it = usb_.find(UsbDevice::nameOf(driver, number));
    if (it == usb_.end()) return;
    dev = it->second;
    usb_.erase(it);
  }
  dev->unplug();
}

std::unique_ptr<vel::devices::SerialLine> DeviceSim::openSerial(const char* name) {
  std::shared_ptr<SimSerialLine> line;
  {
    std::lock_guard<std::mutex> g(m_);
    auto it = lines_.find(name ? name : "");
    if (it == lines_.end()) return nullptr;
    line = it->second;
  }
  return line->openHost();
}

std::unique_ptr<vel::devices::DriverDevice> DeviceSim::openDevice(const char* name) {
  std::shared_ptr<UsbDevice> dev;
  {
    std::lock_guard<std::mutex> g(m_);
    auto it = usb_.find(name ? name : "");
    if (it == usb_.end()) return nullptr;
    dev = it->second;
  }
  return dev->openHost();
}

bool DeviceSim::probeDevice(const char* name) {
  std::lock_guard<std::mutex> g(m_);
  ++probes_;
  auto it = usb_.find(name ? name : "");
  return it != usb_.end() && it->second->probe();
}

int DeviceSim::probeCount() const {
  std::lock_guard<std::mutex> g(m_);
  return probes_;
}

}  // namespace sim
