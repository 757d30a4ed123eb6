// The receiving side of a long response (captures, previous images, trigger
// transfers). The device connection hands a channel to a sink; the host and
// trigger operations implement it.
#pragma once

#include <cstdint>

#include "base/ByteStream.h"

namespace vel {

class OperationSink {
 public:
  virtual ~OperationSink() = default;
  // Full operation response with the given operation flags.
  virtual void beginCapture(ByteStream& stream, uint8_t flags, int32_t blockSize) = 0;
  virtual void beginPreviousBinary(ByteStream& stream, int32_t blockSize) = 0;
  virtual void beginPreviousGrey(ByteStream& stream, int32_t blockSize) = 0;
  virtual void beginPreviousGreyEx(ByteStream& stream, int32_t blockSize, bool compressed) = 0;
};

}  // namespace vel
