// A simulated device object of one of the imager's USB drivers. The host opens it
// by name through the device seam; the imager side is an ImagerLine. As on a bulk
// pipe, each imager write is one transfer and a host read ends at a transfer
// boundary: it delivers at most the rest of the oldest transfer (up to the
// requested size). Host writes may be cut short. The line-recovery I/O control
// succeeds unless refused; until the imager has taken the recovery it reads
// nothing and its writes are lost, so that it sees the host's bytes after the
// recovery only once it knows of it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/HostRequests.h"
#include "imager/ImagerLine.h"
#include "transport/DeviceSeam.h"

namespace sim {

enum class UsbDriver { kFirst, kSecond };

class UsbDevice : public ImagerLine, public std::enable_shared_from_this<UsbDevice> {
 public:
  UsbDevice(UsbDriver driver, int number);
  ~UsbDevice() override = default;

  static std::string nameOf(UsbDriver driver, int number);
  const std::string& name() const { return name_; }

  // Imager end.
  size_t read(uint8_t* buffer, size_t max, int timeoutMs) override;
  void write(const uint8_t* data, size_t length) override;
  bool closed() const override;
  bool takeLineRecovery() override;
  bool setArrivalHandler(std::function<void()> handler) override;

  // Test controls and observations.
  void setRefuseControl(bool refuse);            // the I/O control completes with an error
  void setMaxWriteAccepted(uint32_t bytes);      // 0 = whole request (default)
  void unplug();                                 // gone: opens and probes fail, I/O fails
  bool plugged() const;
  int controlCount() const;
  std::vector<uint8_t> lastControlInput() const;
  uint32_t lastControlCode() const;
  std::vector<uint32_t> readRequests() const;    // sizes the host asked the driver for
  std::vector<uint32_t> writeRequests() const;   // sizes of the host's write requests
  // Runs on the host's thread as each host read request starts, before the device takes it.
  void setBeforeHostRead(std::function<void()> hook);
  bool hostOpen() const;

  std::unique_ptr<vel::devices::DriverDevice> openHost();
  bool probe() const { return plugged(); }

 private:
  class Host;
  struct Pending {
    vel::devices::Operation* op = nullptr;
    std::thread::id starter;
    uint8_t* in = nullptr;
    uint32_t length = 0;
  };
  void pumpLocked();
  vel::devices::IoStart hostRead(void* buffer, uint32_t length, vel::devices::Operation& op);
  vel::devices::IoStart hostWrite(const void* data, uint32_t length, vel::devices::Operation& op);
  vel::devices::IoStart hostControl(uint32_t code, const void* input, uint32_t inputLength, vel::devices::Operation& op);
  bool hostResult(const vel::devices::Operation& op, uint32_t* transferred) const;
  void hostCancel();
  void hostClose();
  void failPendingLocked();

  std::string name_;
  mutable std::mutex m_;
  std::condition_variable imagerCv_;
  std::deque<std::vector<uint8_t>> toHost_;  // transfers; the front one partly read
  size_t frontTaken_ = 0;
  std::deque<uint8_t> toImager_;
  Pending read_;
  HostRequests requests_;
  bool plugged_ = true, hostOpen_ = false, refuse_ = false;
  uint32_t maxAccept_ = 0;
  int controls_ = 0, recoveries_ = 0;
  uint32_t lastCode_ = 0;
  std::vector<uint8_t> lastInput_;
  std::vector<uint32_t> readRequests_, writeRequests_;
  std::function<void()> beforeHostRead_;
  // Held while the arrival handler runs, so that replacing it waits for a running call.
  std::mutex arrivalLock_;
  std::function<void()> arrival_;
};

}  // namespace sim
