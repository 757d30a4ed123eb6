// The leading bytes of a fuzz input, which choose a target's mode.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Takes leading bytes off the input; a byte past the end reads as 0.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t le16() {
    uint16_t low = byte();
    return static_cast<uint16_t>(low | (byte() << 8));
  }
  const uint8_t* rest() const { return data_ + position_; }
  size_t restSize() const { return size_ - position_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace fuzz
