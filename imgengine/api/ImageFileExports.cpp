// Images saved as BMP and JPEG files, and the conversions between such files. No
// command lock: they run on the caller's thread.
#include "ImgEngine.h"
#include "image/ImageFiles.h"
#include "image/JpegCodec.h"

extern "C" {

int VEL_API VelExecuteCompression(const char* bmpPath, const char* jpegPath) {
  return vel::compressBmpFile(bmpPath, jpegPath, vel::kDefaultJpegQuality) ? 1 : 0;
}

int VEL_API VelExecuteDecompression(const char* jpegPath, const char* bmpPath) {
  return vel::decompressJpegFile(jpegPath, bmpPath) ? 1 : 0;
}

}  // extern "C"
