// Builds the pixel rows of a binary bitmap from runs of one colour: pixels are
// packed eight to a byte, leftmost pixel in the most significant bit, and each
// byte goes straight to its bitmap row (the first received row is the last
// bitmap row).
#pragma once

#include <cstdint>

namespace vel {

class BinaryRows {
 public:
  // pixels: the rows of a width x height bitmap; width is a multiple of 8.
  void begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride);
  // Appends count pixels of colour (0 black, 1 white); the caller keeps the
  // total within width x height.
  void run(uint32_t count, uint8_t colour);
  // Bytes of the image stored so far.
  uint32_t bytesStored() const { return stored_; }

 private:
  void store(uint8_t byte);
  void storeWhole(uint32_t count, uint8_t byte);
  void nextRowIfFull();

  uint8_t* pixels_ = nullptr;
  uint32_t rowBytes_ = 0;
  uint32_t height_ = 0;
  uint32_t stride_ = 0;
  uint8_t* row_ = nullptr;  // bitmap row of the received row being filled
  uint32_t rowIndex_ = 0;
  uint32_t column_ = 0;
  uint32_t stored_ = 0;
  uint32_t accumulator_ = 0;
  uint32_t bits_ = 0;
};

}  // namespace vel
