#include "image/GreyRows.h"

#include <algorithm>
#include <cstring>

namespace vel {

void GreyRows::begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride) {
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  stride_ = stride;
  row_ = 0;
  column_ = 0;
}

void GreyRows::put(const uint8_t* data, size_t length) {
  while (length > 0 && row_ < height_) {
    const size_t n = std::min<size_t>(length, width_ - column_);
    std::memcpy(pixels_ + size_t{height_ - 1 - row_} * stride_ + column_, data, n);
    data += n;
    length -= n;
    column_ += static_cast<uint32_t>(n);
    if (column_ == width_) {
      column_ = 0;
      ++row_;
    }
  }
}

}  // namespace vel
