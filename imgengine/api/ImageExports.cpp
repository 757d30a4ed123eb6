// Getters of the shared image buffers: header fields and pointers, read without
// a lock (the application reads them after the image-ready notification). The
// binary getters answer 0 or null unless the imager is an SA-1110, the only one
// that sends binary images. Also the imager's standard deviation of its last image.
#include "ImgEngine.h"
#include "api/TracedCall.h"
#include "base/LittleEndian.h"
#include "connection/DeviceConnection.h"
#include "core/LibraryState.h"
#include "image/BitmapFormat.h"

using vel::SharedImages;

namespace {

SharedImages& images() { return vel::library().images; }

uint8_t* binaryFile() {
  return vel::library().processorType == vel::kProcessorSa1110 ? images().binary() : nullptr;
}

int fileSize(const uint8_t* file) {
  return file && file[0] == 'B' && file[1] == 'M' ? static_cast<int>(vel::getLe32(file + vel::kFileSizeOffset)) : 0;
}

// The pixel rows (or a compressed stream) behind the header, when the offset lies
// within the buffer's capacity.
uint8_t* pixelData(uint8_t* file, size_t capacity) {
  if (!file) return nullptr;
  const uint32_t offset = vel::getLe32(file + vel::kPixelOffsetOffset);
  return offset < capacity ? file + offset : file;
}

}  // namespace

extern "C" {

int VEL_API VelGetGreyImageWidth(void) { return SharedImages::width(images().grey()); }
int VEL_API VelGetGreyImageHeight(void) { return SharedImages::height(images().grey()); }
// 0 for a compressed image, whose size is VelGetGreyImageCompressedDataSize.
int VEL_API VelGetGreyImageDataSize(void) { return SharedImages::bitmapDataSize(images().grey()); }
int VEL_API VelGetGreyImageCompressedDataSize(void) { return static_cast<int>(images().greyDataSize()); }
unsigned char* VEL_API VelGetGreyImageData(void) { return pixelData(images().grey(), vel::kGreyImageBufferBytes); }
int VEL_API VelGetGreyImageBitmapFileSize(void) { return fileSize(images().grey()); }
unsigned char* VEL_API VelGetGreyImageBitmapFileData(void) { return images().grey(); }

int VEL_API VelGetBinaryImageWidth(void) { return binaryFile() ? SharedImages::width(binaryFile()) : 0; }
int VEL_API VelGetBinaryImageHeight(void) { return binaryFile() ? SharedImages::height(binaryFile()) : 0; }
int VEL_API VelGetBinaryImageDataSize(void) { return binaryFile() ? SharedImages::bitmapDataSize(binaryFile()) : 0; }
unsigned char* VEL_API VelGetBinaryImageData(void) { return pixelData(binaryFile(), vel::kBinaryImageBufferBytes); }
int VEL_API VelGetBinaryImageBitmapFileSize(void) { return fileSize(binaryFile()); }
unsigned char* VEL_API VelGetBinaryImageBitmapFileData(void) { return binaryFile(); }

unsigned char* VEL_API VelGetCurDisplayBuffer(void) { return vel::library().displayBuffer.load(); }

// -1 when not connected, when the connection is marked failed (nothing is sent)
// or when no answer came.
int VEL_API VelGetImageStandardDeviation(void) {
  vel::LibraryState& state = vel::library();
  vel::CommandHold hold(state.commandLock);
  vel::DeviceConnection* connection = state.connection();
  int32_t value = -1;
  if (connection && !connection->errorFlag()) connection->imageStandardDeviation(value);
  return vel::api::traced(__func__, value);
}

}  // extern "C"
