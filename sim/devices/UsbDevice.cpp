#include "devices/UsbDevice.h"

#include <algorithm>

namespace sim {

using vel::devices::IoStart;
using vel::devices::Operation;

class UsbDevice::Host : public vel::devices::DriverDevice {
 public:
  explicit Host(std::shared_ptr<UsbDevice> dev) : dev_(std::move(dev)) {}
  ~Host() override { dev_->hostClose(); }
  IoStart read(void* buffer, uint32_t length, Operation& op) override { return dev_->hostRead(buffer, length, op); }
  IoStart write(const void* data, uint32_t length, Operation& op) override { return dev_->hostWrite(data, length, op); }
  bool result(Operation& op, uint32_t* transferred) override { return dev_->hostResult(op, transferred); }
  void cancel(Operation&) override { dev_->hostCancel(); }
  IoStart control(uint32_t code, const void* input, uint32_t inputLength, Operation& op) override {
    return dev_->hostControl(code, input, inputLength, op);
  }

 private:
  std::shared_ptr<UsbDevice> dev_;
};

std::string UsbDevice::nameOf(UsbDriver driver, int number) {
  return std::string(driver == UsbDriver::kFirst ? "\\\\.\\CorvidUsbDriverDevice" : "\\\\.\\CorvidUsb2DeviceDriver") +
         std::to_string(number);
}

UsbDevice::UsbDevice(UsbDriver driver, int number) : name_(nameOf(driver, number)) {}

std::unique_ptr<vel::devices::DriverDevice> UsbDevice::openHost() {
  std::lock_guard<std::mutex> g(m_);
  if (!plugged_ || hostOpen_) return nullptr;
  hostOpen_ = true;
  return std::make_unique<Host>(shared_from_this());
}

void UsbDevice::failPendingLocked() {
  if (read_.op) requests_.complete(*read_.op, false, 0);
  read_ = {};
}

void UsbDevice::hostClose() {
  std::lock_guard<std::mutex> g(m_);
  failPendingLocked();
  requests_.clear();
  hostOpen_ = false;
}

void UsbDevice::pumpLocked() {
  if (!read_.op || toHost_.empty()) return;
  // A read never spans two transfers.
  const std::vector<uint8_t>& transfer = toHost_.front();
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(read_.length, transfer.size() - frontTaken_));
  std::copy_n(transfer.begin() + static_cast<std::ptrdiff_t>(frontTaken_), n, read_.in);
  frontTaken_ += n;
  if (frontTaken_ == transfer.size()) {
    toHost_.pop_front();
    frontTaken_ = 0;
  }
  Operation* op = read_.op;
  read_ = {};
  requests_.complete(*op, true, n);
}

IoStart UsbDevice::hostRead(void* buffer, uint32_t length, Operation& op) {
  std::unique_lock<std::mutex> g(m_);
  runUnlocked(g, beforeHostRead_);
  if (!plugged_ || read_.op) return IoStart::kFailed;
  readRequests_.push_back(length);
  requests_.start(op);
  read_ = {&op, std::this_thread::get_id(), static_cast<uint8_t*>(buffer), length};
  pumpLocked();
  return requests_.started(op);
}

IoStart UsbDevice::hostWrite(const void* data, uint32_t length, Operation& op) {
  {
    std::lock_guard<std::mutex> g(m_);
    if (!plugged_) return IoStart::kFailed;
    writeRequests_.push_back(length);
    const uint32_t n = maxAccept_ ? std::min(length, maxAccept_) : length;
    const auto* p = static_cast<const uint8_t*>(data);
    toImager_.insert(toImager_.end(), p, p + n);
    imagerCv_.notify_all();
    requests_.complete(op, true, n);
  }
  std::lock_guard<std::mutex> a(arrivalLock_);
  if (arrival_) arrival_();
  return IoStart::kCompleted;
}

bool UsbDevice::setArrivalHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> a(arrivalLock_);
  arrival_ = std::move(handler);
  return true;
}

IoStart UsbDevice::hostControl(uint32_t code, const void* input, uint32_t inputLength, Operation& op) {
  std::lock_guard<std::mutex> g(m_);
  if (!plugged_) return IoStart::kFailed;
  ++controls_;
  lastCode_ = code;
  const auto* p = static_cast<const uint8_t*>(input);
  lastInput_.assign(p, p + (p ? inputLength : 0));
  const bool ok = !refuse_ && code == 0x222000;
  if (ok) {
    // The device starts over: what either side had not yet taken is dropped.
    ++recoveries_;
    toHost_.clear();
    frontTaken_ = 0;
    toImager_.clear();
    imagerCv_.notify_all();  // a waiting imager read returns and the imager takes the recovery
  }
  requests_.complete(op, ok, 0);
  return IoStart::kCompleted;
}

bool UsbDevice::hostResult(const Operation& op, uint32_t* transferred) const {
  std::lock_guard<std::mutex> g(m_);
  return requests_.result(op, transferred);
}

void UsbDevice::hostCancel() {
  std::lock_guard<std::mutex> g(m_);
  if (read_.op && read_.starter == std::this_thread::get_id()) failPendingLocked();
}

size_t UsbDevice::read(uint8_t* buffer, size_t max, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_);
  auto ready = [&] { return !plugged_ || recoveries_ > 0 || !toImager_.empty(); };
  if (timeoutMs < 0) {
    imagerCv_.wait(lock, ready);
  } else if (timeoutMs == 0 ? !ready() : !imagerCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return 0;
  }
  if (recoveries_ > 0) return 0;
  const size_t n = std::min(max, toImager_.size());
  std::copy_n(toImager_.begin(), n, buffer);
  toImager_.erase(toImager_.begin(), toImager_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

void UsbDevice::write(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> g(m_);
  if (!plugged_ || recoveries_ > 0 || length == 0) return;
  toHost_.emplace_back(data, data + length);
  pumpLocked();
}

bool UsbDevice::closed() const {
  std::lock_guard<std::mutex> g(m_);
  return !plugged_;
}

bool UsbDevice::takeLineRecovery() {
  std::lock_guard<std::mutex> g(m_);
  if (recoveries_ == 0) return false;
  --recoveries_;
  return true;
}

void UsbDevice::setRefuseControl(bool refuse) {
  std::lock_guard<std::mutex> g(m_);
  refuse_ = refuse;
}

void UsbDevice::setMaxWriteAccepted(uint32_t bytes) {
  std::lock_guard<std::mutex> g(m_);
  maxAccept_ = bytes;
}

void UsbDevice::unplug() {
  std::lock_guard<std::mutex> g(m_);
  plugged_ = false;
  failPendingLocked();
  imagerCv_.notify_all();
}

bool UsbDevice::plugged() const {
  std::lock_guard<std::mutex> g(m_);
  return plugged_;
}

int UsbDevice::controlCount() const {
  std::lock_guard<std::mutex> g(m_);
  return controls_;
}

std::vector<uint8_t> UsbDevice::lastControlInput() const {
  std::lock_guard<std::mutex> g(m_);
  return lastInput_;
}

uint32_t UsbDevice::lastControlCode() const {
  std::lock_guard<std::mutex> g(m_);
  return lastCode_;
}

std::vector<uint32_t> UsbDevice::readRequests() const {
  std::lock_guard<std::mutex> g(m_);
  return readRequests_;
}

std::vector<uint32_t> UsbDevice::writeRequests() const {
  std::lock_guard<std::mutex> g(m_);
  return writeRequests_;
}

void UsbDevice::setBeforeHostRead(std::function<void()> hook) {
  std::lock_guard<std::mutex> g(m_);
  beforeHostRead_ = std::move(hook);
}

bool UsbDevice::hostOpen() const {
  std::lock_guard<std::mutex> g(m_);
  return hostOpen_;
}

}  // namespace sim
