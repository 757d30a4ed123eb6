#include "image/ImageFiles.h"

#include "image/JpegCodec.h"
#include "platform/Files.h"

namespace vel {

int writeImageFile(const char* path, const uint8_t* data, size_t bytes, bool overwrite) {
  platform::PlainFile* file =
      platform::fileCreate(path, overwrite ? platform::CreateMode::kReplace : platform::CreateMode::kNewOnly);
  if (!file) return kNotCreated;
  const size_t written = platform::fileWrite(file, data, bytes);
  platform::fileClose(file);
  return written == bytes ? kWritten : kShortWrite;
}

bool replaceFileWith(const char* path, const std::vector<uint8_t>& bytes) {
  const int result = writeImageFile(path, bytes.data(), bytes.size(), true);
  if (result == kShortWrite) platform::fileDelete(path);
  return result == kWritten;
}

bool compressBmpFile(const char* bmpPath, const char* jpegPath, int quality) {
  std::vector<uint8_t> bmp, jpeg;
  return platform::fileReadAll(bmpPath, bmp, kMaxImageFileBytes) &&
         compressBmp(bmp.data(), bmp.size(), quality, JpegHeader::kNormal, jpeg) && replaceFileWith(jpegPath, jpeg);
}

bool decompressJpegFile(const char* jpegPath, const char* bmpPath) {
  std::vector<uint8_t> jpeg, bmp;
  if (!platform::fileReadAll(jpegPath, jpeg, kMaxImageFileBytes) || !decompressToGreyBmp(jpeg.data(), jpeg.size(), bmp))
    return false;
  return bmpPath ? replaceFileWith(bmpPath, bmp) : platform::standardOutputWrite(bmp.data(), bmp.size());
}

}  // namespace vel
