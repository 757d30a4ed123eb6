// The image sections of an operation response, as the response envelope calls
// them: the binary run-length section and the grey section. An operation gets
// its slots from createImageSlots().
#pragma once

#include <cstdint>
#include <memory>

#include "base/ByteStream.h"
#include "operations/OperationCallbacks.h"

namespace vel {

class ImageSlots {
 public:
  virtual ~ImageSlots() = default;
  // The imager's sensor type (monochrome or colour images).
  virtual void setSensorType(int sensorType) = 0;
  // The binary image section of a width x height image. Answers whether it was
  // read to its end; false skips the rest of the response.
  virtual bool readBinarySection(ByteStream& stream, uint16_t width, uint16_t height, int32_t blockSize) = 0;
  // The grey image section. greySize is the size value sent before a compressed
  // image (a quality up to 100, else its byte count) or width x height.
  virtual bool readGreySection(ByteStream& stream, uint16_t width, uint16_t height, bool compressed,
                               uint32_t greySize, int32_t blockSize) = 0;
};

// The image sections of one operation, which posts their notifications.
std::unique_ptr<ImageSlots> createImageSlots(OperationCallbacks& callbacks);

}  // namespace vel
