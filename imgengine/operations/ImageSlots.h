// The image sections of an operation response, as the response envelope calls
// them: the binary run-length section and the grey section. An operation gets
// its slots from createImageSlots(); they build each image in the operation's
// own build buffer and publish it into the shared buffers when it is complete.
#pragma once

#include <cstdint>
#include <memory>

#include "base/ByteStream.h"
#include "config/DeviceConfiguration.h"
#include "image/SharedImages.h"
#include "operations/OperationCallbacks.h"

namespace vel {

class ImageSlots {
 public:
  virtual ~ImageSlots() = default;
  // The imager's sensor type (monochrome or colour images).
  virtual void setSensorType(int sensorType) = 0;
  // A run begins: no section of it has been rejected yet.
  virtual void beginRun() = 0;
  // A section of this run announced sizes the library cannot take: it was read
  // to its end and dropped, and the run counts as aborted.
  virtual bool rejected() const = 0;
  // The binary image section of a width x height image. Answers whether the
  // stream is still in step after it; false skips the rest of the response.
  virtual bool readBinarySection(ByteStream& stream, uint16_t width, uint16_t height, int32_t blockSize) = 0;
  // The grey image section. greySize is the size value sent before a compressed
  // image (a quality up to 100, else its byte count) or width x height.
  virtual bool readGreySection(ByteStream& stream, uint16_t width, uint16_t height, bool compressed,
                               uint32_t greySize, int32_t blockSize) = 0;
};

// The image sections of one operation, which posts their notifications and
// whose configuration gives a colour image's Bayer phase and HSV adjustment.
std::unique_ptr<ImageSlots> createImageSlots(OperationCallbacks& callbacks, SharedImages& shared,
                                             const DeviceConfiguration& configuration);

}  // namespace vel

namespace vel {

// The expected byte count of a compressed grey image sent with a quality
// (0..100) as its size value: what its progress percentages count against.
uint32_t estimatedCompressedBytes(uint32_t quality, uint32_t width, uint32_t height, bool colour);

}  // namespace vel
