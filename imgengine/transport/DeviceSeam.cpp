#include "transport/DeviceSeam.h"

#include <atomic>
#include <stdexcept>

namespace vel::devices {

Operation::Operation() : native_(platform::ioOperationCreate(event_.native())) {
  if (!native_) throw std::runtime_error("operation record creation failed");
}

Operation::~Operation() { platform::ioOperationDestroy(native_); }

namespace {

// Requests on a platform file: the platform's overlapped calls one to one.
template <typename Base>
class PlatformFile : public Base {
 public:
  explicit PlatformFile(platform::NativeFile* f) : f_(f) {}
  ~PlatformFile() override { platform::deviceClose(f_); }

  IoStart read(void* buffer, uint32_t length, Operation& op) override {
    return platform::deviceRead(f_, buffer, length, op.native());
  }
  IoStart write(const void* data, uint32_t length, Operation& op) override {
    return platform::deviceWrite(f_, data, length, op.native());
  }
  bool result(Operation& op, uint32_t* transferred) override {
    return platform::deviceResult(f_, op.native(), transferred);
  }
  void cancel(Operation& op) override {
    platform::deviceCancel(f_);
    platform::ioSettle(f_, op.native());
  }

 protected:
  platform::NativeFile* f_;
};

class PlatformSerial : public PlatformFile<SerialLine> {
 public:
  using PlatformFile::PlatformFile;
  bool configure(const SerialSettings& s) override { return platform::serialConfigure(f_, s); }
  bool setBaudRate(uint32_t baud) override { return platform::serialSetBaudRate(f_, baud); }
  bool setLineFormat(const LineFormat& format) override { return platform::serialSetLineFormat(f_, format); }
  bool purge() override { return platform::serialPurge(f_); }
  bool setBreak(bool on) override { return platform::serialSetBreak(f_, on); }
  IoStart waitEvent(uint32_t* mask, Operation& op) override { return platform::serialWaitEvent(f_, mask, op.native()); }
  bool modemStatus(uint32_t* levels) override { return platform::serialModemStatus(f_, levels); }
};

class PlatformDevice : public PlatformFile<DriverDevice> {
 public:
  using PlatformFile::PlatformFile;
  IoStart control(uint32_t code, const void* input, uint32_t inputLength, Operation& op) override {
    return platform::deviceControl(f_, code, input, inputLength, op.native());
  }
};

std::atomic<Provider*> g_installed{nullptr};

}  // namespace

std::unique_ptr<SerialLine> PlatformProvider::openSerial(const char* name) {
  platform::NativeFile* f = platform::deviceOpen(name);
  return f ? std::make_unique<PlatformSerial>(f) : nullptr;
}

std::unique_ptr<DriverDevice> PlatformProvider::openDevice(const char* name) {
  platform::NativeFile* f = platform::deviceOpen(name);
  return f ? std::make_unique<PlatformDevice>(f) : nullptr;
}

bool PlatformProvider::probeDevice(const char* name) { return platform::deviceProbe(name); }

void setProvider(Provider* p) { g_installed.store(p); }

Provider& provider() {
  Provider* p = g_installed.load();
  return p ? *p : defaultProvider();
}

}  // namespace vel::devices
