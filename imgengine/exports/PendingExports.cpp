// Exports whose parts of the library are not built yet. Each answers what its
// function answers when no imager is connected and nothing has been received.
// Functions leave this file as their parts are built.
#include "ImgEngine.h"

namespace {
char g_currentFolder[] = ".\\";
char g_emptyText[] = "";
// Windows error code of a host settings key that cannot be opened.
constexpr int kKeyMissing = 2;
}  // namespace

extern "C" {

int VEL_API VelDeviceConnect(int, int) { return -2; }
void VEL_API VelDeviceDisconnect(void) {}
int VEL_API VelGetDeviceConfiguration(void) { return 0; }
int VEL_API VelSetPermanentDeviceConfiguration(void) { return 0; }
int VEL_API VelSetTemporaryDeviceConfiguration(void) { return 0; }
int VEL_API VelSetFactoryDefaultConfiguration(void) { return 0; }
int VEL_API VelCalibrateBlackLevels(int) { return 0; }
int VEL_API VelSetDefaultBlackLevels(int) { return 0; }
int VEL_API VelGetCalibrationStatus(void) { return 0; }
int VEL_API VelSetTerminalModeOutput(void) { return 0; }
int VEL_API VelSetIoPinConfiguration(int, int) { return 0; }
int VEL_API VelSetIoPinValue(int, int) { return 0; }
int VEL_API VelGetIoPinValue(int) { return -1; }
int VEL_API VelDeviceConnectEx(int, int, int) { return -2; }
int VEL_API VelGetWindowX(void) { return 0; }
int VEL_API VelGetWindowY(void) { return 0; }
int VEL_API VelGetWindowWidth(void) { return 0; }
int VEL_API VelGetWindowHeight(void) { return 0; }
int VEL_API VelGetLog2SubsamplingFactor(void) { return 0; }
int VEL_API VelGetAutoExposureEnabled(void) { return 0; }
int VEL_API VelGetMaximumAutoExposureIlluminationLevel(void) { return 0; }
int VEL_API VelGetMaximumAutoExposureIntegrationTime(void) { return 0; }
int VEL_API VelGetMaximumAutoExposureGain(void) { return 0; }
int VEL_API VelGetIlluminationLevel(void) { return 0; }
int VEL_API VelGetIntegrationTime(void) { return 0; }
int VEL_API VelGetGain(void) { return 0; }
int VEL_API VelGetBeeperEnabled(void) { return 0; }
int VEL_API VelGetTargetingLedsEnabled(void) { return 0; }
int VEL_API VelGetNoiseLevel(void) { return 0; }
int VEL_API VelGetLowExtremeIndex(void) { return 0; }
int VEL_API VelGetHighExtremeIndex(void) { return 0; }
int VEL_API VelGetThresholdBias(void) { return 0; }
int VEL_API VelGetDefaultBackgroundColour(void) { return 0; }
int VEL_API VelGetInteriorBackgroundMode(void) { return 0; }
int VEL_API VelGetPerimeterBackgroundMode(void) { return 0; }
int VEL_API VelGetMaximumNumberBarcodesToDecode(void) { return 0; }
int VEL_API VelGetNumberBarcodesMustDecode(void) { return 0; }
int VEL_API VelGetTriggerDecodeBarcodeEnabled(void) { return 0; }
int VEL_API VelGetTriggerBinaryImageReadEnabled(void) { return 0; }
int VEL_API VelGetTriggerGrayImageReadEnabled(void) { return 0; }
int VEL_API VelGetMaximumNumberOfCapturesOnTriggerDown(void) { return 0; }
int VEL_API VelGetImageCorrectionGaussWidth(void) { return 0; }
int VEL_API VelGetImageCorrectionGaussFlatArea(void) { return 0; }
int VEL_API VelGetImageCorrectionGammaFactor(void) { return 0; }
int VEL_API VelGetPresentationModeEnabled(void) { return 0; }
int VEL_API VelGetPresentationModeCycleTime(void) { return 0; }
int VEL_API VelGetAutoExposureRegionOfInterestEnabled(void) { return 0; }
int VEL_API VelGetAutoExposureFastConvergeEnabled(void) { return 0; }
int VEL_API VelGetAutoExposureRegionOfInterestFractionalX(void) { return 0; }
int VEL_API VelGetAutoExposureRegionOfInterestFractionalY(void) { return 0; }
int VEL_API VelGetAutoExposureRegionOfInterestFractionalWidth(void) { return 0; }
int VEL_API VelGetAutoExposureRegionOfInterestFractionalHeight(void) { return 0; }
int VEL_API VelGetImageCorrectionGaussEnabled(void) { return 0; }
int VEL_API VelGetImageCorrectionGammaEnabled(void) { return 0; }
int VEL_API VelGetAztecCodeEnabled(void) { return 0; }
int VEL_API VelGetCodabarEnabled(void) { return 0; }
int VEL_API VelGetCode128Enabled(void) { return 0; }
int VEL_API VelGetCode39Enabled(void) { return 0; }
int VEL_API VelGetCode39FullAsciiEnabled(void) { return 0; }
int VEL_API VelGetCode39CheckCharacterEnabled(void) { return 0; }
int VEL_API VelGetCode39CheckCharacterStripEnabled(void) { return 0; }
int VEL_API VelGetCode93Enabled(void) { return 0; }
int VEL_API VelGetCompositeCodeEnabled(void) { return 0; }
int VEL_API VelGetDataMatrixEnabled(void) { return 0; }
int VEL_API VelGetDataMatrixInverseVideoModeEnabled(void) { return 0; }
int VEL_API VelGetDataMatrixRectangularEnabled(void) { return 0; }
int VEL_API VelGetDataMatrixSmallPhysicalSizeEnabled(void) { return 0; }
int VEL_API VelGetInterleaved2Of5Enabled(void) { return 0; }
int VEL_API VelGetInterleaved2Of5CheckCharacterEnabled(void) { return 0; }
int VEL_API VelGetInterleaved2Of5CheckCharacterStripEnabled(void) { return 0; }
int VEL_API VelGetMaxicodeEnabled(void) { return 0; }
int VEL_API VelGetMicroPDF417Enabled(void) { return 0; }
int VEL_API VelGetPostalAustraliaEnabled(void) { return 0; }
int VEL_API VelGetPostalJapanEnabled(void) { return 0; }
int VEL_API VelGetPostalKoreaEnabled(void) { return 0; }
int VEL_API VelGetPostalPlanetEnabled(void) { return 0; }
int VEL_API VelGetPostalPostnetEnabled(void) { return 0; }
int VEL_API VelGetPostalRoyalMailEnabled(void) { return 0; }
int VEL_API VelGetPDF417Enabled(void) { return 0; }
int VEL_API VelGetQRCodeEnabled(void) { return 0; }
int VEL_API VelGetQRCodeInverseVideoModeEnabled(void) { return 0; }
int VEL_API VelGetRSSCodeEnabled(void) { return 0; }
int VEL_API VelGetUPCAEnabled(void) { return 0; }
int VEL_API VelGetUPCASupplements2Enabled(void) { return 0; }
int VEL_API VelGetUPCASupplements5Enabled(void) { return 0; }
int VEL_API VelGetUPCEEnabled(void) { return 0; }
int VEL_API VelGetUPCESupplements2Enabled(void) { return 0; }
int VEL_API VelGetUPCESupplements5Enabled(void) { return 0; }
int VEL_API VelGetUPCASupplementsMandatory(void) { return 0; }
int VEL_API VelGetUPCESupplementsMandatory(void) { return 0; }
int VEL_API VelGetImageCorrectionNoiseFilterEnabled(void) { return 0; }
int VEL_API VelGetImageCorrectionNoiseFilterPass1Threshold(void) { return 0; }
int VEL_API VelGetImageCorrectionNoiseFilterPass2Threshold(void) { return 0; }
int VEL_API VelGetAll1dCodesStrongRecoveryEnabled(void) { return 0; }
int VEL_API VelSetWindowX(int) { return 0; }
int VEL_API VelSetWindowY(int) { return 0; }
int VEL_API VelSetWindowWidth(int) { return 0; }
int VEL_API VelSetWindowHeight(int) { return 0; }
int VEL_API VelSetLog2SubsamplingFactor(int) { return 0; }
int VEL_API VelSetAutoExposureEnabled(int) { return 0; }
int VEL_API VelSetMaximumAutoExposureIlluminationLevel(int) { return 0; }
int VEL_API VelSetMaximumAutoExposureIntegrationTime(int) { return 0; }
int VEL_API VelSetMaximumAutoExposureGain(int) { return 0; }
int VEL_API VelSetIlluminationLevel(int) { return 0; }
int VEL_API VelSetIntegrationTime(int) { return 0; }
int VEL_API VelSetGain(int) { return 0; }
int VEL_API VelSetBeeperEnabled(int) { return 0; }
int VEL_API VelSetTargetingLedsEnabled(int) { return 0; }
int VEL_API VelSetNoiseLevel(int) { return 0; }
int VEL_API VelSetLowExtremeIndex(int) { return 0; }
int VEL_API VelSetHighExtremeIndex(int) { return 0; }
int VEL_API VelSetThresholdBias(int) { return 0; }
int VEL_API VelSetDefaultBackgroundColour(int) { return 0; }
int VEL_API VelSetInteriorBackgroundMode(int) { return 0; }
int VEL_API VelSetPerimeterBackgroundMode(int) { return 0; }
int VEL_API VelSetMaximumNumberBarcodesToDecode(int) { return 0; }
int VEL_API VelSetNumberBarcodesMustDecode(int) { return 0; }
int VEL_API VelSetTriggerDecodeBarcodeEnabled(int) { return 0; }
int VEL_API VelSetTriggerBinaryImageReadEnabled(int) { return 0; }
int VEL_API VelSetTriggerGrayImageReadEnabled(int) { return 0; }
int VEL_API VelSetMaximumNumberOfCapturesOnTriggerDown(int) { return 0; }
int VEL_API VelSetGaussCorrectionFlatArea(int) { return 0; }
int VEL_API VelSetGaussCorrectionWidth(int) { return 0; }
int VEL_API VelSetImageCorrectionGammaFactor(int) { return 0; }
int VEL_API VelSetPresentationModeEnabled(int) { return 0; }
int VEL_API VelSetPresentationModeCycleTime(int) { return 0; }
int VEL_API VelSetAutoExposureRegionOfInterestEnabled(int) { return 0; }
int VEL_API VelSetAutoExposureFastConvergeEnabled(int) { return 0; }
int VEL_API VelSetAutoExposureRegionOfInterestFractionalX(int) { return 0; }
int VEL_API VelSetAutoExposureRegionOfInterestFractionalY(int) { return 0; }
int VEL_API VelSetAutoExposureRegionOfInterestFractionalWidth(int) { return 0; }
int VEL_API VelSetAutoExposureRegionOfInterestFractionalHeight(int) { return 0; }
int VEL_API VelSetImageCorrectionGaussEnabled(int) { return 0; }
int VEL_API VelSetImageCorrectionGammaEnabled(int) { return 0; }
int VEL_API VelSetAztecCodeEnabled(int) { return 0; }
int VEL_API VelSetCodabarEnabled(int) { return 0; }
int VEL_API VelSetCode128Enabled(int) { return 0; }
int VEL_API VelSetCode39Enabled(int) { return 0; }
int VEL_API VelSetCode39FullAsciiEnabled(int) { return 0; }
int VEL_API VelSetCode39CheckCharacterEnabled(int) { return 0; }
int VEL_API VelSetCode39CheckCharacterStripEnabled(int) { return 0; }
int VEL_API VelSetCode93Enabled(int) { return 0; }
int VEL_API VelSetCompositeCodeEnabled(int) { return 0; }
int VEL_API VelSetDataMatrixEnabled(int) { return 0; }
int VEL_API VelSetDataMatrixInverseVideoModeEnabled(int) { return 0; }
int VEL_API VelSetDataMatrixRectangularEnabled(int) { return 0; }
int VEL_API VelSetDataMatrixSmallPhysicalSizeEnabled(int) { return 0; }
int VEL_API VelSetInterleaved2Of5Enabled(int) { return 0; }
int VEL_API VelSetInterleaved2Of5CheckCharacterEnabled(int) { return 0; }
int VEL_API VelSetInterleaved2Of5CheckCharacterStripEnabled(int) { return 0; }
int VEL_API VelSetMaxicodeEnabled(int) { return 0; }
int VEL_API VelSetMicroPDF417Enabled(int) { return 0; }
int VEL_API VelSetPostalAustraliaEnabled(int) { return 0; }
int VEL_API VelSetPostalJapanEnabled(int) { return 0; }
int VEL_API VelSetPostalKoreaEnabled(int) { return 0; }
int VEL_API VelSetPostalPlanetEnabled(int) { return 0; }
int VEL_API VelSetPostalPostnetEnabled(int) { return 0; }
int VEL_API VelSetPostalRoyalMailEnabled(int) { return 0; }
int VEL_API VelSetPDF417Enabled(int) { return 0; }
int VEL_API VelSetQRCodeEnabled(int) { return 0; }
int VEL_API VelSetQRCodeInverseVideoModeEnabled(int) { return 0; }
int VEL_API VelSetRSSCodeEnabled(int) { return 0; }
int VEL_API VelSetUPCAEnabled(int) { return 0; }
int VEL_API VelSetUPCASupplements2Enabled(int) { return 0; }
int VEL_API VelSetUPCASupplements5Enabled(int) { return 0; }
int VEL_API VelSetUPCEEnabled(int) { return 0; }
int VEL_API VelSetUPCESupplements2Enabled(int) { return 0; }
int VEL_API VelSetUPCESupplements5Enabled(int) { return 0; }
int VEL_API VelSetUPCASupplementsMandatory(int) { return 0; }
int VEL_API VelSetUPCESupplementsMandatory(int) { return 0; }
int VEL_API VelSetImageCorrectionNoiseFilterEnabled(int) { return 0; }
int VEL_API VelSetImageCorrectionNoiseFilterPass1Threshold(int) { return 0; }
int VEL_API VelSetImageCorrectionNoiseFilterPass2Threshold(int) { return 0; }
int VEL_API VelSetAll1dCodesStrongRecoveryEnabled(int) { return 0; }
void VEL_API VelCancelTriggerOperation(void) {}
void VEL_API VelCancelHostInitiatedOperation(void) {}
int VEL_API VelGetTriggerOperationStatus(void) { return 0; }
int VEL_API VelGetHostInitiatedOperationStatus(void) { return 0; }
VelWindow VEL_API VelRegisterTriggerProgressWindow(VelWindow window) { return window; }
unsigned int VEL_API VelRegisterTriggerProgressThread(unsigned int threadId) { return threadId; }
VelWindow VEL_API VelRegisterHostOperationProgressWindow(VelWindow window) { return window; }
unsigned int VEL_API VelRegisterHostOperationProgressThread(unsigned int threadId) { return threadId; }
void VEL_API VelCaptureImage(int, int, int, int) {}
void VEL_API VelGetPreviousBinaryImage(void) {}
void VEL_API VelGetPreviousGreyImage(void) {}
void VEL_API VelCaptureGreyImage(void) {}
int VEL_API VelGetAdaptiveWindowModeEnabled(void) { return 0; }
int VEL_API VelSetAdaptiveWindowModeEnabled(int) { return 0; }
int VEL_API VelGetImageRotationDegrees(void) { return 0; }
int VEL_API VelSetImageRotationDegrees(int) { return 0; }
int VEL_API VelGetImageSoftwareSubsamplingFactor(void) { return 0; }
int VEL_API VelSetImageSoftwareSubsamplingFactor(int) { return 0; }
int VEL_API VelGetTriggerCameraModeEnabled(void) { return 0; }
int VEL_API VelSetTriggerCameraModeEnabled(int) { return 0; }
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
void VEL_API SetCommunicationError(void) {}
VelBitmap VEL_API VelCreateGreyImageInDCEx(VelDC, int*, int*) { return nullptr; }
int VEL_API VelGetImageCaptureTime(void) { return 0; }
int VEL_API VelGetAutoExposureExecutionTime(void) { return 0; }
int VEL_API VelGetImageProcessingTime(void) { return 0; }
int VEL_API VelGetNumberOfDecodedBarcodes(void) { return 0; }
int VEL_API VelGetBarcodeType(int) { return 0; }
int VEL_API VelGetBarcodeDataSize(int) { return 0; }
int VEL_API VelGetBarcodeData(int, int, unsigned char*) { return 0; }
int VEL_API VelGetBarcodeTopLeftX(int) { return 0; }
int VEL_API VelGetBarcodeTopLeftY(int) { return 0; }
int VEL_API VelGetBarcodeTopRightX(int) { return 0; }
int VEL_API VelGetBarcodeTopRightY(int) { return 0; }
int VEL_API VelGetBarcodeBottomLeftX(int) { return 0; }
int VEL_API VelGetBarcodeBottomLeftY(int) { return 0; }
int VEL_API VelGetBarcodeBottomRightX(int) { return 0; }
int VEL_API VelGetBarcodeBottomRightY(int) { return 0; }
int VEL_API VelGetBarcodeProcessingTime(int) { return 0; }
int VEL_API VelGetBarcodeName(int, int, char*) { return 0; }
unsigned char* VEL_API VelGetCurDisplayBuffer(void) { return nullptr; }
int VEL_API VelGetCommunicationStatus(void) { return -4; }
int VEL_API VelQuitTerminalModeOutput(int, int) { return -1; }
int VEL_API VelGetPostalKixEnabled(void) { return 0; }
int VEL_API VelGetPostalCanadaEnabled(void) { return 0; }
int VEL_API VelSetPostalKixEnabled(int) { return 0; }
int VEL_API VelSetPostalCanadaEnabled(int) { return 0; }
int VEL_API VelGetMaximumIntegrationTime(void) { return 65535; }
int VEL_API VelGetPerspectiveDisplay(void) { return 0; }
int VEL_API VelGetOrderByTypeEnabled(void) { return 0; }
int VEL_API VelGetEnforceOrderByTypeEnabled(void) { return 0; }
int VEL_API VelGetOrderBySizeEnabled(void) { return 0; }
int VEL_API VelGetOrderBySizeAscendentEnabled(void) { return 0; }
int VEL_API VelGetSingleTargettedBarcodeEnabled(void) { return 0; }
int VEL_API VelGetPrefixSuffixEnabled(void) { return 0; }
int VEL_API VelGetBarcodeTypeOrderList(unsigned char*) { return 0; }
int VEL_API VelGetPrefixBarcodeList(int, unsigned char*) { return 0; }
int VEL_API VelGetSuffixBarcodeList(int, unsigned char*) { return 0; }
void VEL_API VelGetPreviousGreyImageEx(void) {}
int VEL_API VelSetOrderByTypeEnabled(int) { return 0; }
int VEL_API VelSetEnforceOrderByTypeEnabled(int) { return 0; }
int VEL_API VelSetOrderBySizeEnabled(int) { return 0; }
int VEL_API VelSetOrderBySizeAscendentEnabled(int) { return 0; }
int VEL_API VelSetSingleTargettedBarcodeEnabled(int) { return 0; }
int VEL_API VelSetPrefixSuffixEnabled(int) { return 0; }
int VEL_API VelSetBarcodeTypeOrderList(int, const unsigned char*) { return 0; }
int VEL_API VelSetPrefixBarcodeList(int, unsigned int, const unsigned char*) { return 0; }
int VEL_API VelSetSuffixBarcodeList(int, unsigned int, const unsigned char*) { return 0; }
int VEL_API VelGetTimestampColor(void) { return 0; }
int VEL_API VelGetIntegrationTimeInMicroSeconds(void) { return 0; }
int VEL_API VelGetTimestampDateFormat(void) { return 0; }
int VEL_API VelSetIntegrationTimeInMicroSeconds(int) { return 0; }
int VEL_API VelGetMaximumAutoExposureIntegrationTimeInMicroSeconds(void) { return 0; }
int VEL_API VelSetMaximumAutoExposureIntegrationTimeInMicroSeconds(int) { return 0; }
int VEL_API VelGetTimestampDateOnly(void) { return 0; }
int VEL_API VelGetTimestampEnabled(void) { return 0; }
int VEL_API VelGetTimestampLocation(void) { return 0; }
int VEL_API VelGetDecoderTimeoutInMilliSeconds(void) { return 0; }
int VEL_API VelSetDecoderTimeoutInMilliSeconds(int) { return 0; }
int VEL_API VelGetConstantIlluminationModeEnabled(void) { return 0; }
int VEL_API VelSetConstantIlluminationModeEnabled(int) { return 0; }
int VEL_API VelGetImageCorrectionHistogramEnabled(void) { return 0; }
int VEL_API VelSetImageCorrectionHistogramEnabled(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionAutomatic(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionAutomatic(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionUsesBounds(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionUsesBounds(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionUsesBrightnessContrast(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionUsesBrightnessContrast(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionLowBound(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionLowBound(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionHighBound(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionHighBound(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionBrightness(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionBrightness(int) { return 0; }
int VEL_API VelGetImageHistogramCorrectionContrast(void) { return 0; }
int VEL_API VelSetImageHistogramCorrectionContrast(int) { return 0; }
int VEL_API VelGetSensorRegister(int) { return -1; }
int VEL_API VelSetSensorRegister(int, int) { return -1; }
void VEL_API VelGetWindowedPreviousGreyImage(int, int, int, int, int) {}
int VEL_API VelSetTargetingLedsStatus(int) { return -1; }
void VEL_API VelExecuteFirmwareErase(void) {}
int VEL_API VelSetTriggerStatusCommand(int) { return -1; }
int VEL_API VelPutDeviceToSleepCommand(void) { return -1; }
int VEL_API VelGetAutoExposureBuiltInSensorEnabled(void) { return 0; }
int VEL_API VelSetAutoExposureBuiltInSensorEnabled(int) { return 0; }
int VEL_API VelGetImageCorrectionSharpenImageEnabled(void) { return 0; }
int VEL_API VelSetImageCorrectionSharpenImageEnabled(int) { return 0; }
int VEL_API VelGetImageCorrectionSharpenImageWeight(void) { return 0; }
int VEL_API VelSetImageCorrectionSharpenImageWeight(int) { return 0; }
int VEL_API VelGetImageCorrectionColorHsvAdjustmentEnabled(void) { return 0; }
int VEL_API VelSetImageCorrectionColorHsvAdjustmentEnabled(int) { return 0; }
int VEL_API VelGetImageCorrectionColorHue(void) { return 0; }
int VEL_API VelSetImageCorrectionColorHue(int) { return 0; }
int VEL_API VelGetImageCorrectionColorSaturation(void) { return 0; }
int VEL_API VelSetImageCorrectionColorSaturation(int) { return 0; }
int VEL_API VelGetImageCorrectionColorValue(void) { return 0; }
int VEL_API VelSetImageCorrectionColorValue(int) { return 0; }
int VEL_API VelGetImageStandardDeviation(void) { return -1; }
int VEL_API VelLoadAndDeployConfigurations(const char*) { return 0; }
int VEL_API VelGetPerspectiveCorrectionEnabled(void) { return 0; }
int VEL_API VelSetPerspectiveCorrectionEnabled(int) { return 0; }
int VEL_API VelGetHostPerspectiveCorrectionEnabled(void) { return 0; }
int VEL_API VelSetHostPerspectiveCorrectionEnabled(int) { return kKeyMissing; }
int VEL_API VelOutputProgress(int, int) { return -1; }
int VEL_API VelGetImageCompressedEnabled(void) { return 0; }
int VEL_API VelSetImageCompressedEnabled(int) { return 0; }
int VEL_API VelGetImageCompressedQuality(void) { return 0; }
int VEL_API VelSetImageCompressedQuality(int) { return 0; }
int VEL_API VelGetAutoSaveEnabled(void) { return 0; }
int VEL_API VelSetAutoSaveEnabled(int) { return kKeyMissing; }
char* VEL_API VelGetImageSourceFolder(void) { return g_currentFolder; }
int VEL_API VelSetImageSourceFolder(const char*, int) { return 0; }
int VEL_API VelSaveJpegImageAsBmpFile(const char*, int) { return 0; }
int VEL_API VelGetGreyImageCompressedDataSize(void) { return 0; }
int VEL_API VelSavePreMovieSettings(void) { return 0; }
int VEL_API VelRestorePreMovieSettings(void) { return 0; }
int VEL_API VelExecuteAutoSaveOperation(void) { return 0; }
char* VEL_API VelGetCaptureTimestampStringInASCII(void) { return g_emptyText; }
char* VEL_API VelGetAutoSaveFileFullPathName(void) { return g_emptyText; }
int VEL_API VelExecuteDecompression(const char*, const char*) { return 0; }
int VEL_API VelExecuteCompression(const char*, const char*) { return 0; }
int VEL_API VelSaveCurrentConfigurations(const char*) { return 0; }
int VEL_API VelSaveJepgImageAsJpegFile(const char*, int) { return -1; }
int VEL_API VelSetPerspectiveDisplay(int) { return kKeyMissing; }
int VEL_API VelSetTimestampColor(int) { return 0; }
int VEL_API VelSetTimestampDateFormat(int) { return 0; }
int VEL_API VelSetTimestampDateOnly(int) { return 0; }
int VEL_API VelSetTimestampEnabled(int) { return 0; }
int VEL_API VelSetTimestampLocation(int) { return 0; }

}  // extern "C"
