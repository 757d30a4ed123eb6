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

// Bits go into the accumulator several at a time; whole bytes are stored directly.
void BinaryRows::run(uint32_t count, uint8_t colour) {
  const uint32_t ones = colour & 1 ? 0xFFu : 0u;
  if (bits_ > 0) {
    const uint32_t n = std::min(count, 8 - bits_);
    accumulator_ = (accumulator_ << n) | (ones >> (8 - n));
    bits_ += n;
    count -= n;
    if (bits_ < 8) return;
    store(static_cast<uint8_t>(accumulator_));
    bits_ = 0;
  }
  storeWhole(count / 8, static_cast<uint8_t>(ones));
  bits_ = count % 8;
  accumulator_ = ones >> (8 - bits_);
}

}  // namespace vel
