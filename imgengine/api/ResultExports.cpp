// Getters of the last published decode results and the names of the barcode
// types. They read the shared result store under its lock and never talk to the
// imager. An index outside 0..count-1 answers 0.
#include <algorithm>
#include <cstring>

#include "ImgEngine.h"
#include "config/Symbology.h"
#include "operations/ResultStore.h"

using vel::BarcodeResult;
using vel::ResultStore;

namespace {

template <typename Reader>
int readResults(Reader reader) {
  return vel::sharedResults().read(reader);
}

template <typename Field>
int barcodeValue(int index, Field field) {
  return readResults([&](const ResultStore& s) {
    const BarcodeResult* b = s.barcode(index);
    return b ? static_cast<int>(field(*b)) : 0;
  });
}

int cornerValue(int index, vel::Corner corner) {
  return barcodeValue(index, [corner](const BarcodeResult& b) { return b.corners[corner]; });
}

}  // namespace

extern "C" {

int VEL_API VelGetImageCaptureTime(void) {
  return readResults([](const ResultStore& s) { return s.captureTime; });
}
int VEL_API VelGetAutoExposureExecutionTime(void) {
  return readResults([](const ResultStore& s) { return s.autoExposureTime; });
}
int VEL_API VelGetImageProcessingTime(void) {
  return readResults([](const ResultStore& s) { return s.imageProcessingTime; });
}
int VEL_API VelGetNumberOfDecodedBarcodes(void) {
  return readResults([](const ResultStore& s) { return s.count(); });
}

int VEL_API VelGetBarcodeType(int index) {
  return barcodeValue(index, [](const BarcodeResult& b) { return b.type; });
}
int VEL_API VelGetBarcodeDataSize(int index) {
  return barcodeValue(index, [](const BarcodeResult& b) { return b.data.size(); });
}
int VEL_API VelGetBarcodeProcessingTime(int index) {
  return barcodeValue(index, [](const BarcodeResult& b) { return b.processingTime; });
}

// Copies without a terminating zero; maxLength <= 0 or a null buffer copies nothing.
int VEL_API VelGetBarcodeData(int index, int maxLength, unsigned char* buffer) {
  return readResults([&](const ResultStore& s) { return s.copyData(index, maxLength, buffer); });
}

#define VEL_CORNER_GETTER(name, corner) \
  int VEL_API name(int index) { return cornerValue(index, vel::corner); }
VEL_CORNER_GETTER(VelGetBarcodeTopLeftX, kTopLeftX)
VEL_CORNER_GETTER(VelGetBarcodeTopLeftY, kTopLeftY)
VEL_CORNER_GETTER(VelGetBarcodeTopRightX, kTopRightX)
VEL_CORNER_GETTER(VelGetBarcodeTopRightY, kTopRightY)
VEL_CORNER_GETTER(VelGetBarcodeBottomLeftX, kBottomLeftX)
VEL_CORNER_GETTER(VelGetBarcodeBottomLeftY, kBottomLeftY)
VEL_CORNER_GETTER(VelGetBarcodeBottomRightX, kBottomRightX)
VEL_CORNER_GETTER(VelGetBarcodeBottomRightY, kBottomRightY)
#undef VEL_CORNER_GETTER

// Copies min(name length, maxLength) characters without a terminating zero; 0 for
// a type without a name, a maxLength <= 0 or a null buffer.
int VEL_API VelGetBarcodeName(int type, int maxLength, char* buffer) {
  const char* name = vel::barcodeTypeName(type);
  if (!name || maxLength <= 0 || !buffer) return 0;
  const size_t n = std::min(std::strlen(name), static_cast<size_t>(maxLength));
  std::memcpy(buffer, name, n);
  return static_cast<int>(n);
}

}  // extern "C"
