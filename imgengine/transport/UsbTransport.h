// Raw bytes over the imager's USB driver device files: UsbTransport for the first
// driver (4,096-byte read-ahead, 7-byte writes), Usb2Transport for the second
// (reads in multiples of 32,768 bytes, 60-byte writes). Both recover the line
// with the drivers' one I/O control.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/DeviceSeam.h"
#include "transport/OverlappedTransport.h"

namespace vel {

constexpr char kUsbDeviceName[] = "\\\\.\\CorvidUsbDriverDevice";
constexpr char kUsb2DeviceName[] = "\\\\.\\CorvidUsb2DeviceDriver";
constexpr uint32_t kUsbRecoveryControl = 0x222000;  // device type 0x22, function 0x800, buffered, any access
constexpr int kUsbDeviceNumbers = 1000;  // device numbers 0 to 999 are tried when opening

// What the two USB transports share: opening the lowest present device number
// of their driver, and reset through the recovery control.
class UsbStreamBase : public OverlappedTransport {
 public:
  // How long a reset attempt waits for the recovery control to complete.
  static constexpr int kControlWaitMs = 50;

  ~UsbStreamBase() override;
  void reset() override;

  int deviceNumber() const { return number_; }  // -1 when none opened
  static std::string deviceName(const char* base, int number) { return base + std::to_string(number); }

 protected:
  // controlInput: the recovery control's input buffer (empty: none); recoveredPauseMs:
  // the driver's pause after a successful recovery before the line is used.
  UsbStreamBase(const char* baseName, uint32_t writePiece, std::vector<uint8_t> controlInput,
                uint32_t recoveredPauseMs);
  virtual void dropReadAhead() {}
  // Closes the device; a derived class does so before its buffers go.
  void closeDevice();

 private:
  std::unique_ptr<devices::DriverDevice> dev_;
  int number_ = -1;
  bool firstResetPending_ = true;
  const std::vector<uint8_t> controlInput_;
  const uint32_t recoveredPauseMs_;
};

class UsbTransport : public UsbStreamBase {
 public:
  static constexpr uint32_t kReadAhead = 4096;  // size of every driver read
  static constexpr uint32_t kWritePiece = 7;     // largest write request

  UsbTransport();
  ~UsbTransport() override;
  void flush() override { dropReadAhead(); }

  size_t bufferedBytes() const { return filled_ - consumed_; }

 private:
  size_t receive(uint8_t* buffer, size_t wanted, int timeoutMs) override;
  void dropReadAhead() override { filled_ = consumed_ = 0; }
  uint8_t ahead_[kReadAhead] = {};
  uint32_t filled_ = 0;
  uint32_t consumed_ = 0;
};

class Usb2Transport : public UsbStreamBase {
 public:
  static constexpr uint32_t kReceiveBuffer = 1572864;  // largest driver read
  static constexpr uint32_t kRequestUnit = 32768;      // driver reads are multiples of this
  static constexpr uint32_t kWritePiece = 60;          // largest write request
  // The recovery control's input on this driver: the 16-bit value 32, low byte first.
  static constexpr uint8_t kRecoveryInput[2] = {0x20, 0x00};
  // Pause after a successful recovery control before the line is used again.
  static constexpr uint32_t kRecoveredPauseMs = 1;

  Usb2Transport();
  ~Usb2Transport() override;
  void flush() override {}

  // Driver request size of a read of length bytes: a multiple of 32,768 within the buffer.
  static uint32_t requestSize(size_t length);

 private:
  size_t receive(uint8_t* buffer, size_t wanted, int timeoutMs) override;
  std::vector<uint8_t> receive_;
};

}  // namespace vel
