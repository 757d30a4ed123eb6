// Short service commands: black levels, calibration status, terminal mode, I/O
// pins, sensor registers, targeting LEDs, firmware erase, trigger status and
// sleep. Each is one request, and at most a one-byte answer, on the command
// channel under the command lock; arguments go as their low byte. The terminal
// mode quit writes to a COM port of its own, outside any connection.
#include <cstdint>

#include "ImgEngine.h"
#include "core/CommandCall.h"
#include "transport/TerminalModeQuit.h"
#include "api/TracedCall.h"

namespace {

using vel::DeviceConnection;
using vel::runCommand;
using vel::api::traced;
using vel::api::tracedVoid;

uint8_t low(int value) { return static_cast<uint8_t>(value); }

// The pin index sent for an I/O pin identifier; -1 for an identifier without a pin.
int pinIndex(int pin) {
  switch (pin) {
    case 16: return 0;
    case 17: return 1;
    case 18: return 2;
    case 19: return 3;
    case 24: return 4;
    default: return -1;
  }
}

}  // namespace

extern "C" {

int VEL_API VelCalibrateBlackLevels(int value) {
  return traced(__func__, runCommand(0, [value](DeviceConnection& c) { return c.calibrateBlackLevels(low(value)) ? 1 : 0; }), value);
}

int VEL_API VelSetDefaultBlackLevels(int value) {
  return traced(__func__, runCommand(0, [value](DeviceConnection& c) { return c.setDefaultBlackLevels(low(value)) ? 1 : 0; }), value);
}

int VEL_API VelGetCalibrationStatus(void) {
  return traced(
      __func__, runCommand(0, [](DeviceConnection& c) {
        uint8_t status = 0;
        return c.getCalibrationStatus(status) ? status + 1 : 0;
      }));
}

int VEL_API VelSetTerminalModeOutput(void) {
  return traced(__func__, runCommand(0, [](DeviceConnection& c) { return c.setTerminalModeOutput() ? 1 : 0; }));
}

// The configuration byte sent is 1 when the low byte of configuration is 0, else 0.
int VEL_API VelSetIoPinConfiguration(int pin, int configuration) {
  const int index = pinIndex(pin);
  if (index < 0) return 0;
  const uint8_t sent = low(configuration) == 0 ? 1 : 0;
  return traced(
      __func__, runCommand(0, [index, sent](DeviceConnection& c) {
        return c.setIoPinConfiguration(static_cast<uint8_t>(index), sent) ? 1 : 0;
      }),
      pin, configuration);
}

int VEL_API VelSetIoPinValue(int pin, int value) {
  const int index = pinIndex(pin);
  if (index < 0) return 0;
  return traced(
      __func__, runCommand(0, [index, value](DeviceConnection& c) {
        return c.setIoPinValue(static_cast<uint8_t>(index), low(value)) ? 1 : 0;
      }),
      pin, value);
}

int VEL_API VelGetIoPinValue(int pin) {
  const int index = pinIndex(pin);
  if (index < 0) return -1;
  return traced(
      __func__, runCommand(-1, [index](DeviceConnection& c) {
        uint8_t value = 0;
        return c.getIoPinValue(static_cast<uint8_t>(index), value) ? value : -1;
      }),
      pin);
}

int VEL_API VelSetSensorRegister(int reg, int value) {
  return traced(__func__, runCommand(-1, [reg, value](DeviceConnection& c) { return c.setSensorRegister(low(reg), low(value)) ? 1 : -1; }), reg, value);
}

int VEL_API VelGetSensorRegister(int reg) {
  return traced(
      __func__, runCommand(-1, [reg](DeviceConnection& c) {
        uint8_t value = 0;
        return c.getSensorRegister(low(reg), value) ? value : -1;
      }),
      reg);
}

int VEL_API VelSetTargetingLedsStatus(int status) {
  return traced(__func__, runCommand(-1, [status](DeviceConnection& c) { return c.setTargetingLeds(status != 0 ? 1 : 0) ? 1 : -1; }), status);
}

void VEL_API VelExecuteFirmwareErase(void) {
  runCommand(0, [](DeviceConnection& c) { return c.firmwareErase() ? 1 : 0; });
  tracedVoid(__func__);
}

int VEL_API VelSetTriggerStatusCommand(int status) {
  return traced(__func__, runCommand(-1, [status](DeviceConnection& c) { return c.triggerStatus(status != 0 ? 1 : 0) ? 1 : -1; }), status);
}

int VEL_API VelPutDeviceToSleepCommand(void) {
  return traced(__func__, runCommand(-1, [](DeviceConnection& c) { return c.sleep() ? 1 : -1; }));
}

int VEL_API VelQuitTerminalModeOutput(int port, int baudRate) {
  return traced(__func__, vel::quitTerminalModeOutput(port, static_cast<uint32_t>(baudRate)) ? 1 : -1, port, baudRate);
}

}  // extern "C"
