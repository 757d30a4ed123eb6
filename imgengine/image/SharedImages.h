// The library's shared image buffers: the last grey image (a bitmap file image,
// or a compressed stream behind its pseudo header), the last binary image, the
// grey data size and the compressed-grey flag. The operations publish finished
// images under the image lock, which readers that copy or save the buffers take
// too; the pointer getters read without it, as the interface demands.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Sync.h"

namespace vel {

constexpr size_t kGreyImageBufferBytes = 3932214;  // 1280 x 1024 x 3 + 54
constexpr size_t kBinaryImageBufferBytes = 164352;
constexpr uint32_t kMaxCompressedBytes = kGreyImageBufferBytes - 54;  // 3,932,160

class SharedImages {
 public:
  SharedImages();
  SharedImages(const SharedImages&) = delete;
  SharedImages& operator=(const SharedImages&) = delete;

  // Copies a finished binary bitmap file image (at most the buffer's size).
  void publishBinary(const uint8_t* file, size_t bytes);
  // Copies a finished grey image: bytes of file image, or pseudo header and
  // stream; dataSize is width x height, or the stream's byte count.
  void publishGrey(const uint8_t* file, size_t bytes, uint32_t dataSize, bool compressed);

  Mutex& imageLock() { return lock_; }
  uint8_t* grey() { return grey_.data(); }
  uint8_t* binary() { return binary_.data(); }
  uint8_t* displayCopy() { return displayCopy_.data(); }
  uint32_t greyDataSize() const { return greyDataSize_.load(); }

  // The compressed-grey flag: how the imager's last grey image travels.
  void setCompressed(bool compressed) { compressed_ = compressed ? 1 : 0; }
  bool compressed() const { return compressed_.load() != 0; }

  // Header fields of a buffer; the data size is file size minus pixel offset,
  // 0 where the buffer holds no bitmap (a compressed stream, or nothing yet).
  static int32_t width(const uint8_t* file);
  static int32_t height(const uint8_t* file);
  static int32_t bitmapDataSize(const uint8_t* file);

 private:
  Mutex lock_;
  std::vector<uint8_t> grey_;
  std::vector<uint8_t> binary_;
  std::vector<uint8_t> displayCopy_;
  std::atomic<uint32_t> greyDataSize_{0};
  std::atomic<uint8_t> compressed_{0};
};

}  // namespace vel
