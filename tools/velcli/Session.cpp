#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Cli.h"
#include "ImgEngine.h"
#include "console/MqttPublisher.h"
#include "platform/Threads.h"

namespace velcli {

std::atomic<bool> g_interrupted{false};

namespace {

const char* connectMeaning(int result) {
  switch (result) {
    case 1: return "connected";
    case 0: return "no link (no answer, or the block size or a query failed)";
    case -1: return "the imager refused the link check";
    case -2: return "the port did not open";
    case -3: return "the library failed during connect";
    default: return "unexpected answer";
  }
}

}  // namespace

bool connectImager(Context& c) {
  const int result = VelDeviceConnectEx(c.options.port, c.options.timeoutMs, 115200);
  Json& connect = c.report.root()["connect"];
  connect["port"] = Json::number(c.options.port);
  connect["meaning"] = Json::string(connectMeaning(result));
  c.report.put(connect, "result", ("connect port " + std::to_string(c.options.port)).c_str(), result,
               std::to_string(result) + " (" + connectMeaning(result) + ")");
  if (result != 1) {
    c.report.fail("connect to port " + std::to_string(c.options.port) + " failed: " + connectMeaning(result));
    VelDeviceDisconnect();
  }
  return result == 1;
}

void disconnectImager(Context& c) {
  VelDeviceDisconnect();
  c.report.root()["disconnected"] = Json::boolean(true);
  c.report.say("disconnected");
}

bool startMqtt(Context& c, std::unique_ptr<console::MqttPublisher>& mqtt) {
  const Options& o = c.options;
  if (o.mqttUrl.empty()) return true;
  console::MqttSettings settings;
  settings.url = o.mqttUrl;
  settings.topicPrefix = o.topic;
  settings.caFile = o.mqttCa;
  settings.user = o.mqttUser;
  settings.password = o.mqttPassword;
  settings.hasPassword = o.mqttHasPassword;
  settings.queueLimit = o.mqttQueue;
  // The connection's troubles as they happen (also with --json: the standard error).
  settings.notice = [](const std::string& line) { std::fprintf(stderr, "velcli: %s\n", line.c_str()); };
  std::string error;
  mqtt = console::MqttPublisher::start(settings, error);
  if (!mqtt) c.report.fail(error);
  return mqtt != nullptr;
}

int stopMqtt(Context& c, console::MqttPublisher* mqtt, int result) {
  if (!mqtt) return result;
  mqtt->stop();
  const int lost = mqtt->undelivered(), dropped = mqtt->dropped();
  c.report.put("mqttDelivered", "MQTT delivered", mqtt->delivered());
  c.report.put("mqttUndelivered", "MQTT undelivered", lost);
  c.report.put("mqttDropped", "MQTT dropped", dropped, std::to_string(dropped) + (dropped ? " (the queue was full)" : ""));
  if ((lost == 0 && dropped == 0) || result != kOk) return result;
  // A decode dropped from the full queue is as lost as one never acknowledged.
  auto messages = [](int n) { return std::to_string(n) + (n == 1 ? " MQTT message was" : " MQTT messages were"); };
  std::string why;
  if (dropped > 0)
    why = messages(dropped) + " dropped, the oldest first, while the broker " + c.options.mqttUrl +
          " was away (--mqtt-queue " + std::to_string(c.options.mqttQueue) + " was full)";
  if (lost > 0) {
    const std::string last = mqtt->lastError();
    why += (why.empty() ? "" : "; ") + messages(lost) + " not acknowledged by the broker " + c.options.mqttUrl +
           (last.empty() ? "" : " (" + last + ")");
  }
  c.report.fail(why);
  return kCommunication;
}

int linkStatus(Context& c, const char* what) {
  if (VelGetCommunicationStatus() == 1) return kOk;
  c.report.fail(std::string(what) + ": the link to the imager failed");
  return kCommunication;
}

unsigned int ownThreadId() { return vel::platform::currentThreadId(); }

void pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool parseNumber(const std::string& text, long low, long high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || !end || *end || errno == ERANGE || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace velcli
