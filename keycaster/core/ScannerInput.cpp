#include "ScannerInput.h"

#include <algorithm>

namespace keycaster {

void HidReportAssembler::append(const uint8_t* bytes, size_t n) {
  const size_t room = kMaxBarcodeBytes - continuation_.size();
  continuation_.insert(continuation_.end(), bytes, bytes + std::min(n, room));
}

bool HidReportAssembler::feed(const uint8_t* report, size_t length, std::vector<uint8_t>& barcode) {
  if (length < kHidReportBytes - 1) return false;
  const size_t L = report[1];
  // The trailer ends at byte L and the payload length is at least L - 7.
  if (L < 7 || L > 64 || L >= length) return false;
  const uint8_t t0 = report[L - 2], t1 = report[L - 1], t2 = report[L];
  const bool marked = t2 == 0x0B && (t1 == 0xFF || t1 == 0x2E || t1 == 0x2F);
  const uint8_t* payload = report + 5;

  if (marked && t0 == 0x10) {  // more reports follow
    append(payload, L - 7);
    return false;
  }
  if (marked && t0 == 0x00) {  // last report of a spanned barcode
    append(payload, L - 7);
    barcode = continuation_;
    continuation_.clear();
    return true;
  }
  size_t n = L - 7;
  if (t2 == 0x0A || t2 == 0x0C || t2 == 0x0D || t2 == 0x16) {
    n = L - 5;
  } else if (t1 == 0x00 && (t2 == 0x11 || t2 == 0x12 || t2 == 0x14 || t2 == 0x17 || t2 == 0x1D)) {
    n = L - 6;
  }
  barcode.assign(payload, payload + n);
  continuation_.clear();
  return true;
}

bool SerialCollector::pause(std::vector<uint8_t>& barcode) {
  if (bytes_.empty()) return false;
  barcode.swap(bytes_);
  bytes_.clear();
  return true;
}

void BarcodeHandOver::deliver(const uint8_t* bytes, size_t n) {
  n = std::min(n, kMaxBarcodeBytes);
  {
    std::lock_guard<std::mutex> guard(lock_);
    queue_.emplace_back(bytes, bytes + n);
  }
  if (notify_) notify_();
}

bool BarcodeHandOver::take(std::vector<uint8_t>& barcode) {
  std::lock_guard<std::mutex> guard(lock_);
  if (queue_.empty()) return false;
  barcode = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

size_t BarcodeHandOver::pending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return queue_.size();
}

void BarcodeHandOver::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  queue_.clear();
}

std::vector<uint8_t> TakeBarcode(BarcodeHandOver& handOver, const BarcodeFetch& fetch) {
  std::vector<uint8_t> barcode;
  if (handOver.take(barcode)) return barcode;
  barcode.assign(kMaxBarcodeBytes, 0);
  int n = fetch ? fetch(0, static_cast<int>(kMaxBarcodeBytes), barcode.data()) : 0;
  if (n < 0) n = 0;
  barcode.resize(std::min(static_cast<size_t>(n), kMaxBarcodeBytes));
  return barcode;
}

}  // namespace keycaster
