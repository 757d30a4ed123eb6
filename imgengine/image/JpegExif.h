// The imager's JPEG stream: the capture date written into its EXIF block, and the
// stamped re-encoding that keeps its APP1 segment in front of a new compression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/TimestampRecord.h"

namespace vel {

// Writes the record's capture time (as "YYYY:MM:DD HH:MM:SS") over the 19 blanks
// of the unset capture date that follows the "Copyright" text and the maker name
// in the stream; the first "Copyright" is looked for in texts starting in the first
// 512 bytes. Changes nothing when any part is missing. Every search stays within
// bytes.
void patchExifCaptureTime(uint8_t* stream, size_t bytes, const TimestampRecord& record);

// Bytes of SOI plus the APP1 segment right after it (marker, length, content); 2
// when there is no APP1 segment there or its length runs past bytes; 0 when the
// stream does not start with SOI.
size_t imagerHeaderBytes(const uint8_t* stream, size_t bytes);

// The stream with the record's timestamp drawn into the picture: SOI, the
// imager's APP1 segment, then a new compression (grey, the record's quality)
// without SOI and without JFIF or Adobe markers. False when the stream does not
// decode.
bool stampJpegStream(const uint8_t* stream, size_t bytes, const TimestampRecord& record, std::vector<uint8_t>& out);

// Draws the record's timestamp into an 8- or 24-bit bitmap file image in place;
// false (nothing drawn) for any other or a malformed image.
bool stampBitmap(uint8_t* file, size_t bytes, const TimestampRecord& record);

}  // namespace vel
