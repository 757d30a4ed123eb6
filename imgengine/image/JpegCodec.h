// Baseline JPEG compression of bitmap file images and decompression of any JPEG
// stream to an 8-bit grey bitmap, in memory, with libjpeg (IJG 6b interface). A
// libjpeg error, or a stream that ends early, ends the conversion with a failure,
// never the process; other warnings do not. Nothing is printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel {

constexpr int kDefaultJpegQuality = 75;

enum class JpegHeader {
  kNormal,        // SOI, JFIF APP0, tables, frame, scan, EOI
  kContinuation,  // the same without SOI and without JFIF or Adobe markers
};

// Compresses an 8-bit (palette) or 24-bit bitmap file image as a command-line
// compressor with BMP input does: RGB input (an 8-bit image through its palette),
// library defaults, YCbCr, quality (clamped to 1..100) without forced baseline
// tables, density from positive pixels-per-metre fields in dots per centimetre.
// False (jpeg emptied) when the bitmap breaks a rule or libjpeg fails.
// An 8-bit bitmap with the grey palette goes to libjpeg as its luminance and
// chroma planes, without the RGB rows: the same bytes, in less time.
bool compressBmp(const uint8_t* bmp, size_t bytes, int quality, JpegHeader header, std::vector<uint8_t>& jpeg);

// compressBmp with every bitmap expanded to RGB rows: the reference the grey
// route is tested against.
bool compressBmpThroughRgb(const uint8_t* bmp, size_t bytes, int quality, JpegHeader header,
                           std::vector<uint8_t>& jpeg);

// Decompresses a JPEG stream to greyscale, as an 8-bit grey bitmap file image
// whose pixels per metre carry a density in dots per centimetre. False (bmp
// emptied) for a stream that libjpeg rejects or that ends early.
bool decompressToGreyBmp(const uint8_t* jpeg, size_t bytes, std::vector<uint8_t>& bmp);

}  // namespace vel
