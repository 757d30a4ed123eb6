// The grey and binary images saved as BMP and JPEG files, rendered into DIB
// sections for a device context, and saved automatically. No command lock: they
// hold the image lock while they read or change the shared buffers. The binary
// image exists only from an SA-1110.
#include <new>

#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "image/ImageSaves.h"

namespace {

using vel::ImageBuffer;

vel::SharedImages& images() { return vel::library().images; }
bool binaryAvailable() { return vel::library().processorType == vel::kProcessorSa1110; }

ImageBuffer grey() { return {images().grey(), vel::kGreyImageBufferBytes, images().greyDataSize()}; }
ImageBuffer binary() { return {images().binary(), vel::kBinaryImageBufferBytes, 0}; }
ImageBuffer displayCopy() { return {images().displayCopy(), vel::kGreyImageBufferBytes, 0}; }
vel::TimestampRecord timestamp() { return vel::timestampStore().snapshot(); }

// Runs a save under the image lock; a failed allocation is its failure.
template <typename Result, typename Save>
Result locked(Result failure, Save save) {
  try {
    vel::ScopedLock hold(images().imageLock());
    return save();
  } catch (const std::bad_alloc&) {
    return failure;
  }
}

}  // namespace

extern "C" {

// A compressed image is written decompressed (0 or -1).
int VEL_API VelSaveGreyImageAsBmpFile(const char* path, int overwrite) {
  return locked(-1, [&] {
    const ImageBuffer image = grey();
    return vel::imageKind(image) == vel::ImageKind::kJpeg ? vel::saveJpegAsBitmap(image, path, overwrite != 0, timestamp())
                                                           : vel::saveBitmapBuffer(image, path, overwrite != 0);
  });
}

int VEL_API VelSaveBinaryImageAsBmpFile(const char* path, int overwrite) {
  if (!binaryAvailable()) return -1;
  return locked(-1, [&] { return vel::saveBitmapBuffer(binary(), path, overwrite != 0); });
}

int VEL_API VelSaveJepgImageAsJpegFile(const char* path, int overwrite) {
  return locked(-1, [&] { return vel::saveJpegStream(grey(), path, overwrite != 0, timestamp()); });
}

int VEL_API VelSaveJpegImageAsBmpFile(const char* path, int) {
  return locked(-1, [&] { return vel::saveJpegAsBitmap(grey(), path, true, timestamp()); });
}

int VEL_API VelSaveGreyImageAsJpegFile(const char* path, int overwrite) {
  return locked(-1, [&] { return vel::saveGreyAsJpeg(grey(), path, overwrite != 0, timestamp()); });
}

int VEL_API VelSaveBinaryImageAsJpegFile(const char* path, int overwrite) {
  if (!binaryAvailable()) return -1;
  return locked(-1, [&] { return vel::saveBinaryAsJpeg(binary(), path, overwrite != 0); });
}

// Renders the display buffer; null before any grey image was prepared for display.
VelBitmap VEL_API VelCreateGreyImageInDCEx(VelDC dc, int* width, int* height) {
  return static_cast<VelBitmap>(locked<void*>(nullptr, [&]() -> void* {
    uint8_t* display = vel::library().displayBuffer.load();
    if (!display) return nullptr;
    return vel::makeDibSection(dc, {display, vel::kGreyImageBufferBytes, 0}, vel::DibRows::kImageSize, width, height);
  }));
}

VelBitmap VEL_API VelCreateGreyImageInDeviceContext(VelDC dc) {
  uint8_t* display = locked<uint8_t*>(nullptr, [] { return vel::prepareDisplay(grey(), displayCopy(), timestamp()); });
  if (!display) return nullptr;
  vel::library().displayBuffer = display;
  return VelCreateGreyImageInDCEx(dc, nullptr, nullptr);
}

VelBitmap VEL_API VelCreateBinaryImageInDeviceContext(VelDC dc) {
  if (!binaryAvailable()) return nullptr;
  return static_cast<VelBitmap>(locked<void*>(
      nullptr, [&] { return vel::makeDibSection(dc, binary(), vel::DibRows::kFileSize, nullptr, nullptr); }));
}

// Takes the time and options anew, then saves.
int VEL_API VelExecuteAutoSaveOperation(void) {
  return locked(-1, [] {
    vel::refreshTimestampRecord(1);
    return vel::autoSave(grey(), timestamp());
  });
}

}  // extern "C"
