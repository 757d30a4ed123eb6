// Barcode input from the scanners: HID report interpretation, the serial byte
// collection, and the hand-over from reader threads to the window thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "KeyCasterCore.h"

namespace keycaster {

constexpr size_t kHidReportBytes = 65;

// Interprets the 65-byte input reports of the USB HID scanner. Byte 1 is the count L;
// the trailer is bytes L-2..L; the payload starts at byte 5. A barcode may span several
// reports; they are joined in the continuation buffer (cut at kMaxBarcodeBytes).
class HidReportAssembler {
 public:
  // True when the report completes a barcode, which is then in `barcode`.
  // Reports shorter than 64 bytes or with a count outside 7..64 are dropped.
  bool feed(const uint8_t* report, size_t length, std::vector<uint8_t>& barcode);
  size_t pendingBytes() const { return continuation_.size(); }

 private:
  void append(const uint8_t* bytes, size_t n);
  std::vector<uint8_t> continuation_;
};

// Collects the bytes of the serial scanner; a pause in the line ends a barcode.
// Bytes beyond kMaxBarcodeBytes are dropped until the pause.
class SerialCollector {
 public:
  void addByte(uint8_t b) {
    if (bytes_.size() < kMaxBarcodeBytes) bytes_.push_back(b);
  }
  // A read returned nothing: true and the barcode when bytes were collected.
  bool pause(std::vector<uint8_t>& barcode);

 private:
  std::vector<uint8_t> bytes_;
};

// Hands barcodes from any number of reader threads to the window thread: every
// barcode is kept in its own copy, delivered once and in order, and announced by
// exactly one notification.
class BarcodeHandOver {
 public:
  explicit BarcodeHandOver(std::function<void()> notify) : notify_(std::move(notify)) {}
  void deliver(const uint8_t* bytes, size_t n);
  bool take(std::vector<uint8_t>& barcode);
  size_t pending() const;
  void clear();

 private:
  std::function<void()> notify_;
  mutable std::mutex lock_;
  std::deque<std::vector<uint8_t>> queue_;
};

// The result getter of the imager library: index, maximum length, buffer; bytes copied.
using BarcodeFetch = std::function<int(int index, int maxLength, uint8_t* buffer)>;

// The barcode of one ready notification: the next handed-over one, else result 0 of
// the imager library.
std::vector<uint8_t> TakeBarcode(BarcodeHandOver& handOver, const BarcodeFetch& fetch);

}  // namespace keycaster
