// Exports whose parts of the library are not built yet. Each answers what its
// function answers when no imager is connected and nothing has been received.
// Functions leave this file as their parts are built.
#include "ImgEngine.h"

extern "C" {

int VEL_API VelCalibrateBlackLevels(int) { return 0; }
int VEL_API VelSetDefaultBlackLevels(int) { return 0; }
int VEL_API VelGetCalibrationStatus(void) { return 0; }
int VEL_API VelSetTerminalModeOutput(void) { return 0; }
int VEL_API VelSetIoPinConfiguration(int, int) { return 0; }
int VEL_API VelSetIoPinValue(int, int) { return 0; }
int VEL_API VelGetIoPinValue(int) { return -1; }
int VEL_API VelQuitTerminalModeOutput(int, int) { return -1; }
int VEL_API VelGetSensorRegister(int) { return -1; }
int VEL_API VelSetSensorRegister(int, int) { return -1; }
int VEL_API VelSetTargetingLedsStatus(int) { return -1; }
void VEL_API VelExecuteFirmwareErase(void) {}
int VEL_API VelSetTriggerStatusCommand(int) { return -1; }
int VEL_API VelPutDeviceToSleepCommand(void) { return -1; }
int VEL_API VelLoadAndDeployConfigurations(const char*) { return 0; }
int VEL_API VelSaveCurrentConfigurations(const char*) { return 0; }

}  // extern "C"
