#include "Service.h"

#include <cstdio>
#include <cstdlib>

#include "ImgEngine.h"

namespace velcli {

namespace {

// A service command: its name, the number of arguments it takes, whether it
// needs a connection, the call, and the result it answers on success (when the
// call's result is itself the value read: kValue).
constexpr int kValue = -1000;
struct Service {
  const char* name;
  const char* arguments;
  int count;
  bool connected;
  int (*call)(const int* a);
  int success;
};

const Service kServices[] = {
    {"calibrate-black", "VALUE", 1, true, [](const int* a) { return VelCalibrateBlackLevels(a[0]); }, 1},
    {"default-black", "VALUE", 1, true, [](const int* a) { return VelSetDefaultBlackLevels(a[0]); }, 1},
    {"calibration-status", "", 0, true, [](const int*) { return VelGetCalibrationStatus() - 1; }, kValue},
    {"terminal-mode", "", 0, true, [](const int*) { return VelSetTerminalModeOutput(); }, 1},
    {"quit-terminal", "PORT BAUD", 2, false, [](const int* a) { return VelQuitTerminalModeOutput(a[0], a[1]); }, 1},
    {"pin-config", "PIN CONFIG", 2, true, [](const int* a) { return VelSetIoPinConfiguration(a[0], a[1]); }, 1},
    {"pin-set", "PIN VALUE", 2, true, [](const int* a) { return VelSetIoPinValue(a[0], a[1]); }, 1},
    {"pin-get", "PIN", 1, true, [](const int* a) { return VelGetIoPinValue(a[0]); }, kValue},
    {"register-set", "REG VALUE", 2, true, [](const int* a) { return VelSetSensorRegister(a[0], a[1]); }, 1},
    {"register-get", "REG", 1, true, [](const int* a) { return VelGetSensorRegister(a[0]); }, kValue},
    {"leds", "0|1", 1, true, [](const int* a) { return VelSetTargetingLedsStatus(a[0]); }, 1},
    {"trigger", "0|1", 1, true, [](const int* a) { return VelSetTriggerStatusCommand(a[0]); }, 1},
    {"sleep", "", 0, true, [](const int*) { return VelPutDeviceToSleepCommand(); }, 1},
    {"erase-firmware", "", 0, true,
     [](const int*) {
       VelExecuteFirmwareErase();
       return VelGetCommunicationStatus();
     },
     1},
};

bool number(const std::string& text, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || !end || *end || v < -2147483647L - 1 || v > 2147483647L) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

const char* serviceUsage() {
  static std::string text = [] {
    std::string t;
    for (const Service& s : kServices) t += std::string("  service ") + s.name + " " + s.arguments + "\n";
    return t;
  }();
  return text.c_str();
}

int runConfig(const std::vector<std::string>& args, const std::function<bool()>& connect) {
  if (args.size() != 2 || (args[0] != "save" && args[0] != "load")) {
    std::fprintf(stderr, "usage: velcli config save FILE | config load FILE\n");
    return 2;
  }
  if (!connect()) return 1;
  int ok;
  if (args[0] == "save") {
    const int result = VelSaveCurrentConfigurations(args[1].c_str());
    std::printf("save %s:  %d (%s)\n", args[1].c_str(), result, result == 0 ? "written" : "not written");
    ok = result == 0;
  } else {
    const int result = VelLoadAndDeployConfigurations(args[1].c_str());
    const int status = VelGetCommunicationStatus();
    std::printf("load %s:  %d (%s), imager %s\n", args[1].c_str(), result, result == 1 ? "read" : "not read",
                status == 1 ? "stored it" : "did not answer");
    ok = result == 1 && status == 1;
  }
  VelDeviceDisconnect();
  return ok ? 0 : 1;
}

int runService(const std::vector<std::string>& args, const std::function<bool()>& connect) {
  const Service* service = nullptr;
  for (const Service& s : kServices) {
    if (!args.empty() && args[0] == s.name) service = &s;
  }
  int values[2] = {};
  bool parsed = service && args.size() == static_cast<size_t>(service->count) + 1;
  for (int i = 0; parsed && i < service->count; ++i) parsed = number(args[static_cast<size_t>(i) + 1], values[i]);
  if (!parsed) {
    std::fprintf(stderr, "usage: velcli [--port N | --simulate] COMMAND, COMMAND one of\n%s", serviceUsage());
    return 2;
  }
  if (service->connected && !connect()) return 1;
  const int result = service->call(values);
  const bool ok = service->success == kValue ? result >= 0 : result == service->success;
  if (service->success == kValue && ok) {
    std::printf("%s:  %d\n", service->name, result);
  } else {
    std::printf("%s:  %s (%d)\n", service->name, ok ? "done" : "failed", result);
  }
  if (service->connected) VelDeviceDisconnect();
  return ok ? 0 : 1;
}

}  // namespace velcli
