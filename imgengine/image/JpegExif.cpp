#include "image/JpegExif.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "image/BmpFile.h"
#include "image/JpegCodec.h"
#include "image/TimestampDrawing.h"

namespace vel {

namespace {

constexpr size_t kCopyrightSearchBytes = 512;
constexpr size_t kDateBytes = 19;  // "YYYY:MM:DD HH:MM:SS"
constexpr char kCopyright[] = "Copyright";
constexpr char kMaker[] = "Velmora";

// End of the zero-terminated text that starts at from (its zero, or bytes).
size_t textEnd(const uint8_t* s, size_t bytes, size_t from) {
  const void* zero = std::memchr(s + from, 0, bytes - from);
  return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - s) : bytes;
}

// Position of needle within [from, end), or end.
size_t find(const uint8_t* s, size_t from, size_t end, const char* needle, size_t length) {
  const uint8_t* hit = std::search(s + from, s + end, needle, needle + length);
  return static_cast<size_t>(hit - s);
}

}  // namespace

void patchExifCaptureTime(uint8_t* s, size_t bytes, const TimestampRecord& record) {
  if (!s) return;
  // A text without "Copyright" has none from any later start inside it either:
  // the next start worth trying is the next text.
  size_t at = bytes, end = 0;
  for (size_t start = 0; start < std::min(bytes, kCopyrightSearchBytes); start = end + 1) {
    end = textEnd(s, bytes, start);
    at = find(s, start, end, kCopyright, sizeof kCopyright - 1);
    if (at < end) break;
  }
  if (at >= end) return;
  const size_t maker = find(s, at, end, kMaker, sizeof kMaker - 1);
  if (maker >= end) return;
  // Past the maker name and one byte more: its terminating zero when it ends the text.
  const size_t from = maker + sizeof kMaker;
  if (from >= bytes) return;
  const size_t blanksEnd = textEnd(s, bytes, from);
  const std::string blanks(kDateBytes, ' ');
  const size_t blanksAt = find(s, from, blanksEnd, blanks.c_str(), kDateBytes);
  if (blanksAt >= blanksEnd) return;
  char date[kTimestampStringBytes];
  std::memcpy(date, record.timestamp, sizeof date);
  date[sizeof date - 1] = '\0';
  std::replace(date, date + sizeof date, '-', ':');
  std::memcpy(s + blanksAt, date, std::min(kDateBytes, std::strlen(date)));
}

size_t imagerHeaderBytes(const uint8_t* s, size_t bytes) {
  if (!s || bytes < 2 || s[0] != 0xFF || s[1] != 0xD8) return 0;
  if (bytes < 6 || s[2] != 0xFF || s[3] != 0xE1) return 2;
  const size_t length = size_t{s[4]} << 8 | s[5];
  return length >= 2 && length + 4 <= bytes ? length + 4 : 2;
}

bool stampBitmap(uint8_t* file, size_t bytes, const TimestampRecord& record) {
  BmpLayout l;
  if (!readBmpLayout(file, bytes, l) || (l.bitsPerPixel != 8 && l.bitsPerPixel != 24)) return false;
  drawTimestamp(file + l.pixelOffset, l.rowBytes(), static_cast<int>(l.width), static_cast<int>(l.height),
                l.bitsPerPixel, record);
  return true;
}

bool stampJpegStream(const uint8_t* s, size_t bytes, const TimestampRecord& record, std::vector<uint8_t>& out) {
  out.clear();
  const size_t header = imagerHeaderBytes(s, bytes);
  std::vector<uint8_t> bmp, continuation;
  if (header == 0 || !decompressToGreyBmp(s, bytes, bmp) || !stampBitmap(bmp.data(), bmp.size(), record) ||
      !compressBmp(bmp.data(), bmp.size(), record.compressionQuality, JpegHeader::kContinuation, continuation))
    return false;
  out.reserve(header + continuation.size());
  out.assign(s, s + header);
  out.insert(out.end(), continuation.begin(), continuation.end());
  return true;
}

}  // namespace vel
