#include "transport/UsbTransport.h"

#include <algorithm>
#include <cstring>

namespace vel {

using devices::IoStart;

UsbStreamBase::UsbStreamBase(const char* baseName, uint32_t writePiece, std::vector<uint8_t> controlInput,
                             bool stopWriteOnFailure)
    : writePiece_(writePiece), controlInput_(std::move(controlInput)), stopWriteOnFailure_(stopWriteOnFailure) {
  for (int i = 0; i < kUsbDeviceNumbers; ++i) {
    dev_ = devices::provider().openDevice(deviceName(baseName, i).c_str());
    if (dev_) {
      opened_ = 1;
      number_ = i;
      break;
    }
  }
  // The fault flag stays set: the link's first read fails and its resynchronisation resets the line.
}

UsbStreamBase::~UsbStreamBase() { closeDevice(); }

void UsbStreamBase::closeDevice() {
  abort();
  dev_.reset();
}

void UsbStreamBase::abort() {
  uint8_t expected = 0;
  if (!fault_.compare_exchange_strong(expected, 1)) return;
  readOp_.event().set();
  writeOp_.event().set();
}

void UsbStreamBase::write(const void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(writeLock_);
  if (failed() || !dev_) return;
  auto* p = static_cast<const uint8_t*>(buffer);
  size_t left = length;
  while (left > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(left, writePiece_));
    writeOp_.event().reset();
    if (dev_->write(p, piece, writeOp_) == IoStart::kFailed) break;
    if (stopWriteOnFailure_ && failed()) break;
    if (!writeOp_.event().wait(timeoutMs)) abort();
    if (failed()) break;
    uint32_t put = 0;
    if (!dev_->result(writeOp_, &put)) break;
    // The driver may take fewer bytes than asked; the rest goes in the next request.
    put = std::min(put, piece);
    p += put;
    left -= put;
    if (put == 0) break;  // a driver that accepts nothing would never finish
  }
  dev_->cancel(writeOp_);
  if (left > 0) abort();
}

void UsbStreamBase::reset() {
  abort();
  if (!dev_) {
    platform::sleepMs(50);
    return;
  }
  dropReadAhead();
  const int attempts = firstResetPending_ ? kFirstResetAttempts : kResetAttempts;
  bool leftEarly = false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    // Each attempt has its own record and event; a late completion of an earlier one is not taken for it.
    devices::Operation control;
    const IoStart s = dev_->control(kUsbRecoveryControl, controlInput_.empty() ? nullptr : controlInput_.data(),
                                    static_cast<uint32_t>(controlInput_.size()), control);
    if (s == IoStart::kFailed) {
      leftEarly = true;
      break;
    }
    control.event().wait(kControlWaitMs);
    uint32_t n = 0;
    if (dev_->result(control, &n)) {
      dropReadAhead();
      firstResetPending_ = false;
      fault_ = 0;
      if (!controlInput_.empty()) platform::sleepMs(1);
      return;
    }
    dev_->cancel(control);
  }
  if (leftEarly) platform::sleepMs(1);
}

UsbTransport::UsbTransport() : UsbStreamBase(kUsbDeviceName, kWritePiece, {}, false) {}

UsbTransport::~UsbTransport() { closeDevice(); }

void UsbTransport::read(void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(readLock_);
  if (failed() || !dev_) return;
  auto* p = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  while (wanted > 0) {
    if (consumed_ >= filled_) {
      dropReadAhead();
      readOp_.event().reset();
      if (dev_->read(ahead_, kReadAhead, readOp_) == IoStart::kFailed) {
        platform::sleepMs(1);
        break;
      }
      if (!readOp_.event().wait(timeoutMs)) abort();
      if (failed()) break;
      uint32_t got = 0;
      if (!dev_->result(readOp_, &got)) break;
      filled_ = std::min(got, kReadAhead);
    }
    const size_t n = std::min<size_t>(wanted, filled_ - consumed_);
    std::memcpy(p, ahead_ + consumed_, n);
    consumed_ += static_cast<uint32_t>(n);
    p += n;
    wanted -= n;
  }
  dev_->cancel(readOp_);
  if (wanted > 0) abort();
}

Usb2Transport::Usb2Transport()
    : UsbStreamBase(kUsb2DeviceName, kWritePiece, {0x20, 0x00}, true), receive_(kReceiveBuffer) {}

Usb2Transport::~Usb2Transport() { closeDevice(); }

uint32_t Usb2Transport::requestSize(size_t length) {
  const size_t rounded = (length + kRequestUnit - 1) / kRequestUnit * kRequestUnit;
  return static_cast<uint32_t>(std::min<size_t>(std::max<size_t>(rounded, kRequestUnit), kReceiveBuffer));
}

void Usb2Transport::read(void* buffer, size_t length, int timeoutMs) {
  ScopedLock guard(readLock_);
  if (failed() || !dev_) return;
  const uint32_t request = requestSize(length);
  auto* p = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  while (wanted > 0) {
    readOp_.event().reset();
    if (dev_->read(receive_.data(), request, readOp_) == IoStart::kFailed) {
      platform::sleepMs(1);
      break;
    }
    if (failed()) break;
    if (!readOp_.event().wait(timeoutMs)) abort();
    if (failed()) break;
    uint32_t got = 0;
    if (!dev_->result(readOp_, &got)) break;
    // Bytes beyond what was wanted are discarded.
    const size_t n = std::min<size_t>({got, request, wanted});
    std::memcpy(p, receive_.data(), n);
    p += n;
    wanted -= n;
  }
  dev_->cancel(readOp_);
  if (wanted > 0) abort();
}

}  // namespace vel
