#include "image/SharedImages.h"

#include <algorithm>
#include <cstring>

#include "base/LittleEndian.h"
#include "image/BitmapFormat.h"

namespace vel {

SharedImages::SharedImages()
    : grey_(kGreyImageBufferBytes), binary_(kBinaryImageBufferBytes), displayCopy_(kGreyImageBufferBytes) {}

void SharedImages::publishBinary(const uint8_t* file, size_t bytes) {
  ScopedLock hold(lock_);
  std::memcpy(binary_.data(), file, std::min(bytes, binary_.size()));
}

void SharedImages::publishGrey(const uint8_t* file, size_t bytes, uint32_t dataSize, bool compressed) {
  ScopedLock hold(lock_);
  std::memcpy(grey_.data(), file, std::min(bytes, grey_.size()));
  greyDataSize_ = dataSize;
  compressed_ = compressed ? 1 : 0;
}

int32_t SharedImages::width(const uint8_t* file) { return static_cast<int32_t>(getLe32(file + kWidthOffset)); }

int32_t SharedImages::height(const uint8_t* file) { return static_cast<int32_t>(getLe32(file + kHeightOffset)); }

int32_t SharedImages::bitmapDataSize(const uint8_t* file) {
  const uint32_t fileSize = getLe32(file + kFileSizeOffset);
  const uint32_t pixelOffset = getLe32(file + kPixelOffsetOffset);
  if (file[0] != 'B' || file[1] != 'M' || fileSize < pixelOffset || fileSize > kGreyImageBufferBytes) return 0;
  return static_cast<int32_t>(fileSize - pixelOffset);
}

}  // namespace vel
