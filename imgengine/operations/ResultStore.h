// Decode results: the store an operation fills while it receives a result
// section, and the library's shared copy that the result getters read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Sync.h"

namespace vel {

constexpr int kMaxBarcodes = 20;
constexpr size_t kMaxBarcodeData = 4096;  // the receive buffer of one record

// The eight corner values of a barcode, in the order they arrive.
enum Corner : int {
  kTopLeftX,
  kTopLeftY,
  kTopRightX,
  kTopRightY,
  kBottomLeftX,
  kBottomLeftY,
  kBottomRightX,
  kBottomRightY,
  kCornerValues,
};

struct BarcodeResult {
  int32_t type = 0;
  std::vector<uint8_t> data;  // empty = no data
  int32_t corners[kCornerValues] = {};
  int32_t processingTime = 0;

  // Keeps at most kMaxBarcodeData bytes.
  void setData(const uint8_t* bytes, size_t length);
};

class ResultStore {
 public:
  int32_t captureTime = 0;
  int32_t autoExposureTime = 0;
  int32_t imageProcessingTime = 0;

  int count() const { return static_cast<int>(barcodes_.size()); }
  // Null for an index outside 0..count-1.
  const BarcodeResult* barcode(int index) const;
  // Appends a barcode; a full store keeps what it has and answers false.
  bool add(BarcodeResult barcode);
  // Count 0 and every data buffer freed; the capture times keep their values.
  void clear() { barcodes_.clear(); }
  // Copies min(data size, maxLength) bytes of a barcode's data and answers the
  // count; 0 for a bad index, a maxLength <= 0 or a null buffer.
  int copyData(int index, int maxLength, uint8_t* buffer) const;

 private:
  std::vector<BarcodeResult> barcodes_;
};

// The library's published results. A worker publishes a finished store in one
// step; application threads read it meanwhile, each read under the same lock.
class SharedResults {
 public:
  void publish(const ResultStore& store);
  template <typename Reader>
  auto read(Reader reader) const {
    ScopedLock hold(lock_);
    return reader(store_);
  }

 private:
  mutable Mutex lock_;
  ResultStore store_;
};

// The library's one shared store (LibraryStatics.cpp).
SharedResults& sharedResults();

}  // namespace vel
