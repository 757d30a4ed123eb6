// The families of settings getters and setters that behave alike, as lists of
// names: the library defines the functions from them, and tools group the settings
// by them.
#pragma once

// Family 1: plain values. Getters widen (sign-extending the signed fields), setters
// store the low bits that fit the field.
#define VEL_VALUE_SETTINGS(X)                                                                                   \
  X(VelGetWindowY, VelSetWindowY, windowY)                                                                      \
  X(VelGetIntegrationTime, VelSetIntegrationTime, integrationTime)                                              \
  X(VelGetGain, VelSetGain, gain)                                                                               \
  X(VelGetIlluminationLevel, VelSetIlluminationLevel, illuminationSetting)                                      \
  X(VelGetNoiseLevel, VelSetNoiseLevel, noiseLevel)                                                             \
  X(VelGetLowExtremeIndex, VelSetLowExtremeIndex, lowExtremeIndex)                                              \
  X(VelGetHighExtremeIndex, VelSetHighExtremeIndex, highExtremeIndex)                                           \
  X(VelGetThresholdBias, VelSetThresholdBias, thresholdBias)                                                    \
  X(VelGetAutoExposureRegionOfInterestFractionalX, VelSetAutoExposureRegionOfInterestFractionalX, aeRegionX)    \
  X(VelGetAutoExposureRegionOfInterestFractionalY, VelSetAutoExposureRegionOfInterestFractionalY, aeRegionY)    \
  X(VelGetAutoExposureRegionOfInterestFractionalWidth, VelSetAutoExposureRegionOfInterestFractionalWidth,       \
    aeRegionWidth)                                                                                              \
  X(VelGetAutoExposureRegionOfInterestFractionalHeight, VelSetAutoExposureRegionOfInterestFractionalHeight,     \
    aeRegionHeight)                                                                                             \
  X(VelGetMaximumAutoExposureIlluminationLevel, VelSetMaximumAutoExposureIlluminationLevel,                     \
    maximumAutoExposureIlluminationLevel)                                                                       \
  X(VelGetMaximumAutoExposureIntegrationTime, VelSetMaximumAutoExposureIntegrationTime,                         \
    maximumAutoExposureIntegrationTime)                                                                         \
  X(VelGetMaximumAutoExposureGain, VelSetMaximumAutoExposureGain, maximumAutoExposureGain)                      \
  X(VelGetMaximumNumberBarcodesToDecode, VelSetMaximumNumberBarcodesToDecode, maxNumberOfBarcodes)              \
  X(VelGetNumberBarcodesMustDecode, VelSetNumberBarcodesMustDecode, numberOfBarcodesMustDecode)                 \
  X(VelGetDecoderTimeoutInMilliSeconds, VelSetDecoderTimeoutInMilliSeconds, decoderTimeout)                     \
  X(VelGetMaximumNumberOfCapturesOnTriggerDown, VelSetMaximumNumberOfCapturesOnTriggerDown,                     \
    maxNumberOfCapturesOnTriggerDown)                                                                           \
  X(VelGetImageCorrectionGaussWidth, VelSetGaussCorrectionWidth, gaussWidth)                                    \
  X(VelGetImageCorrectionGaussFlatArea, VelSetGaussCorrectionFlatArea, gaussFlatArea)                           \
  X(VelGetImageCorrectionGammaFactor, VelSetImageCorrectionGammaFactor, gammaFactor)                            \
  X(VelGetImageCorrectionNoiseFilterPass1Threshold, VelSetImageCorrectionNoiseFilterPass1Threshold,             \
    noiseFilterPass1Threshold)                                                                                  \
  X(VelGetImageCorrectionNoiseFilterPass2Threshold, VelSetImageCorrectionNoiseFilterPass2Threshold,             \
    noiseFilterPass2Threshold)                                                                                  \
  X(VelGetImageHistogramCorrectionLowBound, VelSetImageHistogramCorrectionLowBound, histogramLowBound)          \
  X(VelGetImageHistogramCorrectionHighBound, VelSetImageHistogramCorrectionHighBound, histogramHighBound)       \
  X(VelGetImageHistogramCorrectionBrightness, VelSetImageHistogramCorrectionBrightness, histogramBrightness)    \
  X(VelGetImageHistogramCorrectionContrast, VelSetImageHistogramCorrectionContrast, histogramContrast)          \
  X(VelGetImageCorrectionColorHue, VelSetImageCorrectionColorHue, hsvHueAdjust)                                 \
  X(VelGetImageCorrectionColorSaturation, VelSetImageCorrectionColorSaturation, hsvSaturationAdjust)            \
  X(VelGetImageCorrectionColorValue, VelSetImageCorrectionColorValue, hsvValueAdjust)                           \
  X(VelGetPresentationModeCycleTime, VelSetPresentationModeCycleTime, presentationModeCycleTime)

// Family 2: OptionFlags switches.
#define VEL_OPTION_SWITCHES(X)                                                                          \
  X(VelGetDefaultBackgroundColour, VelSetDefaultBackgroundColour, 0, WholeInt)                          \
  X(VelGetInteriorBackgroundMode, VelSetInteriorBackgroundMode, 1, WholeInt)                            \
  X(VelGetPerimeterBackgroundMode, VelSetPerimeterBackgroundMode, 2, WholeInt)                          \
  X(VelGetTriggerDecodeBarcodeEnabled, VelSetTriggerDecodeBarcodeEnabled, 3, LowByte)                   \
  X(VelGetTriggerBinaryImageReadEnabled, VelSetTriggerBinaryImageReadEnabled, 4, Sa1110Only)            \
  X(VelGetTriggerGrayImageReadEnabled, VelSetTriggerGrayImageReadEnabled, 5, LowByte)                   \
  X(VelGetBeeperEnabled, VelSetBeeperEnabled, 6, LowByte)                                               \
  X(VelGetConstantIlluminationModeEnabled, VelSetConstantIlluminationModeEnabled, 7, LowByte)           \
  X(VelGetTargetingLedsEnabled, VelSetTargetingLedsEnabled, 8, LowByte)                                 \
  X(VelGetPresentationModeEnabled, VelSetPresentationModeEnabled, 9, LowByte)                           \
  X(VelGetAutoExposureEnabled, VelSetAutoExposureEnabled, 10, LowByte)                                  \
  X(VelGetAutoExposureRegionOfInterestEnabled, VelSetAutoExposureRegionOfInterestEnabled, 11, LowByte)  \
  X(VelGetAutoExposureFastConvergeEnabled, VelSetAutoExposureFastConvergeEnabled, 12, LowByte)          \
  X(VelGetAdaptiveWindowModeEnabled, VelSetAdaptiveWindowModeEnabled, 13, LowByte)                      \
  X(VelGetTriggerCameraModeEnabled, VelSetTriggerCameraModeEnabled, 14, LowByte)                        \
  X(VelGetAutoExposureBuiltInSensorEnabled, VelSetAutoExposureBuiltInSensorEnabled, 15, ColourOnly)

// Family 3: ImageCorrectionFlags switches.
#define VEL_CORRECTION_SWITCHES(X)                                                                                 \
  X(VelGetImageCorrectionGaussEnabled, VelSetImageCorrectionGaussEnabled, 0, LowByte)                              \
  X(VelGetImageCorrectionGammaEnabled, VelSetImageCorrectionGammaEnabled, 1, LowByte)                              \
  X(VelGetImageCorrectionHistogramEnabled, VelSetImageCorrectionHistogramEnabled, 2, LowByte)                      \
  X(VelGetImageCorrectionNoiseFilterEnabled, VelSetImageCorrectionNoiseFilterEnabled, 3, NotColour)                \
  X(VelGetImageCorrectionSharpenImageEnabled, VelSetImageCorrectionSharpenImageEnabled, 4, NotColour)              \
  X(VelGetImageCorrectionColorHsvAdjustmentEnabled, VelSetImageCorrectionColorHsvAdjustmentEnabled, 5, ColourOnly)

// Family 4: the histogram mode as a three-way selector.
#define VEL_HISTOGRAM_MODES(X)                                                                                   \
  X(VelGetImageHistogramCorrectionAutomatic, VelSetImageHistogramCorrectionAutomatic, 1)                         \
  X(VelGetImageHistogramCorrectionUsesBounds, VelSetImageHistogramCorrectionUsesBounds, 2)                       \
  X(VelGetImageHistogramCorrectionUsesBrightnessContrast, VelSetImageHistogramCorrectionUsesBrightnessContrast, 3)

// Family 5: symbology enables (64 bits).
#define VEL_SYMBOLOGY_SWITCHES(X)                                                                       \
  X(VelGetAztecCodeEnabled, VelSetAztecCodeEnabled, 0)                                                  \
  X(VelGetCodabarEnabled, VelSetCodabarEnabled, 1)                                                      \
  X(VelGetCode128Enabled, VelSetCode128Enabled, 2)                                                      \
  X(VelGetCode39Enabled, VelSetCode39Enabled, 3)                                                        \
  X(VelGetCode39FullAsciiEnabled, VelSetCode39FullAsciiEnabled, 4)                                      \
  X(VelGetCode39CheckCharacterEnabled, VelSetCode39CheckCharacterEnabled, 5)                            \
  X(VelGetCode39CheckCharacterStripEnabled, VelSetCode39CheckCharacterStripEnabled, 6)                  \
  X(VelGetCode93Enabled, VelSetCode93Enabled, 7)                                                        \
  X(VelGetCompositeCodeEnabled, VelSetCompositeCodeEnabled, 8)                                          \
  X(VelGetDataMatrixEnabled, VelSetDataMatrixEnabled, 9)                                                \
  X(VelGetDataMatrixInverseVideoModeEnabled, VelSetDataMatrixInverseVideoModeEnabled, 10)               \
  X(VelGetDataMatrixRectangularEnabled, VelSetDataMatrixRectangularEnabled, 11)                         \
  X(VelGetDataMatrixSmallPhysicalSizeEnabled, VelSetDataMatrixSmallPhysicalSizeEnabled, 12)             \
  X(VelGetInterleaved2Of5Enabled, VelSetInterleaved2Of5Enabled, 13)                                     \
  X(VelGetInterleaved2Of5CheckCharacterEnabled, VelSetInterleaved2Of5CheckCharacterEnabled, 14)         \
  X(VelGetInterleaved2Of5CheckCharacterStripEnabled, VelSetInterleaved2Of5CheckCharacterStripEnabled, 15) \
  X(VelGetMaxicodeEnabled, VelSetMaxicodeEnabled, 16)                                                   \
  X(VelGetMicroPDF417Enabled, VelSetMicroPDF417Enabled, 17)                                             \
  X(VelGetPostalAustraliaEnabled, VelSetPostalAustraliaEnabled, 18)                                     \
  X(VelGetPostalJapanEnabled, VelSetPostalJapanEnabled, 19)                                             \
  X(VelGetPostalKoreaEnabled, VelSetPostalKoreaEnabled, 20)                                             \
  X(VelGetPostalPlanetEnabled, VelSetPostalPlanetEnabled, 21)                                           \
  X(VelGetPostalPostnetEnabled, VelSetPostalPostnetEnabled, 22)                                         \
  X(VelGetPostalRoyalMailEnabled, VelSetPostalRoyalMailEnabled, 23)                                     \
  X(VelGetPDF417Enabled, VelSetPDF417Enabled, 24)                                                       \
  X(VelGetQRCodeEnabled, VelSetQRCodeEnabled, 25)                                                       \
  X(VelGetQRCodeInverseVideoModeEnabled, VelSetQRCodeInverseVideoModeEnabled, 26)                       \
  X(VelGetRSSCodeEnabled, VelSetRSSCodeEnabled, 27)                                                     \
  X(VelGetUPCAEnabled, VelSetUPCAEnabled, 28)                                                           \
  X(VelGetUPCASupplements2Enabled, VelSetUPCASupplements2Enabled, 29)                                   \
  X(VelGetUPCASupplements5Enabled, VelSetUPCASupplements5Enabled, 30)                                   \
  X(VelGetUPCEEnabled, VelSetUPCEEnabled, 31)                                                           \
  X(VelGetUPCESupplements2Enabled, VelSetUPCESupplements2Enabled, 32)                                   \
  X(VelGetUPCESupplements5Enabled, VelSetUPCESupplements5Enabled, 33)                                   \
  X(VelGetUPCASupplementsMandatory, VelSetUPCASupplementsMandatory, 34)                                 \
  X(VelGetUPCESupplementsMandatory, VelSetUPCESupplementsMandatory, 35)                                 \
  X(VelGetPostalKixEnabled, VelSetPostalKixEnabled, 37)                                                 \
  X(VelGetPostalCanadaEnabled, VelSetPostalCanadaEnabled, 38)                                           \
  X(VelGetAll1dCodesStrongRecoveryEnabled, VelSetAll1dCodesStrongRecoveryEnabled, 63)

// Family 6: result ordering switches.
#define VEL_ORDERING_SWITCHES(X)                                                         \
  X(VelGetOrderByTypeEnabled, VelSetOrderByTypeEnabled, 0)                               \
  X(VelGetEnforceOrderByTypeEnabled, VelSetEnforceOrderByTypeEnabled, 1)                 \
  X(VelGetOrderBySizeEnabled, VelSetOrderBySizeEnabled, 2)                               \
  X(VelGetOrderBySizeAscendentEnabled, VelSetOrderBySizeAscendentEnabled, 3)             \
  X(VelGetSingleTargettedBarcodeEnabled, VelSetSingleTargettedBarcodeEnabled, 4)         \
  X(VelGetPrefixSuffixEnabled, VelSetPrefixSuffixEnabled, 5)
