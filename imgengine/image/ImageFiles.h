// Image files on disk: the write rule every save follows, and the conversions
// between BMP and JPEG files. Inputs are read whole and converted in memory, so a
// failed conversion leaves no output behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/BmpFile.h"

namespace vel {

// Largest image file read.
constexpr size_t kMaxImageFileBytes = kMaxBmpFileBytes;

// Save results.
constexpr int kWritten = 1;
constexpr int kNotCreated = -1;
constexpr int kShortWrite = -2;

// Writes bytes to path in one write: with overwrite 0 an existing file is left
// alone (kNotCreated), otherwise it is replaced. A short write leaves the partial
// file (kShortWrite).
int writeImageFile(const char* path, const uint8_t* data, size_t bytes, bool overwrite);

// Writes bytes to path, replacing it; a failed write removes what it wrote.
bool replaceFileWith(const char* path, const std::vector<uint8_t>& bytes);

// BMP file (8 or 24 bits) to a JPEG file of the given quality; false when the
// BMP cannot be read or converted, or the JPEG cannot be written.
bool compressBmpFile(const char* bmpPath, const char* jpegPath, int quality);

// JPEG file to an 8-bit grey BMP file (bmpPath null: the standard output).
bool decompressJpegFile(const char* jpegPath, const char* bmpPath);

}  // namespace vel
