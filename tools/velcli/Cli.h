// velcli's options, the context a command runs in, and what the commands share:
// the connection to the imager and the follow-up of a run's progress.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Exit.h"
#include "Report.h"
#include "Text.h"

namespace sim {
class SimulatedImager;
}
namespace velcli::console {
class MqttPublisher;
}

namespace velcli {

struct Options {
  // Global.
  int port = 1;
  bool portGiven = false;
  bool simulate = false;
  std::string scene;
  int timeoutMs = 3000;
  bool timeoutGiven = false;
  bool json = false;
  bool help = false;
  std::string tracePath;  // --trace: VEL_TRACE for this process, set before connecting
  // Command options.
  bool decode = false, grey = false, binary = false, compressed = false, timestamp = false;
  bool permanent = false;
  std::string outDir, saveDir;
  std::string listen = "127.0.0.1:8080";
  std::string token, tokenFile;
  int count = 0;
  int seconds = 0;
  int pulls = 0;
  std::string mqttUrl;              // mqtt[s]://HOST[:PORT]: publish decodes and state there
  std::string topic = "imgengine";  // the MQTT topic prefix
  int mqttQueue = 10000;            // decodes kept while the broker is away
  std::string mqttCa;               // mqtts: the CA file
  std::string mqttUser;             // the broker's user name
  std::string mqttPasswordFile;     // its password: the first line; else VEL_MQTT_PASSWORD
  std::string mqttPassword;         // read by main from either
  bool mqttHasPassword = false;
  std::string command;
  std::vector<std::string> arguments;  // the words after the command
};

struct Context {
  const Options& options;
  Report& report;
  sim::SimulatedImager* imager;  // --simulate: the imager inside this process
};

// Limits of what the library hands back: a result's data is at most kMaxBarcodeBytes
// long, and a size it answers beyond its shared image buffers is refused.
constexpr int kMaxBarcodeBytes = 4096;
constexpr int kGreyBufferBytes = 3932214;
constexpr int kBinaryBufferBytes = 164352;

// Set by Ctrl+C: runs end and watch stops.
extern std::atomic<bool> g_interrupted;

// Who the connected imager is, as the library answers (the last one's after a disconnect).
struct ImagerFacts {
  std::string hostVersion, firmware, processor, sensor, linkLevel;
  unsigned int visionProcessor = 0, imageSensor = 0, illuminationBoard = 0;
  bool colour = false;
};
ImagerFacts imagerFacts();

// Connects (reporting the result under "connect"); false when it failed.
bool connectImager(Context& c);
void disconnectImager(Context& c);
// With --mqtt: the publisher, started (it connects in the background); false, reported,
// when it cannot start. Without --mqtt: true, and no publisher.
bool startMqtt(Context& c, std::unique_ptr<console::MqttPublisher>& mqtt);
// Stops the publisher (if any) and reports what the broker acknowledged, what it never
// did and what the full queue dropped; answers kCommunication for either of the last
// two when result was kOk, else result.
int stopMqtt(Context& c, console::MqttPublisher* mqtt, int result);
// The communication status after a command: kOk while the imager answers,
// otherwise kCommunication (reported).
int linkStatus(Context& c, const char* what);
unsigned int ownThreadId();
void pauseMs(int ms);
// An integer argument within [low, high] (base 0: 0x.. hexadecimal).
bool parseNumber(const std::string& text, long low, long high, int& out);

}  // namespace velcli
