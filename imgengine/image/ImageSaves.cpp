#include "image/ImageSaves.h"

#include <cstring>
#include <string>

#include "base/LittleEndian.h"
#include "image/BmpFile.h"
#include "image/ImageFiles.h"
#include "image/JpegCodec.h"
#include "image/JpegExif.h"
#include "platform/DibSections.h"
#include "platform/Files.h"

namespace vel {

namespace {

constexpr int kSaved = 0;  // the result of a JPEG-to-BMP save that worked

struct Span {
  const uint8_t* data;
  size_t size;
};

// The bytes of a sound bitmap file image in the buffer: its file-size field, at
// least the header's rows and at most the buffer.
bool bitmapIn(const ImageBuffer& image, BmpLayout& layout, Span& bytes) {
  if (imageKind(image) != ImageKind::kBitmap || !readBmpLayout(image.file, image.capacity, layout)) return false;
  if (layout.fileSize > image.capacity || layout.fileSize < uint64_t{layout.pixelOffset} + layout.rowBytes())
    return false;
  bytes = {image.file, layout.fileSize};
  return true;
}

// The imager's JPEG stream behind the pseudo header, within the buffer.
bool jpegIn(const ImageBuffer& grey, Span& stream) {
  if (imageKind(grey) != ImageKind::kJpeg || grey.compressedBytes == 0) return false;
  const uint32_t offset = getLe32(grey.file + 10);
  if (offset < kBmpFileHeaderBytes || offset > grey.capacity || grey.compressedBytes > grey.capacity - offset)
    return false;
  stream = {grey.file + offset, grey.compressedBytes};
  return true;
}

// Writes a whole converted file; a failed write leaves nothing behind.
bool writeConverted(const char* path, const std::vector<uint8_t>& bytes, bool overwrite) {
  const int result = writeImageFile(path, bytes.data(), bytes.size(), overwrite);
  if (result == kShortWrite) platform::fileDelete(path);
  return result == kWritten;
}

// The JPEG stream decompressed into an 8-bit grey bitmap, stamped when the
// timestamp is enabled; false when it does not decode or cannot be stamped.
bool decompressedBitmap(const ImageBuffer& grey, const TimestampRecord& record, std::vector<uint8_t>& bmp) {
  Span stream{};
  return jpegIn(grey, stream) && decompressToGreyBmp(stream.data, stream.size, bmp) &&
         (!record.timestampEnabled || stampBitmap(bmp.data(), bmp.size(), record));
}

}  // namespace

ImageKind imageKind(const ImageBuffer& image) {
  if (!image.file || image.capacity < kBmpFileHeaderBytes + 40) return ImageKind::kNone;
  if (image.file[0] == 'B' && image.file[1] == 'M') return ImageKind::kBitmap;
  if (image.file[0] == 'J' && image.file[1] == 'P') return ImageKind::kJpeg;
  return ImageKind::kNone;
}

int saveBitmapBuffer(const ImageBuffer& image, const char* path, bool overwrite) {
  BmpLayout layout;
  Span bytes{};
  if (!bitmapIn(image, layout, bytes)) return kNotCreated;
  return writeImageFile(path, bytes.data, bytes.size, overwrite);
}

int saveJpegStream(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record) {
  Span stream{};
  if (!jpegIn(grey, stream)) return kNotCreated;
  std::vector<uint8_t> stamped;
  if (record.timestampEnabled) {
    // A stream that cannot carry the stamp is not saved without it.
    if (!stampJpegStream(stream.data, stream.size, record, stamped)) return kNotCreated;
    stream = {stamped.data(), stamped.size()};
  }
  return writeImageFile(path, stream.data, stream.size, overwrite);
}

int saveJpegAsBitmap(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record) {
  std::vector<uint8_t> bmp;
  return decompressedBitmap(grey, record, bmp) && writeConverted(path, bmp, overwrite) ? kSaved : kNotCreated;
}

int saveGreyAsJpeg(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record) {
  constexpr int kNoImage = -2;
  Span stream{}, bitmap{};
  BmpLayout layout;
  const bool jpeg = jpegIn(grey, stream);
  if (!jpeg && !bitmapIn(grey, layout, bitmap)) return kNoImage;
  if (!overwrite && platform::fileProbe(path)) return kNotCreated;
  if (jpeg) return saveJpegStream(grey, path, overwrite, record) == kWritten ? kWritten : kNotCreated;
  // Compressed straight from the buffer: the bytes a temporary BMP would hold.
  std::vector<uint8_t> compressed;
  if (!compressBmp(bitmap.data, bitmap.size, kDefaultJpegQuality, JpegHeader::kNormal, compressed)) return kNotCreated;
  return writeConverted(path, compressed, overwrite) ? kWritten : kNotCreated;
}

std::vector<uint8_t> binaryToGreyBitmap(const ImageBuffer& binary) {
  BmpLayout l;
  Span bytes{};
  if (!bitmapIn(binary, l, bytes) || l.bitsPerPixel != 1) return {};
  std::vector<uint8_t> grey = makeGreyBmp(l.width, l.height, 0, 0);
  if (grey.empty()) return grey;
  // The 16 bytes after the image size are zero: no density, all 256 colours used.
  std::memset(grey.data() + 34 + 4, 0, 16);
  const uint32_t stride8 = bmpStride(l.width, 8);
  for (uint32_t y = 0; y < l.height; ++y) {
    const uint8_t* in = binary.file + l.pixelOffset + size_t{l.stride} * y;
    uint8_t* out = grey.data() + kBmpGreyPixelOffset + size_t{stride8} * y;
    for (uint32_t x = 0; x < l.width; ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1 ? 0xFF : 0x00;
  }
  return grey;
}

int saveBinaryAsJpeg(const ImageBuffer& binary, const char* path, bool overwrite) {
  if (!overwrite && platform::fileProbe(path)) return kNotCreated;
  const std::vector<uint8_t> grey = binaryToGreyBitmap(binary);
  std::vector<uint8_t> jpeg;
  if (grey.empty() || !compressBmp(grey.data(), grey.size(), kDefaultJpegQuality, JpegHeader::kNormal, jpeg))
    return kNotCreated;
  return writeConverted(path, jpeg, overwrite) ? kWritten : kNotCreated;
}

uint8_t* prepareDisplay(const ImageBuffer& grey, const ImageBuffer& displayCopy, const TimestampRecord& record) {
  BmpLayout layout;
  Span bitmap{};
  if (bitmapIn(grey, layout, bitmap)) return grey.file;
  std::vector<uint8_t> bmp;
  if (!decompressedBitmap(grey, record, bmp) || bmp.size() > displayCopy.capacity) return nullptr;
  std::memcpy(displayCopy.file, bmp.data(), bmp.size());
  return displayCopy.file;
}

void* makeDibSection(void* dc, const ImageBuffer& image, DibRows rows, int* width, int* height) {
  BmpLayout l;
  Span bytes{};
  if (!bitmapIn(image, l, bytes) || l.infoSize != 40) return nullptr;
  const size_t count = rows == DibRows::kFileSize ? l.fileSize - l.pixelOffset : l.imageSize ? l.imageSize : l.rowBytes();
  if (count > image.capacity - l.pixelOffset) return nullptr;
  // The information header and palette, in a block of their own.
  const std::vector<uint8_t> info(image.file + kBmpFileHeaderBytes, image.file + l.pixelOffset);
  platform::DibView view{};
  void* bitmap = platform::dibSectionCreate(dc, info.data(), info.size(), &view);
  if (!bitmap) return nullptr;
  std::memcpy(view.bits, image.file + l.pixelOffset, count < view.bitsBytes ? count : view.bitsBytes);
  if (rows == DibRows::kImageSize) {
    if (width) *width = static_cast<int>(l.width);
    if (height) *height = static_cast<int>(l.height);
  }
  return bitmap;
}

int autoSave(const ImageBuffer& grey, const TimestampRecord& record) {
  // The settings name the kind of file: with compression or perspective correction
  // on, the imager sends its JPEG stream.
  const bool asJpeg = record.imageCompressionEnabled || record.perspectiveCorrectionEnabled;
  BmpLayout layout;
  Span bitmap{}, stream{};
  // The image in memory keeps the timestamp.
  if (!asJpeg && record.timestampEnabled && bitmapIn(grey, layout, bitmap))
    stampBitmap(grey.file, bitmap.size, record);
  if (!record.autoSaveEnabled && !(record.perspectiveCorrectionEnabled && record.hostPerspectiveCorrection)) return 0;

  // The path is the folder and the timestamp; it is empty when they did not fit,
  // and the extension must fit too.
  const size_t pathLength = strnlen(record.autoSavePath, sizeof record.autoSavePath);
  const size_t stampLength = strnlen(record.timestamp, sizeof record.timestamp);
  constexpr size_t kExtensionBytes = 4;
  if (pathLength == 0 || pathLength < stampLength || pathLength + kExtensionBytes >= sizeof record.autoSavePath)
    return kNotCreated;
  std::string folder(record.autoSavePath, pathLength - stampLength);
  if (folder.size() > 1 && folder.back() == platform::kPathSeparator) folder.pop_back();
  platform::directoryCreate(folder.c_str());  // a failure shows in the save

  const std::string file = std::string(record.autoSavePath, pathLength) + (asJpeg ? ".jpg" : ".bmp");
  if (asJpeg) {
    if (jpegIn(grey, stream)) patchExifCaptureTime(grey.file + (stream.data - grey.file), stream.size, record);
    return saveJpegStream(grey, file.c_str(), true, record);
  }
  // A compressed capture is written decompressed, as the BMP saver writes it.
  if (imageKind(grey) == ImageKind::kJpeg) return saveJpegAsBitmap(grey, file.c_str(), true, record);
  return saveBitmapBuffer(grey, file.c_str(), true);
}

}  // namespace vel
