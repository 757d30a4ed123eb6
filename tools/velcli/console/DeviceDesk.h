// The one thread that owns the connection to the imager. Every call into the library
// runs here, one at a time: requests from the HTTP threads are queued as jobs, and the
// library's progress messages (host captures to the thread, trigger captures to a
// window of it) are taken here between jobs. What it learns goes out as events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "EventHub.h"

namespace sim {
class SimulatedImager;
}

namespace velcli::console {

struct CaptureOptions {
  bool decode = false, grey = false, binary = false, compressed = false;
  bool any() const { return decode || grey || binary; }
};

// An HTTP status and a JSON body.
struct Answer {
  int status = 200;
  nlohmann::json body;
};
Answer errorAnswer(int status, const char* error, const std::string& message);

class DeviceDesk {
 public:
  struct Config {
    int port = 1;
    int timeoutMs = 3000;
    sim::SimulatedImager* imager = nullptr;  // --simulate
  };
  DeviceDesk(Config config, EventHub& events);
  ~DeviceDesk();  // stops the thread and disconnects

  void start();  // the thread; returns once it has tried to connect
  // Cancels a running capture, answers every waiting request, disconnects and ends
  // the thread. Later requests are answered 503.
  void stop();
  // Runs job on the desk's thread once no capture is running; waits up to ms for it
  // (504 "timeout" after that; the job still runs).
  Answer call(std::function<Answer()> job, int ms);
  // A host capture: answers when it ended (the capture object), at once with 409
  // "busy" while a capture or live mode runs.
  Answer capture(const CaptureOptions& options, int ms);
  Answer live(bool on, const CaptureOptions& options);
  // Disconnects and connects again; run it as a job (call).
  Answer reconnect();

  nlohmann::json state() const;
  CapturePtr find(uint64_t id) const;
  CapturePtr latest() const;
  std::vector<CapturePtr> triggerCaptures() const;  // newest first
  sim::SimulatedImager* imager() const { return config_.imager; }

 private:
  struct Run;  // a host capture in progress
  void loop();
  void connect();
  nlohmann::json readState();
  void takeMessages(int ms);
  void onProgress(bool trigger, int event, int percent);
  void startHostCapture(const CaptureOptions& options, std::shared_ptr<std::promise<Answer>> done);
  void finishHostCapture(int event);
  void finishTriggerCapture(int event);
  void keep(std::shared_ptr<CaptureRecord> capture);
  void watchLink();
  void retryConnect();

  Config config_;
  EventHub& events_;
  std::thread thread_;
  unsigned int threadId_ = 0;
  std::atomic<bool> stopping_{false};
  void* triggerWindow_ = nullptr;

  mutable std::mutex mutex_;  // everything below
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool capturing_ = false;     // a host capture is running or asked for
  bool liveOn_ = false;
  CaptureOptions liveOptions_;
  double liveFps_ = 0;
  nlohmann::json state_;
  std::deque<CapturePtr> kept_;  // newest last
  uint64_t nextId_ = 1;
  int hostCaptures_ = 0, triggerCaptures_ = 0;

  // The desk thread's own.
  std::unique_ptr<Run> run_;
  struct TriggerRun {
    bool active = false, decoded = false, grey = false, binary = false;
  } trigger_;
  int lastProgress_[2] = {-1, -1};
  std::deque<int64_t> liveFrames_;  // end times (ms) of the last live frames
  int64_t lastLinkCheckMs_ = 0;
  int64_t lastConnectMs_ = 0;
};

}  // namespace velcli::console
