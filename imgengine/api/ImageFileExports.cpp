// The conversions between BMP and JPEG files. No lock: they run on the caller's
// thread; a failed allocation fails the conversion.
#include <new>

#include "ImgEngine.h"
#include "image/ImageFiles.h"
#include "image/JpegCodec.h"

extern "C" {

int VEL_API VelExecuteCompression(const char* bmpPath, const char* jpegPath) {
  try {
    return vel::compressBmpFile(bmpPath, jpegPath, vel::kDefaultJpegQuality) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int VEL_API VelExecuteDecompression(const char* jpegPath, const char* bmpPath) {
  try {
    return vel::decompressJpegFile(jpegPath, bmpPath) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // extern "C"
