// Places the bytes of an uncompressed monochrome grey image, received top row
// first, straight into the padded rows of its bitmap (bottom-up).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel {

class GreyRows {
 public:
  void begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride);
  // The next length bytes; bytes beyond width x height are dropped.
  void put(const uint8_t* data, size_t length);

 private:
  uint8_t* pixels_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t stride_ = 0;
  uint32_t row_ = 0;
  uint32_t column_ = 0;
};

}  // namespace vel
