// The envelope of the imager's long responses: the full operation response of a
// capture or a trigger transfer (status byte, exposure report, image size, result
// and image sections as the operation flags ask) and the two forms that answer
// the previous-image requests (binary only, grey only). Multi-byte fields are
// little-endian; each is read with its own size.
#pragma once

#include <cstdint>

#include "base/ByteStream.h"
#include "operations/ImageSlots.h"
#include "operations/ResultSection.h"

namespace vel {

// Operation flags: which sections a response carries.
enum OperationFlag : uint8_t {
  kOpDecodeFirst = 0x01,        // a result section precedes the images
  kOpBinaryImage = 0x02,
  kOpGreyImage = 0x04,
  kOpDecodeAfterImages = 0x08,  // a result section follows the images
  kOpCompressedGrey = 0x10,     // asked of the imager; the response's status tells
};

// The receiving side of a response besides its sections.
class ResponseSlots {
 public:
  virtual ~ResponseSlots() = default;
  // The exposure the imager applied (status bit 0x01).
  virtual void exposureReport(uint16_t gain, uint16_t integrationTime, uint8_t illumination) = 0;
  // The imager's presentation-mode state (status bit 0x02).
  virtual void presentationMode(bool on) = 0;
  // The library's compressed-grey flag.
  virtual void setCompressed(bool compressed) = 0;
  virtual bool isCompressed() = 0;
  // A grey-only response that could not begin.
  virtual void transferFailed() = 0;
  virtual ResultSlots& results() = 0;
  virtual ImageSlots& images() = 0;
};

// A full operation response with these flags. A header field that cannot be read
// ends it at once; a section that fails skips what follows; the stream is
// flushed at the end.
void ReadOperationResponse(ByteStream& stream, uint8_t flags, int32_t blockSize, ResponseSlots& slots);
// Width, height and the binary section.
void ReadBinaryOnlyResponse(ByteStream& stream, int32_t blockSize, ResponseSlots& slots);
// Width, height, the size value of a compressed image and the grey section. A
// stream that has failed or a header that cannot be read resets the stream and
// fails the transfer.
void ReadGreyOnlyResponse(ByteStream& stream, int32_t blockSize, bool compressed, ResponseSlots& slots);

}  // namespace vel
