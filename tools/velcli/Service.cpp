#include "Service.h"

#include <cstdio>
#include <string>

#include "Cli.h"
#include "Commands.h"
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

}  // namespace

const char* serviceUsage() {
  static std::string text = [] {
    std::string t;
    for (const Service& s : kServices) t += std::string("  service ") + s.name + " " + s.arguments + "\n";
    return t;
  }();
  return text.c_str();
}

int runService(Context& c) {
  const std::vector<std::string>& args = c.options.arguments;
  const Service* service = nullptr;
  for (const Service& s : kServices) {
    if (!args.empty() && args[0] == s.name) service = &s;
  }
  int values[2] = {};
  bool parsed = service && args.size() == static_cast<size_t>(service->count) + 1;
  for (int i = 0; parsed && i < service->count; ++i)
    parsed = parseNumber(args[static_cast<size_t>(i) + 1], -2147483647L - 1, 2147483647L, values[i]);
  if (!parsed) {
    if (!c.report.json())
      std::fprintf(stderr, "usage: velcli [--port N | --simulate] service COMMAND, COMMAND one of\n%s", serviceUsage());
    c.report.fail(service ? std::string("service ") + service->name + " takes " + service->arguments
                          : "no such service command");
    return kUsage;
  }
  if (service->connected && !connectImager(c)) return kConnectFailed;
  const int result = service->call(values);
  const bool ok = service->success == kValue ? result >= 0 : result == service->success;
  Json& r = c.report.root();
  r["service"] = Json::string(service->name), r["result"] = Json::number(result), r["done"] = Json::boolean(ok);
  if (service->success == kValue && ok) {
    c.report.say(std::string(service->name) + ":  " + std::to_string(result));
  } else {
    c.report.say(std::string(service->name) + ":  " + (ok ? "done" : "failed") + " (" + std::to_string(result) + ")");
  }
  int exit = ok ? kOk : kRefused;
  if (service->connected) {
    // A link that failed under the command says more than the command's refusal.
    if (!ok && VelGetCommunicationStatus() != 1) exit = linkStatus(c, service->name);
    disconnectImager(c);
  }
  if (exit == kRefused)
    c.report.fail(std::string("service ") + service->name + " failed (" + std::to_string(result) + ")");
  return exit;
}

}  // namespace velcli
