/*
 * ImgEngine: host library for the 2-D barcode imager.
 *
 * Flat C interface of 359 functions. On Windows they use the standard calling
 * convention and are exported from ImgEngine.dll under fixed names and ordinals;
 * on Linux libImgEngine.so exports the same C names.
 */
#ifndef IMGENGINE_H
#define IMGENGINE_H

#include "ImgEngineVersion.h"

#ifdef _WIN32
#include <windows.h>
#define VEL_API __stdcall
#define VEL_PUBLIC
typedef HWND VelWindow;
typedef HDC VelDC;
typedef HBITMAP VelBitmap;
#ifndef WM_USER
#define WM_USER 0x0400
#endif
#else
#define VEL_API
#define VEL_PUBLIC __attribute__((visibility("default")))
typedef void* VelWindow;
typedef void* VelDC;
typedef void* VelBitmap;
#define WM_USER 0x0400
#endif

/* Posted to registered progress windows and threads: wParam percent, lParam event code. */
#define WM_OPERATION_PROGRESS (WM_USER + 258)
/* wParam 1: new exposure values; 2: presentation mode or configuration barcode applied. */
#define WM_CONFIGURATION_CHANGED (WM_USER + 259)
/* lParam 1: the USB imager appeared; 0: it went away. */
#define WM_USB_READY_STATUS (WM_USER + 260)

#ifdef __cplusplus
extern "C" {
#endif

#define VEL_FN(ordinal, naming, ret, name, argBytes, params) VEL_PUBLIC ret VEL_API name params;
#define VEL_ALIAS(ordinal, naming, ret, name, argBytes, params, target) VEL_PUBLIC ret VEL_API name params;
#include "ImgEngineExports.h"
#undef VEL_FN
#undef VEL_ALIAS

#ifdef __cplusplus
}
#endif

#endif
