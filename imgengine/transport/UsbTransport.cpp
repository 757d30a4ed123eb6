#include "transport/UsbTransport.h"

#include "transport/TracedDevices.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vel {

using devices::IoStart;

UsbStreamBase::UsbStreamBase(const char* baseName, uint32_t writePiece, std::vector<uint8_t> controlInput,
                             uint32_t recoveredPauseMs)
    : OverlappedTransport(writePiece, ShortWrites::kContinue),
      controlInput_(std::move(controlInput)),
      recoveredPauseMs_(recoveredPauseMs) {
  for (int i = 0; i < kUsbDeviceNumbers; ++i) {
    const std::string name = deviceName(baseName, i);
    dev_ = devices::traced(devices::provider().openDevice(name.c_str()), "usb " + name, "USB driver device " + name);
    if (dev_) {
      attach(dev_.get());
      number_ = i;
      break;
    }
  }
  // The fault flag stays set: the link's first read fails and its resynchronisation resets the line.
}

UsbStreamBase::~UsbStreamBase() { closeDevice(); }

void UsbStreamBase::closeDevice() {
  abort();
  attach(nullptr);
  dev_.reset();
}

void UsbStreamBase::reset() {
  if (!beginReset()) return;
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
      recovered();
      if (recoveredPauseMs_) platform::sleepMs(recoveredPauseMs_);
      return;
    }
    dev_->cancel(control);
  }
  if (leftEarly) platform::sleepMs(kStartFailurePauseMs);
}

UsbTransport::UsbTransport() : UsbStreamBase(kUsbDeviceName, kWritePiece, {}, 0) {}

UsbTransport::~UsbTransport() { closeDevice(); }

size_t UsbTransport::receive(uint8_t* buffer, size_t wanted, int timeoutMs) {
  while (wanted > 0) {
    if (consumed_ >= filled_ && wanted >= kReadAhead) {
      // A whole driver read fits: straight into the caller's buffer.
      dropReadAhead();
      uint32_t got = 0;
      if (!readRequest(buffer, kReadAhead, timeoutMs, &got)) break;
      const size_t n = std::min<size_t>(got, kReadAhead);
      buffer += n;
      wanted -= n;
      continue;
    }
    if (consumed_ >= filled_) {
      dropReadAhead();
      uint32_t got = 0;
      if (!readRequest(ahead_, kReadAhead, timeoutMs, &got)) break;
      filled_ = std::min(got, kReadAhead);
    }
    const size_t n = std::min<size_t>(wanted, filled_ - consumed_);
    std::memcpy(buffer, ahead_ + consumed_, n);
    consumed_ += static_cast<uint32_t>(n);
    buffer += n;
    wanted -= n;
  }
  return wanted;
}

Usb2Transport::Usb2Transport()
    : UsbStreamBase(kUsb2DeviceName, kWritePiece, {std::begin(kRecoveryInput), std::end(kRecoveryInput)},
                    kRecoveredPauseMs),
      receive_(kReceiveBuffer) {}

Usb2Transport::~Usb2Transport() { closeDevice(); }

uint32_t Usb2Transport::requestSize(size_t length) {
  const size_t rounded = (length + kRequestUnit - 1) / kRequestUnit * kRequestUnit;
  return static_cast<uint32_t>(std::min<size_t>(std::max<size_t>(rounded, kRequestUnit), kReceiveBuffer));
}

size_t Usb2Transport::receive(uint8_t* buffer, size_t wanted, int timeoutMs) {
  const uint32_t request = requestSize(wanted);
  while (wanted > 0) {
    uint32_t got = 0;
    if (!readRequest(receive_.data(), request, timeoutMs, &got)) break;
    // Bytes beyond what was wanted are discarded.
    const size_t n = std::min<size_t>({got, request, wanted});
    std::memcpy(buffer, receive_.data(), n);
    buffer += n;
    wanted -= n;
  }
  return wanted;
}

}  // namespace vel
