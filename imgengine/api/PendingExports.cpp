// Exports whose parts of the library are not built yet. Each answers what its
// function answers when no imager is connected and nothing has been received.
// Functions leave this file as their parts are built.
#include "ImgEngine.h"

extern "C" {

void VEL_API VelGetPreviousBinaryImage(void) {}
void VEL_API VelGetPreviousGreyImage(void) {}
void VEL_API VelCaptureGreyImage(void) {}
int VEL_API VelGetGreyImageWidth(void) { return 0; }
int VEL_API VelGetBinaryImageWidth(void) { return 0; }
int VEL_API VelGetGreyImageHeight(void) { return 0; }
int VEL_API VelGetBinaryImageHeight(void) { return 0; }
int VEL_API VelGetGreyImageDataSize(void) { return 0; }
int VEL_API VelGetBinaryImageDataSize(void) { return 0; }
unsigned char* VEL_API VelGetGreyImageData(void) { return nullptr; }
unsigned char* VEL_API VelGetBinaryImageData(void) { return nullptr; }
int VEL_API VelGetGreyImageBitmapFileSize(void) { return 0; }
int VEL_API VelGetBinaryImageBitmapFileSize(void) { return 0; }
unsigned char* VEL_API VelGetGreyImageBitmapFileData(void) { return nullptr; }
unsigned char* VEL_API VelGetBinaryImageBitmapFileData(void) { return nullptr; }
VelBitmap VEL_API VelCreateGreyImageInDeviceContext(VelDC) { return nullptr; }
VelBitmap VEL_API VelCreateBinaryImageInDeviceContext(VelDC) { return nullptr; }
int VEL_API VelSaveGreyImageAsBmpFile(const char*, int) { return -1; }
int VEL_API VelSaveBinaryImageAsBmpFile(const char*, int) { return -1; }
int VEL_API VelSaveGreyImageAsJpegFile(const char*, int) { return -2; }
int VEL_API VelSaveBinaryImageAsJpegFile(const char*, int) { return -1; }
VelBitmap VEL_API VelCreateGreyImageInDCEx(VelDC, int*, int*) { return nullptr; }
unsigned char* VEL_API VelGetCurDisplayBuffer(void) { return nullptr; }
void VEL_API VelGetPreviousGreyImageEx(void) {}
void VEL_API VelGetWindowedPreviousGreyImage(int, int, int, int, int) {}
int VEL_API VelGetImageStandardDeviation(void) { return -1; }
int VEL_API VelSaveJpegImageAsBmpFile(const char*, int) { return 0; }
int VEL_API VelGetGreyImageCompressedDataSize(void) { return 0; }
int VEL_API VelExecuteAutoSaveOperation(void) { return 0; }
int VEL_API VelSaveJepgImageAsJpegFile(const char*, int) { return -1; }

}  // extern "C"
