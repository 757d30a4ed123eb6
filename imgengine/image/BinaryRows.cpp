#include "image/BinaryRows.h"

#include <algorithm>
#include <cstring>

namespace vel {

void BinaryRows::begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride) {
  pixels_ = pixels;
  rowBytes_ = width / 8;
  height_ = height;
  stride_ = stride;
  rowIndex_ = 0;
  row_ = height > 0 ? pixels + size_t{height - 1} * stride : pixels;
  column_ = 0;
  stored_ = 0;
  accumulator_ = 0;
  bits_ = 0;
}

void BinaryRows::nextRowIfFull() {
  if (column_ < rowBytes_) return;
  column_ = 0;
  if (++rowIndex_ < height_) row_ = pixels_ + size_t{height_ - 1 - rowIndex_} * stride_;
}

void BinaryRows::store(uint8_t byte) {
  if (rowIndex_ >= height_) return;
  row_[column_++] = byte;
  ++stored_;
  nextRowIfFull();
}

void BinaryRows::storeWhole(uint32_t count, uint8_t byte) {
  while (count > 0 && rowIndex_ < height_) {
    const uint32_t n = std::min(count, rowBytes_ - column_);
    std::memset(row_ + column_, byte, n);
    column_ += n;
    stored_ += n;
    count -= n;
    nextRowIfFull();
  }
}

void BinaryRows::run(uint32_t count, uint8_t colour) {
  const uint32_t bit = colour & 1;
  while (count > 0 && bits_ > 0) {
    accumulator_ = (accumulator_ << 1) | bit;
    --count;
    if (++bits_ == 8) {
      store(static_cast<uint8_t>(accumulator_));
      bits_ = 0;
    }
  }
  storeWhole(count / 8, bit ? 0xFF : 0x00);
  for (count %= 8; count > 0; --count) {
    accumulator_ = (accumulator_ << 1) | bit;
    ++bits_;
  }
}

}  // namespace vel
