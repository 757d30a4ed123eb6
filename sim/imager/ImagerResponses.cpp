#include "imager/ImagerResponses.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint8_t kTimingKind = 1;
constexpr uint8_t kBarcodeKind = 2;
constexpr uint32_t kLongLength = 255;
constexpr uint32_t kBarcodeFields = 24;  // type, flag, corners, ticks, data length
constexpr uint32_t kTimingLength = 16;
constexpr size_t kMaxData = 0xFFFF;
constexpr size_t kRecordBuffer = 4096;  // the host's receive buffer for a record's data
constexpr uint32_t kLargestQuality = 100;  // size values up to this are qualities

constexpr uint8_t kExposureStatus = 0x01;
constexpr uint8_t kPresentationStatus = 0x02;
constexpr uint8_t kCompressedStatus = 0x10;
constexpr uint8_t kCompressedStatusBits = 0x90;

uint8_t compressedMark(const Scene& scene) { return scene.compressedMark & kCompressedStatusBits; }

bool recordHead(ResponseStream& s, uint8_t kind, uint32_t length) {
  if (length < kLongLength) return s.put8(kind) && s.put8(static_cast<uint8_t>(length));
  return s.put8(kind) && s.put8(static_cast<uint8_t>(kLongLength)) && s.put32(length);
}

bool pieces(ResponseStream& s, const uint8_t* data, size_t length, size_t piece) {
  for (size_t at = 0; at < length; at += piece)
    if (!s.put(data + at, std::min(piece, length - at))) return false;
  return true;
}

bool barcodeRecord(ResponseStream& s, const SceneBarcode& b, size_t index) {
  const size_t length = std::min(b.data.size(), kMaxData);
  if (!recordHead(s, kBarcodeKind, kBarcodeFields + static_cast<uint32_t>(length)) || !s.put8(b.type))
    return false;
  if (s.cutAt(index) || !s.put8(b.configuration ? 1 : 0)) return false;
  for (int16_t corner : b.corners)
    if (!s.put16(static_cast<uint16_t>(corner))) return false;
  return s.put32(b.ticks) && s.put16(static_cast<uint16_t>(length)) &&
         pieces(s, b.data.data(), length, kRecordBuffer);
}

bool timingRecord(ResponseStream& s, const std::array<uint32_t, 4>& timing) {
  if (!recordHead(s, kTimingKind, kTimingLength)) return false;
  for (uint32_t ticks : timing)
    if (!s.put32(ticks)) return false;
  return true;
}

// One acknowledgement after every record; the timing record ends the section.
bool resultSection(ResponseStream& s, const Scene& scene) {
  size_t barcodes = 0;
  for (const SceneRecord& record : scene.records) {
    const bool sent = std::holds_alternative<SceneBarcode>(record)
                          ? barcodeRecord(s, std::get<SceneBarcode>(record), barcodes++)
                          : recordHead(s, std::get<SceneOtherRecord>(record).kind,
                                       std::get<SceneOtherRecord>(record).length);
    if (!sent || !s.acknowledged()) return false;
  }
  return timingRecord(s, scene.timing) && s.acknowledged();
}

// Blocks of at most the block size, each a 32-bit length and its run bytes. The
// host acknowledges once it has read a block size of run bytes since its last
// acknowledgement, and once more at the end for run bytes not yet acknowledged.
bool binarySection(ResponseStream& s, const SceneImage& image, const Bytes& extraRuns, uint32_t blockSize) {
  uint8_t colour = 0;
  Bytes runs = image.runBytes(colour);
  runs.insert(runs.end(), extraRuns.begin(), extraRuns.end());
  if (!s.put8(colour)) return false;
  size_t unacknowledged = 0;
  for (size_t at = 0; at < runs.size();) {
    const size_t n = std::min<size_t>(blockSize, runs.size() - at);
    if (!s.put32(static_cast<uint32_t>(n)) || !s.put(runs.data() + at, n)) return false;
    at += n;
    unacknowledged += n;
    if (unacknowledged < blockSize) continue;
    if (!s.acknowledged()) return false;
    unacknowledged = 0;
  }
  return unacknowledged == 0 || s.acknowledged();
}

// Pieces of at most the block size, each acknowledged.
bool greyPieces(ResponseStream& s, const uint8_t* data, size_t length, uint32_t blockSize) {
  for (size_t at = 0; at < length; at += blockSize)
    if (!s.put(data + at, std::min<size_t>(blockSize, length - at)) || !s.acknowledged()) return false;
  return true;
}

// A size above 100 is sent as exactly that many bytes; otherwise as
// length-prefixed blocks ended by a length of 0.
bool greySection(ResponseStream& s, const Bytes& data, uint32_t size, const ResponseLimits& limits) {
  if (size > kLargestQuality) return greyPieces(s, data.data(), data.size(), limits.blockSize);
  for (size_t at = 0; at < data.size(); at += limits.greyBlockLength) {
    const size_t n = std::min<size_t>(limits.greyBlockLength, data.size() - at);
    if (!s.put32(static_cast<uint32_t>(n)) || !greyPieces(s, data.data() + at, n, limits.blockSize)) return false;
  }
  return s.put32(0);
}

bool greyImage(ResponseStream& s, const Scene& scene, const SceneImage& image, bool compressed, bool wholeImage,
               const ResponseLimits& limits) {
  if (!compressed) return greySection(s, image.grey, static_cast<uint32_t>(image.grey.size()), limits);
  const Bytes& data = wholeImage && !scene.compressed.empty() ? scene.compressed : image.grey;
  const uint32_t size = scene.compressedQuality ? std::min<uint32_t>(*scene.compressedQuality, kLargestQuality)
                                                : static_cast<uint32_t>(data.size());
  return s.put32(scene.announcedGreySize.value_or(size)) && greySection(s, data, size, limits);
}

bool imageSize(ResponseStream& s, const SceneImage& image) { return s.put16(image.width) && s.put16(image.height); }
}  // namespace

bool fullResponse(ResponseStream& s, const Scene& scene, uint8_t flags, const ResponseLimits& limits) {
  const uint8_t mark = compressedMark(scene) ? compressedMark(scene) : (flags & kCompressedGrey ? kCompressedStatus : 0);
  const bool compressed = mark != 0;
  const uint8_t status = static_cast<uint8_t>((scene.exposure ? kExposureStatus : 0) |
                                              (scene.presentationMode ? kPresentationStatus : 0) | mark);
  if (!s.put8(status)) return false;
  if (scene.exposure && !(s.put16(scene.exposure->gain) && s.put16(scene.exposure->integrationTime) &&
                          s.put8(scene.exposure->illumination)))
    return false;
  if ((flags & (kBinaryImage | kGreyImage)) && !imageSize(s, scene.image)) return false;
  if ((flags & kDecodeFirst) && !resultSection(s, scene)) return false;
  if ((flags & kBinaryImage) && !binarySection(s, scene.image, scene.extraRuns, limits.blockSize)) return false;
  if ((flags & kGreyImage) && !greyImage(s, scene, scene.image, compressed, true, limits)) return false;
  return !(flags & kDecodeAfterImages) || resultSection(s, scene);
}

bool binaryOnlyResponse(ResponseStream& s, const SceneImage& image, const ResponseLimits& limits) {
  return imageSize(s, image) && binarySection(s, image, {}, limits.blockSize);
}

bool greyOnlyResponse(ResponseStream& s, const Scene& scene, const SceneImage& image, bool wholeImage,
                      const ResponseLimits& limits) {
  return imageSize(s, image) && greyImage(s, scene, image, compressedMark(scene) != 0, wholeImage, limits);
}

}  // namespace sim
