/*
 * ImgEngine: host library for the 2-D barcode imager.
 *
 * A flat C interface of 359 functions, declared below family by family. On Windows they
 * use the standard calling convention (__stdcall) and ImgEngine.dll exports them under
 * fixed names and ordinals, some under a decorated name (VelIsColorSensor as
 * _VelIsColorSensor@0); on Linux libImgEngine.so exports the same C names. No exception
 * crosses the interface.
 *
 * One imager is connected at a time. For the whole process the library keeps the
 * connection, one host copy of the imager's configuration (the configuration record),
 * the last images and the last decode results.
 *
 * Threads, in short (each family says more):
 *  - Functions that exchange a command with the imager hold the library's command lock
 *    for the whole exchange. A host transfer (a capture, a previous image) holds it until
 *    its answer has been read, so they wait for it.
 *  - Connect and disconnect take no lock: never run them at the same time as any other
 *    function of the library.
 *  - Settings, results and image getters take no lock and run on the caller's thread.
 *    The operation threads write the results, the images and parts of the configuration
 *    record: read results and images after WM_OPERATION_PROGRESS announced them.
 *
 * Memory: text and byte getters copy into the caller's buffer, at most the length given,
 * and return the number of bytes copied. Pointers that the library returns point into
 * its own buffers: never free them. Bitmaps created in a device context are the
 * caller's to delete.
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
#else
/* A window is a message queue of the library; device contexts and bitmaps are objects
 * of the library. */
#define VEL_API
#define VEL_PUBLIC __attribute__((visibility("default")))
typedef void* VelWindow;
typedef void* VelDC;
typedef void* VelBitmap;
#ifndef WM_USER
#define WM_USER 0x0400
#endif
#endif

/*
 * Messages that the library posts to registered windows and threads (on Windows with
 * PostMessage and PostThreadMessage; on Linux into the library's own queues).
 *
 * On Linux a thread is named by its kernel thread id (gettid()), and only
 * VelOutputProgress reads its queue. The library makes a thread's queue at that
 * thread's first VelOutputProgress call and drops what is posted to a thread without
 * one: call VelOutputProgress once before registering the thread. (On Windows a thread
 * gets its queue at its first call of a window function; PostThreadMessage to a thread
 * without one fails in the same way.)
 *
 * WM_OPERATION_PROGRESS: wParam percent 0..100, lParam event:
 *   1 done; 2 aborted (cancelled, a trigger transfer yielded to a host transfer, or an
 *   image transfer failed); 3 results in progress; 4 binary image in progress; 5 grey
 *   image in progress; 6 results ready; 7 binary image ready; 8 grey image ready;
 *   9 trigger operation done with a grey image.
 * WM_CONFIGURATION_CHANGED: the operation threads changed the configuration record;
 *   wParam 1: new exposure values; 2: presentation mode changed or a configuration
 *   barcode was applied.
 * WM_USB_READY_STATUS: lParam 1: the USB imager appeared; 0: it went away.
 */
#define WM_OPERATION_PROGRESS (WM_USER + 258)
#define WM_CONFIGURATION_CHANGED (WM_USER + 259)
#define WM_USB_READY_STATUS (WM_USER + 260)

/* The events of WM_OPERATION_PROGRESS (its lParam, and the high byte of a status). */
#define VEL_EVENT_DONE 1
#define VEL_EVENT_ABORTED 2
#define VEL_EVENT_RESULTS_PROGRESS 3
#define VEL_EVENT_BINARY_IMAGE_PROGRESS 4
#define VEL_EVENT_GREY_IMAGE_PROGRESS 5
#define VEL_EVENT_RESULTS_READY 6
#define VEL_EVENT_BINARY_IMAGE_READY 7
#define VEL_EVENT_GREY_IMAGE_READY 8
#define VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE 9

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Versions and classification.
 *
 * The imager's versions are read at connect and kept after a disconnect; before the
 * first successful connect they are 0. The processor and sensor queries answer 0 or 1
 * from the classification made at connect, which is also kept (before the first
 * connect: i.MX1 processor, standard sensor). VelGetMaximumIntegrationTime answers the
 * largest meaningful integration time of the sensor: 1023 on the OV9640, 1048 on the
 * OV9650, 65535 on the others.
 *
 * VelGetFirmwareVersion and VelGetHostVersion copy at most maxLength bytes of their text
 * into buffer and return the number copied; a maxLength of 0 or below copies nothing and
 * returns 0. The firmware text carries no terminating zero; the host version text
 * (VEL_HOST_VERSION) is copied with its terminating zero.
 *
 * Threads: any thread; these read plain fields without a lock.
 */
VEL_PUBLIC unsigned int VEL_API VelGetVisionProcessorVersion(void);
VEL_PUBLIC unsigned int VEL_API VelGetImageSensorVersion(void);
VEL_PUBLIC unsigned int VEL_API VelGetIlluminationBoardVersion(void);
VEL_PUBLIC int VEL_API VelGetFirmwareVersion(int maxLength, char* buffer);
VEL_PUBLIC int VEL_API VelGetHostVersion(int maxLength, char* buffer);
VEL_PUBLIC int VEL_API VelIsProcessorTypeMx1(void);
VEL_PUBLIC int VEL_API VelIsProcessorTypeSa1110(void);
VEL_PUBLIC int VEL_API VelIsSensorTypeStandard(void);
VEL_PUBLIC int VEL_API VelIsSensorTypePicocam(void);
VEL_PUBLIC int VEL_API VelIsSensorTypeOv9640(void);
VEL_PUBLIC int VEL_API VelIsSensorTypeOv9650(void);
VEL_PUBLIC int VEL_API VelIsColorSensor(void);
VEL_PUBLIC int VEL_API VelGetMaximumIntegrationTime(void);

/*
 * Connection to the imager (one at a time).
 *
 * VelDeviceConnectEx disconnects first, then opens the transport that port selects:
 * 0 the USB driver, 100 the USB 2 driver, 1..99 the COM port of that number, at baudRate
 * (ignored for USB). channelTimeoutMs bounds every exchange with the imager; -1 waits
 * without limit. It checks the link and reads the imager's versions and configuration
 * (into the configuration record below), and returns
 *    1  connected;
 *    0  the link could not be set up, or reading the versions or the configuration failed;
 *   -1  the imager answered but refused the link check;
 *   -2  the transport did not open (no such port, port out of range, no USB device);
 *   -3  memory or a thread could not be had on the way.
 * Every result but 1 leaves the library not connected. VelDeviceConnect is
 * VelDeviceConnectEx at 115200 baud. VelDeviceDisconnect ends the connection (harmless
 * when there is none) and returns when every thread of the connection has ended; the
 * versions, the classification and the configuration record are kept.
 *
 * The port map: a COM port number 1..99 may stand for another serial device or for a
 * network serial port (RFC 2217). The environment variable VEL_SERIAL_PORT_<N>, or when
 * it is not set the host settings string value SerialPort<N> (in the registry key
 * HKEY_LOCAL_MACHINE\Software\Velmora on Windows, in the host settings file elsewhere),
 * holds a device name ("/dev/ttyUSB0", "COM12") or "rfc2217://HOST:PORT". Over a network
 * port the line settings, purges and the break handshake are com port commands, the
 * server's line-state and modem-state notifications are the line events, and a lost
 * connection is made again when the link next resynchronises. Without an imager at hand,
 * start velsim (the simulated imager as a program; it prints the URL it serves, by
 * default rfc2217://127.0.0.1:2217), set VEL_SERIAL_PORT_7 to that URL and connect to
 * port 7, as in: velcli --port 7 capture --decode
 *
 * A connection is marked failed by any exchange whose line failed (no answer within the
 * timeout, a line error) and by SetCommunicationError. It then stays in place, failed:
 * every exchange fails until the caller disconnects or connects again; nothing
 * reconnects by itself. VelGetCommunicationStatus answers 1 when the imager answers a
 * link check within 200 ms, -3 when the connection is marked failed or the check
 * fails, -4 when not connected.
 *
 * Threads: connect and disconnect take no lock; never run them at the same time as each
 * other or as any other function of the library. VelGetCommunicationStatus holds the
 * command lock, so it waits while a host transfer is read. SetCommunicationError only
 * sets the failed mark and may be called from any thread.
 */
VEL_PUBLIC int VEL_API VelDeviceConnect(int port, int channelTimeoutMs);
VEL_PUBLIC int VEL_API VelDeviceConnectEx(int port, int channelTimeoutMs, int baudRate);
VEL_PUBLIC void VEL_API VelDeviceDisconnect(void);
VEL_PUBLIC int VEL_API VelGetCommunicationStatus(void);
VEL_PUBLIC void VEL_API SetCommunicationError(void);

/*
 * USB presence notifications.
 *
 * WM_USB_READY_STATUS (wParam 0; lParam 1 when the USB imager appeared, 0 when it went
 * away) is posted to the registered window and to the registered thread. Each call
 * replaces the earlier target of its kind; 0 removes it. The first registration of
 * either kind starts the library's USB watcher thread, which runs until the library is
 * unloaded.
 *
 * Threads: any thread; no lock.
 */
VEL_PUBLIC void VEL_API VelRegisterUsbReadyStatusNotifyWindow(VelWindow window);
VEL_PUBLIC void VEL_API VelRegisterUsbReadyStatusNotifyThread(unsigned int threadId);

/*
 * The configuration record: the library's one host copy of the imager's settings.
 *
 * VelGetDeviceConfiguration reads the imager's configuration into the record;
 * VelSetTemporaryDeviceConfiguration and VelSetPermanentDeviceConfiguration send the
 * record to the imager as its temporary or its permanent configuration. The three
 * return 1 on success, 0 when not connected or when the connection is (or becomes)
 * marked failed. VelSetFactoryDefaultConfiguration resets the record in host memory and
 * writes its host-only settings to the host settings store; it sends nothing, and its
 * result carries no meaning.
 *
 * Threads: the three exchanges hold the command lock for the whole exchange. The record
 * itself has no lock: while an operation runs, its threads write the exposure values
 * and the presentation-mode switch that the imager reports, and all of the record when
 * a configuration barcode is decoded; a send transfers what the record holds then.
 */
VEL_PUBLIC int VEL_API VelGetDeviceConfiguration(void);
VEL_PUBLIC int VEL_API VelSetTemporaryDeviceConfiguration(void);
VEL_PUBLIC int VEL_API VelSetPermanentDeviceConfiguration(void);
VEL_PUBLIC int VEL_API VelSetFactoryDefaultConfiguration(void);

/*
 * Settings: one getter and one setter per setting of the configuration record.
 *
 * They work with or without a connection and change only the record: a change reaches
 * the imager with the next VelSetTemporaryDeviceConfiguration or
 * VelSetPermanentDeviceConfiguration, and a getter answers what the imager holds only
 * after VelGetDeviceConfiguration or a connect. Getters return the setting widened to
 * int, switches as 0 or 1. A setter stores its argument cut to the setting's width, with
 * no range check unless said below; a switch setter switches on when the argument's low
 * byte is non-zero. Setter results carry no meaning unless said below.
 *
 * Threads: no lock; they run on the caller's thread. A switch setter rewrites its whole
 * flag word, so two threads that change switches at the same moment can lose one of the
 * changes: serialise your settings calls. While an operation runs, its threads may write
 * the exposure settings (integration time, gain, illumination level) and the
 * presentation-mode switch, and announce it with WM_CONFIGURATION_CHANGED.
 */

/* Plain values. Threshold bias and colour hue are signed; the sharpen weight setter
 * stores the argument's low byte. */
VEL_PUBLIC int VEL_API VelGetWindowY(void);
VEL_PUBLIC int VEL_API VelSetWindowY(int value);
VEL_PUBLIC int VEL_API VelGetIntegrationTime(void);
VEL_PUBLIC int VEL_API VelSetIntegrationTime(int value);
VEL_PUBLIC int VEL_API VelGetGain(void);
VEL_PUBLIC int VEL_API VelSetGain(int value);
VEL_PUBLIC int VEL_API VelGetIlluminationLevel(void);
VEL_PUBLIC int VEL_API VelSetIlluminationLevel(int value);
VEL_PUBLIC int VEL_API VelGetNoiseLevel(void);
VEL_PUBLIC int VEL_API VelSetNoiseLevel(int value);
VEL_PUBLIC int VEL_API VelGetLowExtremeIndex(void);
VEL_PUBLIC int VEL_API VelSetLowExtremeIndex(int value);
VEL_PUBLIC int VEL_API VelGetHighExtremeIndex(void);
VEL_PUBLIC int VEL_API VelSetHighExtremeIndex(int value);
VEL_PUBLIC int VEL_API VelGetThresholdBias(void);
VEL_PUBLIC int VEL_API VelSetThresholdBias(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureRegionOfInterestFractionalX(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureRegionOfInterestFractionalX(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureRegionOfInterestFractionalY(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureRegionOfInterestFractionalY(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureRegionOfInterestFractionalWidth(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureRegionOfInterestFractionalWidth(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureRegionOfInterestFractionalHeight(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureRegionOfInterestFractionalHeight(int value);
VEL_PUBLIC int VEL_API VelGetMaximumAutoExposureIlluminationLevel(void);
VEL_PUBLIC int VEL_API VelSetMaximumAutoExposureIlluminationLevel(int value);
VEL_PUBLIC int VEL_API VelGetMaximumAutoExposureIntegrationTime(void);
VEL_PUBLIC int VEL_API VelSetMaximumAutoExposureIntegrationTime(int value);
VEL_PUBLIC int VEL_API VelGetMaximumAutoExposureGain(void);
VEL_PUBLIC int VEL_API VelSetMaximumAutoExposureGain(int value);
VEL_PUBLIC int VEL_API VelGetMaximumNumberBarcodesToDecode(void);
VEL_PUBLIC int VEL_API VelSetMaximumNumberBarcodesToDecode(int value);
VEL_PUBLIC int VEL_API VelGetNumberBarcodesMustDecode(void);
VEL_PUBLIC int VEL_API VelSetNumberBarcodesMustDecode(int value);
VEL_PUBLIC int VEL_API VelGetDecoderTimeoutInMilliSeconds(void);
VEL_PUBLIC int VEL_API VelSetDecoderTimeoutInMilliSeconds(int value);
VEL_PUBLIC int VEL_API VelGetMaximumNumberOfCapturesOnTriggerDown(void);
VEL_PUBLIC int VEL_API VelSetMaximumNumberOfCapturesOnTriggerDown(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionGaussWidth(void);
VEL_PUBLIC int VEL_API VelSetGaussCorrectionWidth(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionGaussFlatArea(void);
VEL_PUBLIC int VEL_API VelSetGaussCorrectionFlatArea(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionGammaFactor(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionGammaFactor(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionNoiseFilterPass1Threshold(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionNoiseFilterPass1Threshold(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionNoiseFilterPass2Threshold(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionNoiseFilterPass2Threshold(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionSharpenImageWeight(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionSharpenImageWeight(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionLowBound(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionLowBound(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionHighBound(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionHighBound(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionBrightness(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionBrightness(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionContrast(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionContrast(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionColorHue(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionColorHue(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionColorSaturation(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionColorSaturation(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionColorValue(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionColorValue(int value);
VEL_PUBLIC int VEL_API VelGetPresentationModeCycleTime(void);
VEL_PUBLIC int VEL_API VelSetPresentationModeCycleTime(int value);

/* Settings the setter fits to the connected imager; each returns the value it stored.
 *  - Window X is made even on a colour sensor.
 *  - Window width is raised to 128 on the SA-1110 and to 64 on the i.MX1, window height
 *    to 64; both are then rounded down to a multiple of 32.
 *  - Hardware subsampling (log2 of the factor, 0..3) is stored on the SA-1110 and is 0
 *    on the i.MX1.
 *  - Software subsampling is clamped to 1..16 and made odd on a colour sensor (2 gives 3).
 *  - Image rotation takes 90, 180 and 270 and stores 0 for anything else; its setter
 *    alone returns 0 when it took the value and non-zero when it stored 0 instead.
 *  - The integration times in microseconds are converted to and from the sensor's units.
 */
VEL_PUBLIC int VEL_API VelGetWindowX(void);
VEL_PUBLIC int VEL_API VelSetWindowX(int value);
VEL_PUBLIC int VEL_API VelGetWindowWidth(void);
VEL_PUBLIC int VEL_API VelSetWindowWidth(int value);
VEL_PUBLIC int VEL_API VelGetWindowHeight(void);
VEL_PUBLIC int VEL_API VelSetWindowHeight(int value);
VEL_PUBLIC int VEL_API VelGetLog2SubsamplingFactor(void);
VEL_PUBLIC int VEL_API VelSetLog2SubsamplingFactor(int value);
VEL_PUBLIC int VEL_API VelGetImageSoftwareSubsamplingFactor(void);
VEL_PUBLIC int VEL_API VelSetImageSoftwareSubsamplingFactor(int value);
VEL_PUBLIC int VEL_API VelGetImageRotationDegrees(void);
VEL_PUBLIC int VEL_API VelSetImageRotationDegrees(int value);
VEL_PUBLIC int VEL_API VelGetIntegrationTimeInMicroSeconds(void);
VEL_PUBLIC int VEL_API VelSetIntegrationTimeInMicroSeconds(int microseconds);
VEL_PUBLIC int VEL_API VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds(void);
VEL_PUBLIC int VEL_API VelSetMaximumAutoExposureIntegrationTimeInMicroSeconds(int microseconds);

/* Option switches. The three background setters switch on when the whole int is
 * non-zero. Trigger binary image read stays off unless the processor is the SA-1110;
 * built-in sensor auto-exposure stays off unless the sensor is a colour sensor. The
 * trigger beeper functions are the beeper functions under a second name. */
VEL_PUBLIC int VEL_API VelGetDefaultBackgroundColour(void);
VEL_PUBLIC int VEL_API VelSetDefaultBackgroundColour(int value);
VEL_PUBLIC int VEL_API VelGetInteriorBackgroundMode(void);
VEL_PUBLIC int VEL_API VelSetInteriorBackgroundMode(int value);
VEL_PUBLIC int VEL_API VelGetPerimeterBackgroundMode(void);
VEL_PUBLIC int VEL_API VelSetPerimeterBackgroundMode(int value);
VEL_PUBLIC int VEL_API VelGetTriggerDecodeBarcodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetTriggerDecodeBarcodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTriggerBinaryImageReadEnabled(void);
VEL_PUBLIC int VEL_API VelSetTriggerBinaryImageReadEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTriggerGrayImageReadEnabled(void);
VEL_PUBLIC int VEL_API VelSetTriggerGrayImageReadEnabled(int value);
VEL_PUBLIC int VEL_API VelGetBeeperEnabled(void);
VEL_PUBLIC int VEL_API VelSetBeeperEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTriggerBeeperEnabled(void);
VEL_PUBLIC int VEL_API VelSetTriggerBeeperEnabled(int value);
VEL_PUBLIC int VEL_API VelGetConstantIlluminationModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetConstantIlluminationModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTargetingLedsEnabled(void);
VEL_PUBLIC int VEL_API VelSetTargetingLedsEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPresentationModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetPresentationModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureEnabled(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureEnabled(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureRegionOfInterestEnabled(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureRegionOfInterestEnabled(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureFastConvergeEnabled(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureFastConvergeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetAdaptiveWindowModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetAdaptiveWindowModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTriggerCameraModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetTriggerCameraModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetAutoExposureBuiltInSensorEnabled(void);
VEL_PUBLIC int VEL_API VelSetAutoExposureBuiltInSensorEnabled(int value);

/* Image correction switches. Noise filter and sharpening stay off on a colour sensor;
 * the colour HSV adjustment stays off unless the sensor is a colour sensor. */
VEL_PUBLIC int VEL_API VelGetImageCorrectionGaussEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionGaussEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionGammaEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionGammaEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionHistogramEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionHistogramEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionNoiseFilterEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionNoiseFilterEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionSharpenImageEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionSharpenImageEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCorrectionColorHsvAdjustmentEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCorrectionColorHsvAdjustmentEnabled(int value);

/* Histogram correction mode, one selector of three values: a getter answers 1 when its
 * mode is selected; a setter selects its mode when the argument's low byte is non-zero
 * and changes nothing otherwise. */
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionAutomatic(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionAutomatic(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionUsesBounds(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionUsesBounds(int value);
VEL_PUBLIC int VEL_API VelGetImageHistogramCorrectionUsesBrightnessContrast(void);
VEL_PUBLIC int VEL_API VelSetImageHistogramCorrectionUsesBrightnessContrast(int value);

/* Symbologies the imager decodes, and their options. */
VEL_PUBLIC int VEL_API VelGetAztecCodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetAztecCodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetCodabarEnabled(void);
VEL_PUBLIC int VEL_API VelSetCodabarEnabled(int value);
VEL_PUBLIC int VEL_API VelGetCode128Enabled(void);
VEL_PUBLIC int VEL_API VelSetCode128Enabled(int value);
VEL_PUBLIC int VEL_API VelGetCode39Enabled(void);
VEL_PUBLIC int VEL_API VelSetCode39Enabled(int value);
VEL_PUBLIC int VEL_API VelGetCode39FullAsciiEnabled(void);
VEL_PUBLIC int VEL_API VelSetCode39FullAsciiEnabled(int value);
VEL_PUBLIC int VEL_API VelGetCode39CheckCharacterEnabled(void);
VEL_PUBLIC int VEL_API VelSetCode39CheckCharacterEnabled(int value);
VEL_PUBLIC int VEL_API VelGetCode39CheckCharacterStripEnabled(void);
VEL_PUBLIC int VEL_API VelSetCode39CheckCharacterStripEnabled(int value);
VEL_PUBLIC int VEL_API VelGetCode93Enabled(void);
VEL_PUBLIC int VEL_API VelSetCode93Enabled(int value);
VEL_PUBLIC int VEL_API VelGetCompositeCodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetCompositeCodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetDataMatrixEnabled(void);
VEL_PUBLIC int VEL_API VelSetDataMatrixEnabled(int value);
VEL_PUBLIC int VEL_API VelGetDataMatrixInverseVideoModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetDataMatrixInverseVideoModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetDataMatrixRectangularEnabled(void);
VEL_PUBLIC int VEL_API VelSetDataMatrixRectangularEnabled(int value);
VEL_PUBLIC int VEL_API VelGetDataMatrixSmallPhysicalSizeEnabled(void);
VEL_PUBLIC int VEL_API VelSetDataMatrixSmallPhysicalSizeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetInterleaved2Of5Enabled(void);
VEL_PUBLIC int VEL_API VelSetInterleaved2Of5Enabled(int value);
VEL_PUBLIC int VEL_API VelGetInterleaved2Of5CheckCharacterEnabled(void);
VEL_PUBLIC int VEL_API VelSetInterleaved2Of5CheckCharacterEnabled(int value);
VEL_PUBLIC int VEL_API VelGetInterleaved2Of5CheckCharacterStripEnabled(void);
VEL_PUBLIC int VEL_API VelSetInterleaved2Of5CheckCharacterStripEnabled(int value);
VEL_PUBLIC int VEL_API VelGetMaxicodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetMaxicodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetMicroPDF417Enabled(void);
VEL_PUBLIC int VEL_API VelSetMicroPDF417Enabled(int value);
VEL_PUBLIC int VEL_API VelGetPDF417Enabled(void);
VEL_PUBLIC int VEL_API VelSetPDF417Enabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalAustraliaEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalAustraliaEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalCanadaEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalCanadaEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalJapanEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalJapanEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalKixEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalKixEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalKoreaEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalKoreaEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalPlanetEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalPlanetEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalPostnetEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalPostnetEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPostalRoyalMailEnabled(void);
VEL_PUBLIC int VEL_API VelSetPostalRoyalMailEnabled(int value);
VEL_PUBLIC int VEL_API VelGetQRCodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetQRCodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetQRCodeInverseVideoModeEnabled(void);
VEL_PUBLIC int VEL_API VelSetQRCodeInverseVideoModeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetRSSCodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetRSSCodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCAEnabled(void);
VEL_PUBLIC int VEL_API VelSetUPCAEnabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCASupplements2Enabled(void);
VEL_PUBLIC int VEL_API VelSetUPCASupplements2Enabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCASupplements5Enabled(void);
VEL_PUBLIC int VEL_API VelSetUPCASupplements5Enabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCASupplementsMandatory(void);
VEL_PUBLIC int VEL_API VelSetUPCASupplementsMandatory(int value);
VEL_PUBLIC int VEL_API VelGetUPCEEnabled(void);
VEL_PUBLIC int VEL_API VelSetUPCEEnabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCESupplements2Enabled(void);
VEL_PUBLIC int VEL_API VelSetUPCESupplements2Enabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCESupplements5Enabled(void);
VEL_PUBLIC int VEL_API VelSetUPCESupplements5Enabled(int value);
VEL_PUBLIC int VEL_API VelGetUPCESupplementsMandatory(void);
VEL_PUBLIC int VEL_API VelSetUPCESupplementsMandatory(int value);
VEL_PUBLIC int VEL_API VelGetAll1dCodesStrongRecoveryEnabled(void);
VEL_PUBLIC int VEL_API VelSetAll1dCodesStrongRecoveryEnabled(int value);

/* How the imager orders and decorates its decode results: by the type order list, by
 * size (ascending or descending), only the targeted barcode, and with the prefix and
 * suffix lists below. */
VEL_PUBLIC int VEL_API VelGetOrderByTypeEnabled(void);
VEL_PUBLIC int VEL_API VelSetOrderByTypeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetEnforceOrderByTypeEnabled(void);
VEL_PUBLIC int VEL_API VelSetEnforceOrderByTypeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetOrderBySizeEnabled(void);
VEL_PUBLIC int VEL_API VelSetOrderBySizeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetOrderBySizeAscendentEnabled(void);
VEL_PUBLIC int VEL_API VelSetOrderBySizeAscendentEnabled(int value);
VEL_PUBLIC int VEL_API VelGetSingleTargettedBarcodeEnabled(void);
VEL_PUBLIC int VEL_API VelSetSingleTargettedBarcodeEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPrefixSuffixEnabled(void);
VEL_PUBLIC int VEL_API VelSetPrefixSuffixEnabled(int value);

/*
 * Barcode type order list and per-type prefix and suffix, in the configuration record.
 *
 * Barcode types are ids 1..22 (VelGetBarcodeName names them). The order list holds up to
 * 23 ids: VelGetBarcodeTypeOrderList writes them to buffer (at least 23 bytes) and
 * returns their number; VelSetBarcodeTypeOrderList takes the first count bytes of ids
 * (at most 23) and keeps those that are type ids. The prefix and suffix of a type are at
 * most 12 bytes each: the getters write them to buffer (at least 12 bytes) and return
 * their length (0 for an id without an entry); the setters store at most 12 bytes and
 * change nothing for an id without an entry. The bytes are raw: no terminating zero in
 * either direction. Setter results carry no meaning.
 *
 * Threads: no lock, as for the settings above.
 */
VEL_PUBLIC int VEL_API VelGetBarcodeTypeOrderList(unsigned char* buffer);
VEL_PUBLIC int VEL_API VelSetBarcodeTypeOrderList(int count, const unsigned char* ids);
VEL_PUBLIC int VEL_API VelGetPrefixBarcodeList(int typeId, unsigned char* buffer);
VEL_PUBLIC int VEL_API VelSetPrefixBarcodeList(int typeId, unsigned int length, const unsigned char* bytes);
VEL_PUBLIC int VEL_API VelGetSuffixBarcodeList(int typeId, unsigned char* buffer);
VEL_PUBLIC int VEL_API VelSetSuffixBarcodeList(int typeId, unsigned int length, const unsigned char* bytes);

/*
 * Configuration files: the configuration record and the host settings as INI-style text.
 *
 * VelSaveCurrentConfigurations writes the host copy (nothing is read from the imager)
 * to path: 0 written, -1 when the file cannot be created, written or put in place (a
 * file already at path is then left as it was; the new one is written beside it and
 * moved over it). VelLoadAndDeployConfigurations resets the record to factory defaults,
 * reads path into it and into the host settings, and stores the result permanently in
 * the imager when connected; it returns 1 when the file was read and 0 when it cannot be
 * opened (the record and the host settings are then unchanged). An ImageSourceFolder of
 * more than 260 characters, its trailing backslash included, is ignored.
 *
 * Threads: no lock except inside the final permanent store; never run two of these calls
 * at the same time.
 */
VEL_PUBLIC int VEL_API VelSaveCurrentConfigurations(const char* path);
VEL_PUBLIC int VEL_API VelLoadAndDeployConfigurations(const char* path);

/*
 * Host settings that outlive the process: automatic saving of captured images, the folder
 * they go to, host perspective correction and the perspective display. On Windows they
 * live in the registry under HKEY_LOCAL_MACHINE\Software\Velmora, on Linux in the file
 * named by VEL_HOST_SETTINGS; the library never creates either.
 *
 * The switch getters answer 1 when the stored value is non-zero and 0 otherwise or when
 * it cannot be read; the switch setters return 0 when written, else the system's error
 * code. VelGetImageSourceFolder returns a library-owned path ending in a path separator
 * (".\" when none is stored), valid until the next call of either folder function; do not
 * free it. VelSetImageSourceFolder returns 1 when written, 0 when the store cannot be
 * opened; its second argument is not used.
 *
 * Before a stream of live images, VelSavePreMovieSettings remembers and then switches off
 * a fixed set of features (automatic saving, aiming LEDs, beeper, constant illumination,
 * trigger decoding and camera mode, presentation mode, adaptive window, the image
 * corrections, timestamps, compression, perspective correction, illumination);
 * VelRestorePreMovieSettings puts back what the last save remembered. Both store the
 * record permanently in the imager and return that store's result (1 success, 0 failure
 * or not connected).
 *
 * Threads: no lock (the folder buffer is shared); the pre-movie pair takes the command
 * lock for its final store.
 */
VEL_PUBLIC int VEL_API VelGetAutoSaveEnabled(void);
VEL_PUBLIC int VEL_API VelSetAutoSaveEnabled(int value);
VEL_PUBLIC char* VEL_API VelGetImageSourceFolder(void);
VEL_PUBLIC int VEL_API VelSetImageSourceFolder(const char* path, int unused);
VEL_PUBLIC int VEL_API VelGetHostPerspectiveCorrectionEnabled(void);
VEL_PUBLIC int VEL_API VelSetHostPerspectiveCorrectionEnabled(int value);
VEL_PUBLIC int VEL_API VelGetPerspectiveDisplay(void);
VEL_PUBLIC int VEL_API VelSetPerspectiveDisplay(int value);
VEL_PUBLIC int VEL_API VelSavePreMovieSettings(void);
VEL_PUBLIC int VEL_API VelRestorePreMovieSettings(void);

/*
 * Operations: a host operation (started by the capture functions below) and a trigger
 * operation (started by the imager's trigger), each run by its own worker thread.
 *
 * Progress goes to the registered window and thread as WM_OPERATION_PROGRESS (see the
 * event codes above) and WM_CONFIGURATION_CHANGED. The registrations return their
 * argument; they belong to the connection, so make them while connected, after every
 * connect (they are lost at disconnect). The status functions answer the last progress
 * posted, (event << 8) | percent, or 0 when not connected.
 *
 * A cancel asks the operation's transfer to stop at its next block; when the imager
 * sends no block for 1250 ms the transfer is broken off and the connection is marked
 * failed. That watchdog is a timer on the thread that cancelled, which must therefore
 * dispatch its messages. A cancel without a connection does nothing.
 *
 * VelOutputProgress waits up to timeoutSeconds for a WM_OPERATION_PROGRESS message in the
 * calling thread's own queue (so register that thread or one of its windows first),
 * dispatches it and returns its event code when it is 3..8; it returns -1 on timeout.
 * It works without a connection. Its first argument is not used.
 *
 * Threads: none of these take the command lock. Notifications are posted, never sent:
 * the worker threads never wait for the application.
 */
VEL_PUBLIC VelWindow VEL_API VelRegisterHostOperationProgressWindow(VelWindow window);
VEL_PUBLIC unsigned int VEL_API VelRegisterHostOperationProgressThread(unsigned int threadId);
VEL_PUBLIC VelWindow VEL_API VelRegisterTriggerProgressWindow(VelWindow window);
VEL_PUBLIC unsigned int VEL_API VelRegisterTriggerProgressThread(unsigned int threadId);
VEL_PUBLIC int VEL_API VelGetHostInitiatedOperationStatus(void);
VEL_PUBLIC int VEL_API VelGetTriggerOperationStatus(void);
VEL_PUBLIC void VEL_API VelCancelHostInitiatedOperation(void);
VEL_PUBLIC void VEL_API VelCancelTriggerOperation(void);
VEL_PUBLIC int VEL_API VelOutputProgress(int ignored, int timeoutSeconds);

/*
 * Captures and previous images, run by the host operation.
 *
 * Each sends its command and returns at once, without a result; the outcome arrives as
 * WM_OPERATION_PROGRESS (results ready 6, binary image ready 7, grey image ready 8, then
 * done 1 or aborted 2). They do nothing when not connected. VelCaptureImage asks for a
 * decode, a binary image, a grey image and imager-side compression, each when its
 * argument's low byte is non-zero (a binary image only from the SA-1110).
 * VelCaptureGreyImage captures a grey image only. The previous-image functions fetch the
 * last image again (the binary one only from the SA-1110); the Ex form asks for it
 * compressed when image compression is switched on; the windowed form passes its four
 * window values (as 16-bit values) and b (as a byte) to the imager.
 *
 * Threads: each holds the command lock while it sends, and the transfer that follows
 * holds it until the whole answer has been read, so every other exchange with the
 * imager waits for it. A trigger transfer yields to a host transfer.
 */
VEL_PUBLIC void VEL_API VelCaptureImage(int decode, int binary, int grey, int compressed);
VEL_PUBLIC void VEL_API VelCaptureGreyImage(void);
VEL_PUBLIC void VEL_API VelGetPreviousBinaryImage(void);
VEL_PUBLIC void VEL_API VelGetPreviousGreyImage(void);
VEL_PUBLIC void VEL_API VelGetPreviousGreyImageEx(void);
VEL_PUBLIC void VEL_API VelGetWindowedPreviousGreyImage(int w1, int w2, int w3, int w4, int b);

/*
 * The last images: the grey image buffer holds a bitmap file image (or, for a compressed
 * image, the JPEG stream behind a 54-byte header), the binary buffer a 1-bit bitmap file
 * image (from the SA-1110 only; the binary functions answer 0 or null otherwise).
 *
 * Sizes and dimensions come from the bitmap headers in the buffers; nothing checks that
 * an image was received. Data pointers point into the library's buffers: do not free
 * them; their contents stay until the next image replaces them. VelGetGreyImageBuffer is
 * VelGetGreyImageBitmapFileData under a second name. VelGetCurDisplayBuffer points at the
 * image that the device-context rendering last drew (null until then).
 *
 * VelGetImageStandardDeviation asks the imager for the standard deviation of its last
 * image; -1 when not connected or when no answer came. It holds the command lock.
 *
 * Threads: apart from VelGetImageStandardDeviation no lock and no exchange with the
 * imager. The operation threads write the buffers: read them after the image was
 * announced (WM_OPERATION_PROGRESS event 7 or 8), not while an operation may write a
 * new image.
 */
VEL_PUBLIC int VEL_API VelGetGreyImageWidth(void);
VEL_PUBLIC int VEL_API VelGetGreyImageHeight(void);
VEL_PUBLIC int VEL_API VelGetGreyImageDataSize(void);
VEL_PUBLIC int VEL_API VelGetGreyImageCompressedDataSize(void);
VEL_PUBLIC unsigned char* VEL_API VelGetGreyImageData(void);
VEL_PUBLIC int VEL_API VelGetGreyImageBitmapFileSize(void);
VEL_PUBLIC unsigned char* VEL_API VelGetGreyImageBitmapFileData(void);
VEL_PUBLIC unsigned char* VEL_API VelGetGreyImageBuffer(void);
VEL_PUBLIC int VEL_API VelGetBinaryImageWidth(void);
VEL_PUBLIC int VEL_API VelGetBinaryImageHeight(void);
VEL_PUBLIC int VEL_API VelGetBinaryImageDataSize(void);
VEL_PUBLIC unsigned char* VEL_API VelGetBinaryImageData(void);
VEL_PUBLIC int VEL_API VelGetBinaryImageBitmapFileSize(void);
VEL_PUBLIC unsigned char* VEL_API VelGetBinaryImageBitmapFileData(void);
VEL_PUBLIC unsigned char* VEL_API VelGetCurDisplayBuffer(void);
VEL_PUBLIC int VEL_API VelGetImageStandardDeviation(void);

/*
 * Decode results of the last operation: capture timings, the number of barcodes and, per
 * barcode index (0 .. number - 1), its type, data, corners and decode time.
 *
 * VelGetBarcodeData copies min(data size, maxLength) bytes into buffer, without a
 * terminating zero, and returns that number (0 for a barcode without data, buffer then
 * untouched); index must be in range and maxLength not negative. VelGetBarcodeName copies
 * the name of barcode type 1..22 the same way and returns 0 for any other type.
 *
 * Threads: no lock and no exchange with the imager. The operation threads replace the
 * results: read them after WM_OPERATION_PROGRESS event 6 (results ready). A cancelled
 * operation leaves the earlier results in place.
 */
VEL_PUBLIC int VEL_API VelGetImageCaptureTime(void);
VEL_PUBLIC int VEL_API VelGetAutoExposureExecutionTime(void);
VEL_PUBLIC int VEL_API VelGetImageProcessingTime(void);
VEL_PUBLIC int VEL_API VelGetNumberOfDecodedBarcodes(void);
VEL_PUBLIC int VEL_API VelGetBarcodeType(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeDataSize(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeData(int index, int maxLength, unsigned char* buffer);
VEL_PUBLIC int VEL_API VelGetBarcodeTopLeftX(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeTopLeftY(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeTopRightX(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeTopRightY(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeBottomLeftX(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeBottomLeftY(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeBottomRightX(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeBottomRightY(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeProcessingTime(int index);
VEL_PUBLIC int VEL_API VelGetBarcodeName(int type, int maxLength, char* buffer);

/*
 * Short commands to the imager: black-level calibration, terminal mode, I/O pins, sensor
 * registers, aiming LEDs, trigger, sleep and firmware erase. Arguments go to the imager
 * as their low byte.
 *
 * Results: VelCalibrateBlackLevels, VelSetDefaultBlackLevels, VelSetTerminalModeOutput,
 * VelSetIoPinConfiguration and VelSetIoPinValue return 1 on success and 0 on failure;
 * VelGetCalibrationStatus returns the imager's status plus 1 (1..256), 0 on failure;
 * VelGetIoPinValue and VelGetSensorRegister return the value read (0..255), -1 on failure;
 * VelSetSensorRegister, VelSetTargetingLedsStatus, VelSetTriggerStatusCommand and
 * VelPutDeviceToSleepCommand return 1 on success, -1 on failure. Failure includes "not
 * connected" (nothing is sent), an unknown pin, and a connection marked failed, now or
 * earlier. VelExecuteFirmwareErase returns nothing.
 *
 * VelQuitTerminalModeOutput writes directly to COM port 1..7 at baudRate, outside any
 * connection: 1 when written, -1 for another port number, a port that cannot be opened
 * (as while the library's own connection holds it), a baud rate the port does not take,
 * or a write that is not completed within a second.
 *
 * Threads: all but VelQuitTerminalModeOutput hold the command lock for the whole command,
 * so they wait while a host transfer is read and never interleave with another command;
 * a trigger transfer does not hold them up. VelQuitTerminalModeOutput takes no lock.
 */
VEL_PUBLIC int VEL_API VelCalibrateBlackLevels(int value);
VEL_PUBLIC int VEL_API VelSetDefaultBlackLevels(int value);
VEL_PUBLIC int VEL_API VelGetCalibrationStatus(void);
VEL_PUBLIC int VEL_API VelSetTerminalModeOutput(void);
VEL_PUBLIC int VEL_API VelQuitTerminalModeOutput(int port, int baudRate);
VEL_PUBLIC int VEL_API VelSetIoPinConfiguration(int pin, int configuration);
VEL_PUBLIC int VEL_API VelSetIoPinValue(int pin, int value);
VEL_PUBLIC int VEL_API VelGetIoPinValue(int pin);
VEL_PUBLIC int VEL_API VelGetSensorRegister(int reg);
VEL_PUBLIC int VEL_API VelSetSensorRegister(int reg, int value);
VEL_PUBLIC int VEL_API VelSetTargetingLedsStatus(int status);
VEL_PUBLIC int VEL_API VelSetTriggerStatusCommand(int status);
VEL_PUBLIC int VEL_API VelPutDeviceToSleepCommand(void);
VEL_PUBLIC void VEL_API VelExecuteFirmwareErase(void);

/*
 * Images into a device context and into bitmap files.
 *
 * The device-context functions return a new bitmap (a DIB section on Windows) holding the
 * grey image, the image last prepared for display (the Ex form, which also stores its
 * width and height where the pointers are not null) or the binary image, or null (also
 * for the Ex form before any grey image was prepared, and for a buffer whose headers do
 * not describe a bitmap). A compressed grey image is decompressed for display, with the
 * timestamp drawn when it is enabled. The caller owns the bitmap and deletes it.
 *
 * The savers follow one overwrite rule: with overwrite 0 an existing file is left as it
 * is and the save answers -1; otherwise the file is created or replaced. The BMP savers
 * write the buffer as it is: 1 written; -1 not created (the file exists and overwrite is
 * 0, it cannot be created, no image was received, or for the binary image when there is
 * none); -2 fewer bytes written than the image holds (the partial file stays). A
 * compressed grey image is decompressed into an 8-bit grey BMP instead: 0 written, -1
 * not.
 *
 * Threads: no command lock; the saves hold the library's image lock while they read the
 * buffers. Call them after the image was announced (WM_OPERATION_PROGRESS event 7 or 8).
 */
VEL_PUBLIC VelBitmap VEL_API VelCreateGreyImageInDeviceContext(VelDC dc);
VEL_PUBLIC VelBitmap VEL_API VelCreateGreyImageInDCEx(VelDC dc, int* width, int* height);
VEL_PUBLIC VelBitmap VEL_API VelCreateBinaryImageInDeviceContext(VelDC dc);
VEL_PUBLIC int VEL_API VelSaveGreyImageAsBmpFile(const char* path, int overwrite);
VEL_PUBLIC int VEL_API VelSaveBinaryImageAsBmpFile(const char* path, int overwrite);

/*
 * JPEG files.
 *
 * VelSaveGreyImageAsJpegFile and VelSaveBinaryImageAsJpegFile compress the image into
 * path at quality 75 (overwrite as for the BMP savers): 1 written; -1 refused or failed
 * (for the binary image also when there is none); -2 no grey image. A compressed grey
 * image is saved as its stream. VelSaveJepgImageAsJpegFile writes the JPEG stream of a
 * compressed grey image as it came from the imager, re-encoded with the timestamp drawn
 * in when the timestamp is enabled (the imager's EXIF block stays in front): 1, -1 or
 * -2 as for the BMP savers, -1 also when the grey image is not a compressed one and,
 * with the timestamp enabled, when the stream does not decode (nothing is written then).
 * VelSaveJpegImageAsBmpFile decompresses that stream into an 8-bit grey BMP file (with the
 * timestamp when enabled), replacing the file: 0 written, -1 no compressed image or
 * failed; its second argument is not used. VelExecuteCompression and
 * VelExecuteDecompression convert between files (BMP of 8 or 24 bits to a JPEG of
 * quality 75; any JPEG to an 8-bit grey BMP, or to the standard output for a null
 * bmpPath): 1 done, 0 when a file cannot be read, converted or written. Input that
 * libjpeg rejects, a stream that ends early and foreign input fail; oddities libjpeg
 * only warns of (stray bytes before a marker) do not. Nothing is printed and no partial
 * output is left.
 *
 * Threads: no command lock, the caller's thread. Conversions run in memory: no
 * temporary file is written, and the current directory need not be writable.
 */
VEL_PUBLIC int VEL_API VelSaveGreyImageAsJpegFile(const char* path, int overwrite);
VEL_PUBLIC int VEL_API VelSaveBinaryImageAsJpegFile(const char* path, int overwrite);
VEL_PUBLIC int VEL_API VelSaveJepgImageAsJpegFile(const char* path, int overwrite);
VEL_PUBLIC int VEL_API VelSaveJpegImageAsBmpFile(const char* path, int ignored);
VEL_PUBLIC int VEL_API VelExecuteCompression(const char* bmpPath, const char* jpegPath);
VEL_PUBLIC int VEL_API VelExecuteDecompression(const char* jpegPath, const char* bmpPath);

/*
 * Imager-side compression, perspective correction and timestamps (settings of the
 * configuration record, as above), and automatic saving of captured images.
 *
 * The compression and timestamp setters return the value they stored; the timestamp
 * location is 1..4 (a corner of the image), anything else stores 4.
 * VelGetCaptureTimestampStringInASCII (also named VelGetGreyImageTimestamp) and
 * VelGetAutoSaveFileFullPathName return library-owned text: the capture time of the last
 * image, and the path (without extension) the next automatic save writes to; do not
 * free them. VelExecuteAutoSaveOperation takes the time and the options anew and, when
 * automatic saving is on or both perspective corrections are, saves the grey image into
 * the image source folder (creating it) under its capture time. The settings decide the
 * file: with image compression or perspective correction enabled, the imager's JPEG
 * stream as ".jpg" (the capture time written into its EXIF block; -1 when the grey image
 * is not a compressed one); otherwise a BMP file ".bmp" as VelSaveGreyImageAsBmpFile
 * writes it (a compressed image decompressed, with the timestamp when enabled: 0). With
 * neither enabled it first draws the timestamp, when enabled, into an uncompressed grey
 * image in memory. It returns the save's result (as for the savers above), -1 when the
 * name does not fit 255 characters or no image was received, or 0 when nothing is saved.
 * A second save within the same second replaces the first. On Linux the library's own
 * names join with "/" (the default folder ".\" is "./").
 *
 * Threads: no lock. Host captures (VelCaptureImage, VelCaptureGreyImage) and the trigger
 * operation take the capture time and the options anew; the previous-image functions do
 * not. Run the automatic save after the capture was announced.
 */
VEL_PUBLIC int VEL_API VelGetImageCompressedEnabled(void);
VEL_PUBLIC int VEL_API VelSetImageCompressedEnabled(int value);
VEL_PUBLIC int VEL_API VelGetImageCompressedQuality(void);
VEL_PUBLIC int VEL_API VelSetImageCompressedQuality(int value);
VEL_PUBLIC int VEL_API VelGetPerspectiveCorrectionEnabled(void);
VEL_PUBLIC int VEL_API VelSetPerspectiveCorrectionEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTimestampEnabled(void);
VEL_PUBLIC int VEL_API VelSetTimestampEnabled(int value);
VEL_PUBLIC int VEL_API VelGetTimestampDateOnly(void);
VEL_PUBLIC int VEL_API VelSetTimestampDateOnly(int value);
VEL_PUBLIC int VEL_API VelGetTimestampDateFormat(void);
VEL_PUBLIC int VEL_API VelSetTimestampDateFormat(int value);
VEL_PUBLIC int VEL_API VelGetTimestampColor(void);
VEL_PUBLIC int VEL_API VelSetTimestampColor(int value);
VEL_PUBLIC int VEL_API VelGetTimestampLocation(void);
VEL_PUBLIC int VEL_API VelSetTimestampLocation(int value);
VEL_PUBLIC char* VEL_API VelGetCaptureTimestampStringInASCII(void);
VEL_PUBLIC char* VEL_API VelGetGreyImageTimestamp(void);
VEL_PUBLIC char* VEL_API VelGetAutoSaveFileFullPathName(void);
VEL_PUBLIC int VEL_API VelExecuteAutoSaveOperation(void);

#ifdef __cplusplus
}
#endif

#endif
