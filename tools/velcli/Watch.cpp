// watch: trigger captures as the imager sends them, with their progress and results.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"
#include "Progress.h"
#include "Results.h"
#include "SimulatedImager.h"
#include "console/Capture.h"
#include "console/MqttPublisher.h"

namespace velcli {

int runWatch(Context& c) {
  const Options& o = c.options;
  if (o.pulls > 0 && !c.imager) {
    c.report.fail("--pull needs --simulate (with velsim: velsim --pull-every MS or Enter on its input)");
    return kUsage;
  }
  // The broker's connection runs in the background: the state "online" goes out once
  // the imager is connected, "offline" at the end (or as the last will).
  std::unique_ptr<console::MqttPublisher> mqtt;
  if (!startMqtt(c, mqtt)) return kConnectFailed;
  if (!connectImager(c)) return kConnectFailed;
  VelRegisterTriggerProgressThread(ownThreadId());
  if (mqtt) mqtt->publishState(console::mqttState("online", true, o.port));
  // Ends after this many captures (0: when the time is up or on Ctrl+C).
  const int wanted = o.count > 0 ? o.count : o.pulls;
  std::thread puller;
  if (c.imager && o.pulls > 0) {
    puller = std::thread([&] {
      for (int i = 0; i < o.pulls && !g_interrupted; ++i) {
        pauseMs(200);
        c.imager->pullTrigger(0x01);
      }
    });
  }
  c.report.say(std::string("watching for trigger captures") + (o.seconds > 0 ? "" : " (Ctrl+C ends)"));
  std::fflush(stdout);
  ProgressView view(c.report.json());
  Json& captures = c.report.root()["triggerCaptures"] = Json::array();
  int seen = 0, lastStatus = VelGetTriggerOperationStatus();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  while (!g_interrupted && (o.seconds <= 0 || std::chrono::steady_clock::now() < until) &&
         (wanted == 0 || seen < wanted)) {
    const int code = VelOutputProgress(0, 0);
    const int word = VelGetTriggerOperationStatus();
    if (word != lastStatus) view.show(word);
    lastStatus = word;
    if (code == VEL_EVENT_RESULTS_READY) {
      view.finish();
      c.report.say("trigger capture " + std::to_string(++seen) + ":");
      Json& capture = captures.push(Json::object());
      capture["index"] = Json::number(seen);
      console::CaptureRecord record = console::readCapture("trigger", true, false, false);
      record.id = static_cast<uint64_t>(seen);
      reportBarcodes(c.report, capture, record);
      if (mqtt) mqtt->publishDecodes(record);
      std::fflush(stdout);
    }
    pauseMs(5);
  }
  view.finish();
  if (puller.joinable()) puller.join();
  c.report.put("triggerCaptureCount", "trigger captures seen", seen);
  int result = linkStatus(c, "watch");
  disconnectImager(c);
  result = stopMqtt(c, mqtt.get(), result);
  if (result == kOk && wanted > 0 && seen < wanted) {
    c.report.fail(std::to_string(seen) + " of " + std::to_string(wanted) + " trigger captures arrived");
    result = kCaptureFailed;
  }
  return result;
}

}  // namespace velcli
