// Exports whose parts of the library are not built yet. Each answers what its
// function answers when no imager is connected and nothing has been received.
// Functions leave this file as their parts are built.
#include "ImgEngine.h"

namespace {
char g_emptyText[] = "";
}  // namespace

extern "C" {

VelBitmap VEL_API VelCreateGreyImageInDeviceContext(VelDC) { return nullptr; }
VelBitmap VEL_API VelCreateBinaryImageInDeviceContext(VelDC) { return nullptr; }
int VEL_API VelSaveGreyImageAsBmpFile(const char*, int) { return -1; }
int VEL_API VelSaveBinaryImageAsBmpFile(const char*, int) { return -1; }
int VEL_API VelSaveGreyImageAsJpegFile(const char*, int) { return -2; }
int VEL_API VelSaveBinaryImageAsJpegFile(const char*, int) { return -1; }
VelBitmap VEL_API VelCreateGreyImageInDCEx(VelDC, int*, int*) { return nullptr; }
int VEL_API VelGetTimestampColor(void) { return 0; }
int VEL_API VelGetTimestampDateFormat(void) { return 0; }
int VEL_API VelGetTimestampDateOnly(void) { return 0; }
int VEL_API VelGetTimestampEnabled(void) { return 0; }
int VEL_API VelGetTimestampLocation(void) { return 0; }
int VEL_API VelGetPerspectiveCorrectionEnabled(void) { return 0; }
int VEL_API VelSetPerspectiveCorrectionEnabled(int) { return 0; }
int VEL_API VelGetImageCompressedEnabled(void) { return 0; }
int VEL_API VelSetImageCompressedEnabled(int) { return 0; }
int VEL_API VelGetImageCompressedQuality(void) { return 0; }
int VEL_API VelSetImageCompressedQuality(int) { return 0; }
int VEL_API VelSaveJpegImageAsBmpFile(const char*, int) { return 0; }
int VEL_API VelExecuteAutoSaveOperation(void) { return 0; }
char* VEL_API VelGetCaptureTimestampStringInASCII(void) { return g_emptyText; }
char* VEL_API VelGetAutoSaveFileFullPathName(void) { return g_emptyText; }
int VEL_API VelExecuteDecompression(const char*, const char*) { return 0; }
int VEL_API VelExecuteCompression(const char*, const char*) { return 0; }
int VEL_API VelSaveJepgImageAsJpegFile(const char*, int) { return -1; }
int VEL_API VelSetTimestampColor(int) { return 0; }
int VEL_API VelSetTimestampDateFormat(int) { return 0; }
int VEL_API VelSetTimestampDateOnly(int) { return 0; }
int VEL_API VelSetTimestampEnabled(int) { return 0; }
int VEL_API VelSetTimestampLocation(int) { return 0; }

}  // extern "C"
