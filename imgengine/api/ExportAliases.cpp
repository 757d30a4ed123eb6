// Second export names of functions that are exported twice. On Windows the .def
// file maps these names onto the target function itself; other platforms need a
// symbol of their own.
#include "ImgEngine.h"

#ifndef _WIN32
extern "C" {

unsigned char* VEL_API VelGetGreyImageBuffer(void) { return VelGetGreyImageBitmapFileData(); }
char* VEL_API VelGetGreyImageTimestamp(void) { return VelGetCaptureTimestampStringInASCII(); }
int VEL_API VelGetTriggerBeeperEnabled(void) { return VelGetBeeperEnabled(); }
int VEL_API VelSetTriggerBeeperEnabled(int value) { return VelSetBeeperEnabled(value); }
}  // extern "C"
#endif
