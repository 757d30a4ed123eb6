// Draws a timestamp record's date (and time) into a bottom-up bitmap of 8 or 24
// bits per pixel with a 5-row pixel font, at the record's corner and colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/TimestampRecord.h"

namespace vel {

// Font codes: digits 0-9, then the minus sign, a blank and a colon.
constexpr uint8_t kGlyphMinus = 10, kGlyphBlank = 11, kGlyphColon = 12;

// The glyph codes the record's date format gives, followed unless date only by the
// time; empty for a date format above 3 or a time digit that is not decimal.
std::vector<uint8_t> timestampGlyphs(const TimestampRecord& record);

// Scale of the font for an image width: 1 below 426 pixels, 3 below 1280, else 4.
int timestampScale(int width);

// Draws into pixels (bytes bytes of rows, bottom row first, each row padded to four
// bytes). Draws nothing when the text does not fit the image, the bit depth is not
// 8 or 24, or the buffer is smaller than the bitmap.
void drawTimestamp(uint8_t* pixels, size_t bytes, int width, int height, int bitsPerPixel,
                   const TimestampRecord& record);

}  // namespace vel
