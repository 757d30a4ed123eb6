// The saves and renderings of the library's images: a grey buffer (a bitmap file
// image, or "JP", a 54-byte pseudo header and the imager's JPEG stream) and a
// binary buffer (a 1-bit bitmap file image). The caller holds the image lock
// while these read or change a buffer. Every header field is checked against the
// buffer's capacity before use. Conversions run in memory: no temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/TimestampRecord.h"

namespace vel {

enum class ImageKind { kNone, kBitmap, kJpeg };

// A view of an image buffer.
struct ImageBuffer {
  uint8_t* file;
  size_t capacity;
  uint32_t compressedBytes;  // the grey data size: the stream's length when "JP"
};

ImageKind imageKind(const ImageBuffer& image);

// Saves the bitmap file image as it is (its file-size field of bytes): 1, -1 when
// not created (it exists and overwrite is 0, it cannot be created, or the buffer
// holds no sound bitmap), -2 short write (the partial file stays).
int saveBitmapBuffer(const ImageBuffer& image, const char* path, bool overwrite);

// Saves the imager's JPEG stream, stamped when the record's timestamp is enabled:
// 1, -1, -2 as above; -1 also when the buffer holds no JPEG stream or the stamp
// cannot be drawn (the stream does not decode).
int saveJpegStream(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record);

// Decompresses the JPEG stream into an 8-bit grey BMP file, stamped when the
// record's timestamp is enabled: 0 written; -1 no JPEG stream, refused or failed.
int saveJpegAsBitmap(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record);

// The grey image compressed into a JPEG file: the imager's stream (stamped as
// above) or the bitmap at quality 75: 1 written; -1 refused or failed; -2 no image.
int saveGreyAsJpeg(const ImageBuffer& grey, const char* path, bool overwrite, const TimestampRecord& record);

// The binary image as 8-bit grey pixels (0xFF set, 0x00 clear) compressed into a
// JPEG file at quality 75: 1 written; -1 no sound binary image, refused or failed.
int saveBinaryAsJpeg(const ImageBuffer& binary, const char* path, bool overwrite);

// The bitmap a display shows of the grey image: the grey buffer itself for a
// bitmap, or for a JPEG stream its decompression (stamped when enabled) copied
// into displayCopy. Null when there is no image, the conversion fails or its
// bitmap does not fit displayCopy.
uint8_t* prepareDisplay(const ImageBuffer& grey, const ImageBuffer& displayCopy, const TimestampRecord& record);

// Where the pixel rows handed to a DIB section come from.
enum class DibRows {
  kFileSize,   // file size - pixel offset bytes (the binary image)
  kImageSize,  // the image-size field's bytes (the display buffer)
};
// A DIB section for dc holding the bitmap file image; null when the image is not
// a sound 1-, 8- or 24-bit bitmap or no bitmap could be made. Width and height
// go where they point to, when they do.
void* makeDibSection(void* dc, const ImageBuffer& image, DibRows rows, int* width, int* height);

// Saves the grey image under the record's auto-save path, when auto-saving is on
// or both perspective corrections are (else 0), replacing a file of that name; the
// folder is created first. With compression or perspective correction on it is
// the JPEG stream, its capture date patched in, as ".jpg" (-1 for a bitmap);
// otherwise ".bmp": the bitmap, or a JPEG stream decompressed (0 written, as
// saveJpegAsBitmap). With neither on, a bitmap in memory gets the timestamp drawn
// when it is enabled. -1 when the name does not fit or there is no image.
int autoSave(const ImageBuffer& grey, const TimestampRecord& record);

// The 8-bit grey bitmap file image of a 1-bit one; empty when it is not sound.
std::vector<uint8_t> binaryToGreyBitmap(const ImageBuffer& binary);

}  // namespace vel
