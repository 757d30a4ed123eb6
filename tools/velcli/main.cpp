// velcli: command-line front end over ImgEngine (velcli --help: the commands, their
// options and the exit codes; velcli COMMAND --help: one command).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"
#include "SimulatedImager.h"
#include "console/MqttPublisher.h"

namespace {

using namespace velcli;

// The simulated imager photographs and decodes its scene on this machine's CPU,
// which takes far longer under a sanitizer than a real imager does.
constexpr int kSimulatedTimeoutMs = 30000;

// Parses the words; on a usage error answers its description (empty: fine).
std::string parse(int argc, char** argv, Options& o) {
  const Command* command = nullptr;
  std::vector<std::string> given;  // the command options met, checked once the command is known
  std::vector<std::string> mqttGiven;  // the options that need --mqtt
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto number = [&](int& out, long low, long high) {
      std::string text;
      return value(text) && parseNumber(text, low, high, out);
    };
    bool ok = true;
    if (a.rfind("--", 0) == 0 && !isGlobalOption(a)) given.push_back(a);
    if (a == "--help") {
      o.help = true;
    } else if (a == "--port") {
      ok = number(o.port, 0, 100);
      o.portGiven = true;
    } else if (a == "--simulate") {
      o.simulate = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--trace") {
      ok = value(o.tracePath) && !o.tracePath.empty();
    } else if (a == "--scene") {
      ok = value(o.scene);
    } else if (a == "--timeout") {
      ok = number(o.timeoutMs, 1, 3600000);
      o.timeoutGiven = true;
    } else if (a == "--seconds") {
      ok = number(o.seconds, 0, 86400 * 365);
    } else if (a == "--pull") {
      ok = number(o.pulls, 0, 100000);
    } else if (a == "--count") {
      ok = number(o.count, 1, 100000);
    } else if (a == "--decode") {
      o.decode = true;
    } else if (a == "--grey") {
      o.grey = true;
    } else if (a == "--binary") {
      o.binary = true;
    } else if (a == "--compressed") {
      o.compressed = true;
    } else if (a == "--timestamp") {
      o.timestamp = true;
    } else if (a == "--permanent") {
      o.permanent = true;
    } else if (a == "--mqtt") {
      if (!value(o.mqttUrl)) return a + " needs a value";
      console::MqttUrl url;
      std::string why;
      if (!console::parseMqttUrl(o.mqttUrl, url, why)) return why;
    } else if (a == "--mqtt-queue") {
      ok = number(o.mqttQueue, 1, console::kMqttQueueMax);
      mqttGiven.push_back(a);
    } else if (a == "--mqtt-ca") {
      ok = value(o.mqttCa) && !o.mqttCa.empty();
      mqttGiven.push_back(a);
    } else if (a == "--mqtt-user") {
      ok = value(o.mqttUser) && !o.mqttUser.empty();
      mqttGiven.push_back(a);
    } else if (a == "--mqtt-password-file") {
      ok = value(o.mqttPasswordFile) && !o.mqttPasswordFile.empty();
      mqttGiven.push_back(a);
    } else if (a == "--topic") {
      if (!value(o.topic)) return a + " needs a value";
      std::string why;
      if (!console::checkTopicPrefix(o.topic, why)) return why;
      mqttGiven.push_back(a);
    } else if (a == "--out") {
      ok = value(o.outDir);
    } else if (a == "--save") {
      ok = value(o.saveDir);
    } else if (a == "--listen") {
      ok = value(o.listen);
    } else if (a == "--token") {
      ok = value(o.token) && !o.token.empty();
    } else if (a == "--token-file") {
      ok = value(o.tokenFile);
    } else if (a.rfind("--", 0) == 0) {
      return "unknown option " + a;
    } else if (o.command.empty()) {
      o.command = a;
      command = findCommand(a);
      if (!command) return "unknown command " + a;
    } else {
      o.arguments.push_back(a);
    }
    if (!ok) return a + " needs a value in range";
  }
  for (const std::string& name : given) {
    if (!command || !takesOption(*command, name))
      return o.command.empty() ? name + " belongs to a command" : o.command + " takes no " + name;
  }
  if (o.scene.size() && !o.simulate) return "--scene needs --simulate";
  if (!mqttGiven.empty() && o.mqttUrl.empty()) return mqttGiven.front() + " needs --mqtt";
  if (!o.mqttUrl.empty()) {
    console::MqttUrl url;
    std::string why;
    console::parseMqttUrl(o.mqttUrl, url, why);
    if (!o.mqttCa.empty() && !url.tls) return "--mqtt-ca needs an mqtts:// broker";
    if (url.tls && !console::mqttTlsAvailable())
      return "mqtts:// needs TLS, which this build's MQTT client lacks (scripts/setup builds the Windows one without)";
  }
  if (!o.mqttPasswordFile.empty() && o.mqttUser.empty()) return "--mqtt-password-file needs --mqtt-user";
  if (o.simulate && !o.timeoutGiven) o.timeoutMs = kSimulatedTimeoutMs;
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const std::string error = parse(argc, argv, o);
  Report report(o.json);
  if (!error.empty()) {
    report.fail(error + " (velcli --help)");
    return report.finish(kUsage);
  }
  const Command* command = findCommand(o.command.empty() ? "versions" : o.command);
  if (o.help) {
    o.command.empty() ? printHelp() : printCommandHelp(*command);
    return kOk;
  }
  // The broker's password: the first line of --mqtt-password-file, else the
  // environment (never the command line, which other users of the machine can see).
  if (!o.mqttPasswordFile.empty()) {
    std::ifstream in(o.mqttPasswordFile, std::ios::binary);
    std::string line;
    const bool read = in && std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!read || line.empty()) {
      report.fail("no password in " + o.mqttPasswordFile);
      return report.finish(kFileError);
    }
    o.mqttPassword = line;
    o.mqttHasPassword = true;
  } else if (const char* password = std::getenv("VEL_MQTT_PASSWORD"); password && !o.mqttUser.empty()) {
    o.mqttPassword = password;
    o.mqttHasPassword = true;
  }
  // The library reads VEL_TRACE when it opens the imager's line.
  if (!o.tracePath.empty()) {
#ifdef _WIN32
    _putenv_s("VEL_TRACE", o.tracePath.c_str());
#else
    setenv("VEL_TRACE", o.tracePath.c_str(), 1);
#endif
  }
  std::signal(SIGINT, [](int) { g_interrupted = true; });
  std::signal(SIGTERM, [](int) { g_interrupted = true; });

  std::unique_ptr<sim::SimulatedImager> imager;
  if (o.simulate) {
    imager = std::make_unique<sim::SimulatedImager>(o.port);
    std::string sceneError;
    const auto scene = sim::loadScene(o.scene.empty() ? sim::sceneFolder() + "/shelf.scene" : o.scene, &sceneError);
    if (!scene) {
      report.fail("scene " + o.scene + ": " + sceneError);
      return report.finish(kFileError);
    }
    imager->showScene(*scene);
  }
  Context context{o, report, imager.get()};
  report.root()["command"] = Json::string(command->name);
  return report.finish(command->run(context));
}
