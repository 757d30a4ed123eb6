// The binary and grey image sections. Every size the imager announces is
// checked before it is used: a section whose image cannot be held (no pixels,
// more than 1280 x 1024, a bitmap larger than its buffer, a binary width that is
// not a multiple of 8, more grey bytes than the image or the buffer holds) is
// read to its end where its length is known and dropped (the run ends aborted),
// and the stream is aborted where its length is not (a size value or a block
// beyond the buffer, a block longer than the block size). Runs beyond the image
// end the section with the block that holds them, which is read and
// acknowledged; the image is dropped.
// A section publishes only when it is complete and not stopped.
#include <algorithm>
#include <vector>

#include "image/BinaryRows.h"
#include "image/BitmapFormat.h"
#include "image/ColourRows.h"
#include "image/GreyRows.h"
#include "operations/ImageSlots.h"
#include "operations/StreamFields.h"

namespace vel {

namespace {

constexpr uint32_t kLargestQuality = 100;  // size values up to this are qualities
constexpr uint8_t kRunGoesOn = 255;        // 255 pixels, same colour after
constexpr uint32_t kLongestRun = 255;
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kColourSensorA = 2;
constexpr int kColourSensorB = 3;

uint64_t pixelsOf(uint16_t width, uint16_t height) { return uint64_t{width} * height; }

bool holdsPixels(uint16_t width, uint16_t height) {
  return width > 0 && height > 0 && pixelsOf(width, height) <= kMaxImagePixels;
}

// Where the bytes of a grey section go.
enum class GreyTarget { Discard, Monochrome, Colour, Compressed };

class ImageSections : public ImageSlots {
 public:
  ImageSections(OperationCallbacks& callbacks, SharedImages& shared, const DeviceConfiguration& configuration)
      : callbacks_(callbacks), shared_(shared), configuration_(configuration), build_(kGreyImageBufferBytes),
        chunk_(kReadChunk) {}

  void setSensorType(int sensorType) override {
    colour_ = sensorType == kColourSensorA || sensorType == kColourSensorB;
  }
  void beginRun() override { rejected_ = false; }
  bool rejected() const override { return rejected_; }

  bool readBinarySection(ByteStream& s, uint16_t width, uint16_t height, int32_t blockSize) override;
  bool readGreySection(ByteStream& s, uint16_t width, uint16_t height, bool compressed, uint32_t greySize,
                       int32_t blockSize) override;

 private:
  bool applyRuns(const uint8_t* runs, size_t count, uint64_t& remaining, uint8_t& colour, bool keep);
  void binaryProgress();
  GreyTarget greyTarget(uint16_t width, uint16_t height, bool compressed) const;
  void beginGrey(GreyTarget target, uint16_t width, uint16_t height);
  // Reads length bytes in acknowledged pieces of at most the block size.
  bool readGreyPieces(ByteStream& s, uint32_t length, uint32_t blockSize);
  void greyData(const uint8_t* data, size_t length);
  bool greyFailed();
  bool dropSection();

  OperationCallbacks& callbacks_;
  SharedImages& shared_;
  const DeviceConfiguration& configuration_;
  std::vector<uint8_t> build_;
  std::vector<uint8_t> chunk_;
  bool colour_ = false;
  bool rejected_ = false;

  BinaryRows binary_;
  uint64_t binaryBytes_ = 0;  // bytes of the image: height x width / 8
  uint64_t nextBinaryProgress_ = 0;  // bytes stored at which the percentage reaches the next 2-percent step

  GreyTarget target_ = GreyTarget::Discard;
  GreyRows grey_;
  ColourRows colourRows_;
  uint64_t greyReceived_ = 0;
  uint64_t greyCapacity_ = 0;
  uint64_t greyExpected_ = 0;
};

// ---- binary image ----

bool ImageSections::readBinarySection(ByteStream& s, uint16_t width, uint16_t height, int32_t blockSize) {
  callbacks_.postProgress(0, kEventBinaryImageProgress);
  nextBinaryProgress_ = 0;
  if (blockSize <= 0) {
    s.abort();
    return false;
  }
  const bool keep = holdsPixels(width, height) && width % 8 == 0 &&
                    bitmapFileSize(PixelKind::Binary, width, height) <= kBinaryImageBufferBytes;
  binaryBytes_ = pixelsOf(width, height) / 8;
  nextBinaryProgress_ = (2 * binaryBytes_ + 99) / 100;
  if (keep) {
    const size_t header = writeBitmapHeader(build_.data(), PixelKind::Binary, width, height);
    binary_.begin(build_.data() + header, width, height, bitmapStride(PixelKind::Binary, width));
  }
  uint8_t colour = 0;
  if (!read8(s, colour)) return false;
  uint64_t remaining = pixelsOf(width, height);
  uint32_t unacknowledged = 0;
  bool overshot = false;
  while (remaining > 0) {
    uint32_t length = 0;
    if (!read32(s, length)) return false;
    if (length > static_cast<uint32_t>(blockSize)) return s.abort(), false;
    for (uint32_t at = 0; at < length;) {
      const size_t piece = std::min<size_t>(length - at, chunk_.size());
      if (!readBytes(s, chunk_.data(), piece)) return false;
      if (!overshot) overshot = !applyRuns(chunk_.data(), piece, remaining, colour, keep);
      at += static_cast<uint32_t>(piece);
    }
    if (overshot) remaining = 0;  // the rest of this block was read and is dropped
    unacknowledged += length;
    if (unacknowledged < static_cast<uint32_t>(blockSize)) continue;
    unacknowledged = 0;
    const bool stop = callbacks_.shouldStop();
    acknowledge(s, !stop);
    if (stop || s.failed()) return false;
  }
  if (unacknowledged > 0) acknowledge(s, true);
  if (s.failed()) return false;
  if (!keep || overshot) return dropSection();
  if (!callbacks_.shouldStop()) {
    shared_.publishBinary(build_.data(), static_cast<size_t>(bitmapFileSize(PixelKind::Binary, width, height)));
    callbacks_.postProgress(100, kEventBinaryImageReady);
  }
  return true;
}

// Answers false at a run beyond the image, which is not applied.
bool ImageSections::applyRuns(const uint8_t* runs, size_t count, uint64_t& remaining, uint8_t& colour,
                              bool keep) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t f = runs[i];
    const uint32_t length = f < kRunGoesOn - 1 ? f + 1u : kLongestRun;
    if (length > remaining) return false;
    remaining -= length;
    if (keep) {
      binary_.run(length, colour);
      binaryProgress();
    }
    if (f != kRunGoesOn) colour ^= 1;
  }
  return true;
}

// Posted when the percentage moves into another 2-percent step; the byte count
// at which that happens next is worked out once per step.
void ImageSections::binaryProgress() {
  const uint64_t stored = binary_.bytesStored();
  if (stored < nextBinaryProgress_) return;
  const uint64_t percent = stored * 100 / binaryBytes_;
  nextBinaryProgress_ = (2 * ((percent >> 1) + 1) * binaryBytes_ + 99) / 100;
  callbacks_.postProgress(static_cast<int>(percent), kEventBinaryImageProgress);
}

// ---- grey image ----

GreyTarget ImageSections::greyTarget(uint16_t width, uint16_t height, bool compressed) const {
  if (!holdsPixels(width, height)) return GreyTarget::Discard;
  if (compressed) return GreyTarget::Compressed;
  const PixelKind kind = colour_ ? PixelKind::Colour : PixelKind::Grey;
  if (bitmapFileSize(kind, width, height) > kGreyImageBufferBytes) return GreyTarget::Discard;
  return colour_ ? GreyTarget::Colour : GreyTarget::Monochrome;
}

void ImageSections::beginGrey(GreyTarget target, uint16_t width, uint16_t height) {
  target_ = target;
  greyReceived_ = 0;
  uint8_t* file = build_.data();
  switch (target) {
    case GreyTarget::Discard: break;
    case GreyTarget::Compressed: writeCompressedHeader(file, width, height); break;
    case GreyTarget::Monochrome: {
      const size_t header = writeBitmapHeader(file, PixelKind::Grey, width, height);
      grey_.begin(file + header, width, height, bitmapStride(PixelKind::Grey, width));
      break;
    }
    case GreyTarget::Colour: {
      const size_t header = writeBitmapHeader(file, PixelKind::Colour, width, height);
      DeviceConfiguration c;
      {
        ScopedLock hold(configurationLock());
        c = configuration_;
      }
      const HsvAdjustment hsv = hsvAdjustment(testBit(c.imageCorrectionFlags, kCorrHsv), c.hsvHueAdjust,
                                              c.hsvSaturationAdjust, c.hsvValueAdjust);
      colourRows_.begin(file + header, width, height, bitmapStride(PixelKind::Colour, width),
                        firstBayerPhase(c.imageRotationDegree, c.windowY), hsv);
      break;
    }
  }
}

void ImageSections::greyData(const uint8_t* data, size_t length) {
  switch (target_) {
    case GreyTarget::Discard: break;
    case GreyTarget::Compressed:
      std::copy(data, data + length, build_.begin() + static_cast<std::ptrdiff_t>(kPlainHeaderBytes + greyReceived_));
      break;
    case GreyTarget::Monochrome: grey_.put(data, length); break;
    case GreyTarget::Colour: colourRows_.put(data, length); break;
  }
  greyReceived_ += length;
}

bool ImageSections::readGreyPieces(ByteStream& s, uint32_t length, uint32_t blockSize) {
  if (greyReceived_ + length > greyCapacity_) target_ = GreyTarget::Discard;
  for (uint32_t at = 0; at < length;) {
    const uint32_t piece = std::min(length - at, blockSize);
    for (uint32_t done = 0; done < piece;) {
      const size_t part = std::min<size_t>(piece - done, chunk_.size());
      if (!readBytes(s, chunk_.data(), part)) return false;
      greyData(chunk_.data(), part);
      done += static_cast<uint32_t>(part);
    }
    at += piece;
    // An estimated size may be passed: the percentage stops at 100.
    const uint64_t percent = greyExpected_ > 0 ? std::min<uint64_t>(greyReceived_ * 100 / greyExpected_, 100) : 100;
    callbacks_.postProgress(static_cast<int>(percent), kEventGreyImageProgress);
    const bool stop = callbacks_.shouldStop();
    acknowledge(s, !stop);
    if (stop || s.failed()) return false;
  }
  return true;
}

bool ImageSections::readGreySection(ByteStream& s, uint16_t width, uint16_t height, bool compressed,
                                    uint32_t greySize, int32_t blockSize) {
  const GreyTarget target = greyTarget(width, height, compressed);
  beginGrey(target, width, height);
  const uint64_t pixels = pixelsOf(width, height);
  greyCapacity_ = compressed ? kMaxCompressedBytes : pixels;
  const uint64_t size = compressed ? greySize : pixels;
  greyExpected_ = !compressed ? pixels
                  : greySize <= kLargestQuality ? estimatedCompressedBytes(greySize, width, height, colour_)
                                                : greySize;
  callbacks_.postProgress(0, kEventGreyImageProgress);
  // More than a full buffer is not read on trust: the stream is given up.
  if (blockSize <= 0 || size > kMaxCompressedBytes) {
    s.abort();
    return greyFailed();
  }
  if (size > kLargestQuality) {
    if (!readGreyPieces(s, static_cast<uint32_t>(size), static_cast<uint32_t>(blockSize))) return greyFailed();
  } else {
    for (;;) {
      uint32_t length = 0;
      if (!read32(s, length)) return greyFailed();
      if (length == 0) break;
      if (length > kMaxCompressedBytes) {
        s.abort();
        return greyFailed();
      }
      if (!readGreyPieces(s, length, static_cast<uint32_t>(blockSize))) return greyFailed();
    }
  }
  // An uncompressed image must fill its pixels exactly.
  if (target_ == GreyTarget::Discard || (!compressed && greyReceived_ != pixels)) {
    dropSection();
    callbacks_.postProgress(100, kEventAborted);
    return true;
  }
  if (callbacks_.shouldStop()) return true;
  if (target_ == GreyTarget::Compressed) {
    shared_.publishGrey(build_.data(), kPlainHeaderBytes + greyReceived_, static_cast<uint32_t>(greyReceived_), true);
  } else {
    if (target_ == GreyTarget::Colour) colourRows_.finish();
    const PixelKind kind = target_ == GreyTarget::Colour ? PixelKind::Colour : PixelKind::Grey;
    shared_.publishGrey(build_.data(), static_cast<size_t>(bitmapFileSize(kind, width, height)),
                        static_cast<uint32_t>(pixels), false);
  }
  callbacks_.postProgress(100, kEventGreyImageReady);
  return true;
}

bool ImageSections::greyFailed() {
  callbacks_.postProgress(100, kEventAborted);
  return false;
}

bool ImageSections::dropSection() {
  rejected_ = true;
  return true;
}

}  // namespace

uint32_t estimatedCompressedBytes(uint32_t quality, uint32_t width, uint32_t height, bool colour) {
  static const uint32_t kFactor[] = {17, 22, 43, 58, 68, 78, 90, 125, 166, 290, 710};
  const uint64_t bytes = (uint64_t{colour ? 3u : 1u} * width * height + kGreyHeaderBytes) *
                         kFactor[std::min<uint32_t>(quality, kLargestQuality) / 10] / 1000;
  return static_cast<uint32_t>(bytes);
}

std::unique_ptr<ImageSlots> createImageSlots(OperationCallbacks& callbacks, SharedImages& shared,
                                             const DeviceConfiguration& configuration) {
  return std::make_unique<ImageSections>(callbacks, shared, configuration);
}

}  // namespace vel
