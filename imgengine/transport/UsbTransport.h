// Raw bytes over the imager's USB driver device files: UsbTransport for the first
// driver (4,096-byte read-ahead, 7-byte writes), Usb2Transport for the second
// (reads in multiples of 32,768 bytes, 60-byte writes). Both recover the line
// with the drivers' one I/O control.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteStream.h"
#include "transport/DeviceSeam.h"
#include "base/Sync.h"

namespace vel {

constexpr char kUsbDeviceName[] = "\\\\.\\CorvidUsbDriverDevice";
constexpr char kUsb2DeviceName[] = "\\\\.\\CorvidUsb2DeviceDriver";
constexpr uint32_t kUsbRecoveryControl = 0x222000;  // device type 0x22, function 0x800, buffered, any access
constexpr int kUsbDeviceNumbers = 1000;

// What the two USB transports share: opening, writing in small requests, abort, reset.
class UsbStreamBase : public ByteStream {
 public:
  static constexpr int kFirstResetAttempts = 3;
  static constexpr int kResetAttempts = 20;
  static constexpr int kControlWaitMs = 50;

  ~UsbStreamBase() override;
  UsbStreamBase(const UsbStreamBase&) = delete;
  UsbStreamBase& operator=(const UsbStreamBase&) = delete;

  using ByteStream::read;
  using ByteStream::write;
  bool failed() const override { return fault_.load() != 0; }
  void write(const void* buffer, size_t length, int timeoutMs) override;
  void abort() override;
  void reset() override;

  bool opened() const { return opened_ != 0; }
  int deviceNumber() const { return number_; }  // -1 when none opened
  static std::string deviceName(const char* base, int number) { return base + std::to_string(number); }

 protected:
  UsbStreamBase(const char* baseName, uint32_t writePiece, std::vector<uint8_t> controlInput, bool stopWriteOnFailure);
  virtual void dropReadAhead() {}
  void closeDevice();

  std::atomic<uint8_t> fault_{1};
  uint8_t opened_ = 0;
  int number_ = -1;
  bool firstResetPending_ = true;
  std::unique_ptr<devices::DriverDevice> dev_;
  devices::Operation readOp_;
  devices::Operation writeOp_;
  Mutex readLock_;
  Mutex writeLock_;

 private:
  const uint32_t writePiece_;
  const std::vector<uint8_t> controlInput_;
  const bool stopWriteOnFailure_;
};

class UsbTransport : public UsbStreamBase {
 public:
  static constexpr uint32_t kReadAhead = 4096;
  static constexpr uint32_t kWritePiece = 7;

  UsbTransport();
  ~UsbTransport() override;
  using ByteStream::read;
  using ByteStream::write;
  void read(void* buffer, size_t length, int timeoutMs) override;
  void flush() override { dropReadAhead(); }

  size_t bufferedBytes() const { return filled_ - consumed_; }

 private:
  void dropReadAhead() override { filled_ = consumed_ = 0; }
  uint8_t ahead_[kReadAhead] = {};
  uint32_t filled_ = 0;
  uint32_t consumed_ = 0;
};

class Usb2Transport : public UsbStreamBase {
 public:
  static constexpr uint32_t kReceiveBuffer = 1572864;
  static constexpr uint32_t kRequestUnit = 32768;
  static constexpr uint32_t kWritePiece = 60;

  Usb2Transport();
  ~Usb2Transport() override;
  using ByteStream::read;
  using ByteStream::write;
  void read(void* buffer, size_t length, int timeoutMs) override;
  void flush() override {}

  // Driver request size of a read of length bytes: a multiple of 32,768 within the buffer.
  static uint32_t requestSize(size_t length);

 private:
  std::vector<uint8_t> receive_;
};

}  // namespace vel
