#include "operations/ResultStore.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vel {

void BarcodeResult::setData(const uint8_t* bytes, size_t length) {
  data.assign(bytes, bytes + std::min(length, kMaxBarcodeData));
}

const BarcodeResult* ResultStore::barcode(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return &barcodes_[static_cast<size_t>(index)];
}

bool ResultStore::add(BarcodeResult barcode) {
  if (count() >= kMaxBarcodes) return false;
  barcodes_.push_back(std::move(barcode));
  return true;
}

int ResultStore::copyData(int index, int maxLength, uint8_t* buffer) const {
  const BarcodeResult* b = barcode(index);
  if (!b || maxLength <= 0 || !buffer) return 0;
  const size_t n = std::min(b->data.size(), static_cast<size_t>(maxLength));
  if (n > 0) std::memcpy(buffer, b->data.data(), n);
  return static_cast<int>(n);
}

void SharedResults::publish(const ResultStore& store) {
  // Copied outside the lock; the old buffers are freed after it is released.
  ResultStore copy = store;
  {
    ScopedLock hold(lock_);
    std::swap(store_, copy);
  }
}

}  // namespace vel
