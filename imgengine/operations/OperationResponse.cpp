#include "operations/OperationResponse.h"

#include "operations/StreamFields.h"

namespace vel {

namespace {

constexpr uint8_t kStatusExposure = 0x01;
constexpr uint8_t kStatusPresentationMode = 0x02;
constexpr uint8_t kStatusCompressed = 0x10 | 0x80;

struct ImageSize {
  uint16_t width = 0;
  uint16_t height = 0;
};

bool readImageSize(ByteStream& s, ImageSize& size) { return read16(s, size.width) && read16(s, size.height); }

// A compressed image announces its size value; an uncompressed one is width x height.
bool readGreySize(ByteStream& s, bool compressed, const ImageSize& size, uint32_t& greySize) {
  greySize = uint32_t{size.width} * size.height;
  return !compressed || read32(s, greySize);
}

bool readExposure(ByteStream& s, ResponseSlots& slots) {
  uint16_t gain = 0, integrationTime = 0;
  uint8_t illumination = 0;
  if (!read16(s, gain) || !read16(s, integrationTime) || !read8(s, illumination)) return false;
  slots.exposureReport(gain, integrationTime, illumination);
  return true;
}

}  // namespace

void ReadOperationResponse(ByteStream& s, uint8_t flags, int32_t blockSize, ResponseSlots& slots) {
  uint8_t status = 0;
  if (!read8(s, status)) return;
  if ((status & kStatusExposure) && !readExposure(s, slots)) return;
  slots.presentationMode((status & kStatusPresentationMode) != 0);
  // The library's flag is shared with the other operation's responses: this
  // response goes by its own status.
  const bool compressed = (status & kStatusCompressed) != 0;
  slots.setCompressed(compressed);
  ImageSize size;
  if ((flags & (kOpBinaryImage | kOpGreyImage)) && !readImageSize(s, size)) return;

  bool ok = true;
  if (flags & kOpDecodeFirst) ok = ReadResultSection(s, slots.results());
  if (ok && (flags & kOpBinaryImage)) ok = slots.images().readBinarySection(s, size.width, size.height, blockSize);
  if (ok && (flags & kOpGreyImage)) {
    uint32_t greySize = 0;
    if (!readGreySize(s, compressed, size, greySize)) return;
    ok = slots.images().readGreySection(s, size.width, size.height, compressed, greySize, blockSize);
  }
  if (ok && (flags & kOpDecodeAfterImages)) ReadResultSection(s, slots.results());
  s.flush();
}

void ReadBinaryOnlyResponse(ByteStream& s, int32_t blockSize, ResponseSlots& slots) {
  ImageSize size;
  if (!readImageSize(s, size)) return;
  slots.images().readBinarySection(s, size.width, size.height, blockSize);
  s.flush();
}

void ReadGreyOnlyResponse(ByteStream& s, int32_t blockSize, bool compressed, ResponseSlots& slots) {
  ImageSize size;
  uint32_t greySize = 0;
  if (s.failed() || !readImageSize(s, size) || !readGreySize(s, compressed, size, greySize)) {
    s.reset();
    slots.transferFailed();
    return;
  }
  slots.images().readGreySection(s, size.width, size.height, compressed, greySize, blockSize);
  s.flush();
}

}  // namespace vel
