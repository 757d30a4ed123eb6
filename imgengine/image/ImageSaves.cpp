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

const char* const kTemporaryBmp = "temptemp.bmp";
const char* const kTemporaryJpeg = "temptemp.jpg";

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

// Reads a temporary file of the conversions back and removes it.
bool takeTemporary(const char* name, std::vector<uint8_t>& bytes, size_t limit) {
  const bool read = platform::fileReadAll(name, bytes, limit);
  platform::fileDelete(name);
  return read;
}

// saveJpegAsBitmap with the temporary files' lock held.
int jpegToBitmapLocked(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record) {
  Span stream{};
  std::vector<uint8_t> jpeg, bmp;
  if (!jpegIn(grey, stream) || writeImageFile(kTemporaryJpeg, stream.data, stream.size, true) != kWritten) return -1;
  if (!takeTemporary(kTemporaryJpeg, jpeg, kMaxImageFileBytes) || !decompressToGreyBmp(jpeg.data(), jpeg.size(), bmp))
    return -1;
  if (record.timestampEnabled) stampBitmap(bmp.data(), bmp.size(), record);
  return writeConverted(path, bmp, overwrite) ? kSaved : -1;
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
  if (record.timestampEnabled && stampJpegStream(stream.data, stream.size, record, stamped))
    stream = {stamped.data(), stamped.size()};
  return writeImageFile(path, stream.data, stream.size, overwrite);
}

int saveJpegAsBitmap(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record) {
  ScopedLock hold(temporaryFilesLock());
  return jpegToBitmapLocked(grey, path, overwrite, record);
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
  ScopedLock hold(temporaryFilesLock());
  std::vector<uint8_t> bmp;
  if (jpegToBitmapLocked(grey, kTemporaryBmp, true, record) != kSaved ||
      !takeTemporary(kTemporaryBmp, bmp, displayCopy.capacity))
    return nullptr;
  std::memcpy(displayCopy.file, bmp.data(), bmp.size());
  // Already stamped by the conversion: drawing the same text again changes nothing.
  if (record.timestampEnabled) stampBitmap(displayCopy.file, bmp.size(), record);
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
  BmpLayout layout;
  Span bitmap{}, stream{};
  const bool isBitmap = bitmapIn(grey, layout, bitmap);
  // The image in memory keeps the timestamp.
  if (isBitmap && record.timestampEnabled) stampBitmap(grey.file, bitmap.size, record);
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

  const bool isJpeg = jpegIn(grey, stream);
  const std::string file = std::string(record.autoSavePath, pathLength) + (isJpeg ? ".jpg" : ".bmp");
  if (isJpeg) {
    patchExifCaptureTime(grey.file + (stream.data - grey.file), stream.size, record);
    return saveJpegStream(grey, file.c_str(), true, record);
  }
  return isBitmap ? saveBitmapBuffer(grey, file.c_str(), true) : kNotCreated;
}

}  // namespace vel
