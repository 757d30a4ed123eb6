#include "DeviceDesk.h"

#include "../Cli.h"
#include "../Progress.h"
#include "StateJson.h"
#include "ImgEngine.h"
#include "platform/Messages.h"
#include "platform/Threads.h"

namespace velcli::console {

namespace {

// Posted to the desk's thread when a job is queued, so that it stops waiting for messages.
constexpr uint32_t kWake = WM_USER + 300;
// Captures and jobs kept for the API: the last kKept captures with their thumbnails,
// of which the newest kKeptImages keep their full images.
constexpr size_t kKept = 50;
constexpr size_t kKeptImages = 8;
// A host capture that has not ended after this long is cancelled (the imager went
// silent); the library then reports it aborted.
constexpr int64_t kCaptureLimitMs = 60000;
constexpr int64_t kLinkCheckEveryMs = 1000;
// Without an imager the desk tries to connect again this often, so that a station
// started before its imager, or whose imager was unplugged, comes back by itself.
constexpr int64_t kReconnectEveryMs = 5000;

bool isUsbPort(int port) { return port == 0 || port == 100; }

}  // namespace

Answer errorAnswer(int status, const char* error, const std::string& message) {
  return {status, {{"error", error}, {"message", message}}};
}

struct DeviceDesk::Run {
  CaptureOptions options;
  std::shared_ptr<std::promise<Answer>> done;  // null for a live frame
  int64_t startMs = 0;
  bool cancelled = false;
};

DeviceDesk::DeviceDesk(Config config, EventHub& events) : config_(config), events_(events) {
  state_ = {{"connected", false}, {"port", config.port}, {"simulated", config.imager != nullptr}};
}

DeviceDesk::~DeviceDesk() { stop(); }

void DeviceDesk::stop() {
  stopping_ = true;
  if (thread_.joinable()) {
    vel::platform::postThreadMessage(threadId_, kWake, 0, 0);
    thread_.join();
  }
}

void DeviceDesk::start() {
  std::promise<void> started;
  thread_ = std::thread([this, &started] {
    vel::platform::Message m;
    vel::platform::messageTake(&m, 0);  // makes the thread's queue before anything posts to it
    threadId_ = vel::platform::currentThreadId();
    triggerWindow_ = vel::platform::messageWindowCreate();
    connect();
    started.set_value();
    loop();
  });
  started.get_future().wait();
}

Answer DeviceDesk::call(std::function<Answer()> job, int ms) {
  auto done = std::make_shared<std::promise<Answer>>();
  std::future<Answer> answer = done->get_future();
  {
    // Checked under the lock that the ending thread takes to answer what is left.
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return errorAnswer(503, "not-connected", "the console is stopping");
    jobs_.push_back([job = std::move(job), done] { done->set_value(job()); });
  }
  vel::platform::postThreadMessage(threadId_, kWake, 0, 0);
  if (answer.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
    return errorAnswer(504, "timeout", "the imager did not finish in time");
  return answer.get();
}

Answer DeviceDesk::capture(const CaptureOptions& options, int ms) {
  if (!options.any()) return errorAnswer(400, "bad-request", "a capture needs decode, grey or binary");
  auto done = std::make_shared<std::promise<Answer>>();
  std::future<Answer> answer = done->get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return errorAnswer(503, "not-connected", "the console is stopping");
    if (capturing_ || liveOn_) return errorAnswer(409, "busy", liveOn_ ? "live mode is on" : "a capture is running");
    capturing_ = true;
    jobs_.push_back([this, options, done] { startHostCapture(options, done); });
  }
  vel::platform::postThreadMessage(threadId_, kWake, 0, 0);
  if (answer.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
    return errorAnswer(504, "timeout", "the capture did not end in time");
  return answer.get();
}

Answer DeviceDesk::live(bool on, const CaptureOptions& options) {
  if (on && !options.any()) return errorAnswer(400, "bad-request", "live mode needs decode, grey or binary");
  nlohmann::json body;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (on && capturing_ && !liveOn_) return errorAnswer(409, "busy", "a capture is running");
    if (on && !state_.value("connected", false)) return errorAnswer(503, "not-connected", "no imager is connected");
    liveOn_ = on;
    if (on) liveOptions_ = options;
    if (!on) liveFps_ = 0;
    body = {{"on", liveOn_}, {"fps", liveFps_}};
  }
  vel::platform::postThreadMessage(threadId_, kWake, 0, 0);
  events_.publish("live", body);
  return {200, body};
}

nlohmann::json DeviceDesk::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json s = state_;
  s["runId"] = runId();
  s["busy"] = capturing_;
  s["live"] = {{"on", liveOn_}, {"fps", liveFps_}};
  s["captures"] = hostCaptures_;
  s["triggerCaptures"] = triggerCaptures_;
  return s;
}

CapturePtr DeviceDesk::find(uint64_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const CapturePtr& c : kept_) {
    if (c->id == id) return c;
  }
  return nullptr;
}

CapturePtr DeviceDesk::latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return kept_.empty() ? nullptr : kept_.back();
}

std::vector<CapturePtr> DeviceDesk::triggerCaptures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<CapturePtr> list;
  for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
    if ((*it)->source == "trigger") list.push_back(*it);
  }
  return list;
}

// ---- the desk's thread ----

void DeviceDesk::loop() {
  while (!stopping_) {
    std::function<void()> job;
    bool startLive = false;
    CaptureOptions liveOptions;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!run_ && !jobs_.empty()) {
        job = std::move(jobs_.front());
        jobs_.pop_front();
      } else if (!run_ && liveOn_) {
        startLive = true;
        capturing_ = true;
        liveOptions = liveOptions_;
      }
    }
    if (job) {
      job();
      continue;
    }
    if (startLive) startHostCapture(liveOptions, nullptr);
    takeMessages(run_ || trigger_.active ? 2 : 20);
    watchLink();
    retryConnect();
  }
  if (run_) VelCancelHostInitiatedOperation();
  VelRegisterHostOperationProgressThread(0);
  VelRegisterTriggerProgressWindow(nullptr);
  if (isUsbPort(config_.port)) VelRegisterUsbReadyStatusNotifyThread(0);
  VelDeviceDisconnect();
  vel::platform::messageWindowDestroy(triggerWindow_);
  // Requests still waiting get an answer rather than their time-out.
  std::deque<std::function<void()>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(jobs_);
  }
  if (run_ && run_->done) run_->done->set_value(errorAnswer(503, "not-connected", "the console is stopping"));
  run_.reset();
  for (auto& job : left) job();
}

void DeviceDesk::retryConnect() {
  if (run_ || trigger_.active || nowEpochMs() - lastConnectMs_ < kReconnectEveryMs) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.value("connected", false)) return;
  }
  VelDeviceDisconnect();
  connect();
}

void DeviceDesk::connect() {
  lastConnectMs_ = nowEpochMs();
  const int result = VelDeviceConnectEx(config_.port, config_.timeoutMs, 115200);
  lastConnectMs_ = nowEpochMs();
  VelRegisterHostOperationProgressThread(threadId_);
  VelRegisterTriggerProgressWindow(static_cast<VelWindow>(triggerWindow_));
  if (isUsbPort(config_.port)) VelRegisterUsbReadyStatusNotifyThread(threadId_);
  nlohmann::json s = readState();
  s["connectResult"] = result;
  bool changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = s != state_;
    state_ = s;
  }
  // A retry that failed as the one before tells nobody anything new.
  if (changed) events_.publish("state", state());
}

nlohmann::json DeviceDesk::readState() {
  const int status = VelGetCommunicationStatus();
  nlohmann::json s = stateJson(imagerFacts(), config_.port, config_.imager != nullptr, status);
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_.contains("usbReady")) s["usbReady"] = state_["usbReady"];
  return s;
}

Answer DeviceDesk::reconnect() {
  VelDeviceDisconnect();
  connect();
  return {200, state()};
}

void DeviceDesk::takeMessages(int ms) {
  vel::platform::Message m;
  for (bool first = true; vel::platform::messageTake(&m, first ? static_cast<uint32_t>(ms) : 0); first = false) {
    if (m.message == WM_OPERATION_PROGRESS) {
      onProgress(m.window == triggerWindow_ && m.window != nullptr, static_cast<int>(m.lParam),
                 static_cast<int>(m.wParam));
    } else if (m.message == WM_USB_READY_STATUS) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        state_["usbReady"] = m.lParam == 1;
      }
      events_.publish("usb", {{"ready", m.lParam == 1}});
    } else if (m.message == WM_CONFIGURATION_CHANGED) {
      events_.publish("config", {{"changedBy", "imager"}, {"reason", static_cast<int>(m.wParam)}});
    }
  }
  if (run_ && !run_->cancelled && nowEpochMs() - run_->startMs > kCaptureLimitMs) {
    run_->cancelled = true;
    VelCancelHostInitiatedOperation();
  }
}

void DeviceDesk::onProgress(bool trigger, int event, int percent) {
  // Every event change, and a step of 5 %: a grey image posts a message per block.
  const int key = event * 1000 + percent / 5;
  if (key != lastProgress_[trigger]) {
    lastProgress_[trigger] = key;
    events_.publish("progress", {{"source", trigger ? "trigger" : "host"},
                                 {"event", event},
                                 {"eventName", eventName(event)},
                                 {"percent", percent}});
  }
  if (!trigger) {
    if (run_ && endsRun(event)) finishHostCapture(event);
    return;
  }
  trigger_.active = true;
  if (event == VEL_EVENT_RESULTS_READY) trigger_.decoded = true;
  if (event == VEL_EVENT_BINARY_IMAGE_READY) trigger_.binary = true;
  if (event == VEL_EVENT_GREY_IMAGE_READY || event == VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE) trigger_.grey = true;
  if (endsRun(event)) finishTriggerCapture(event);
}

void DeviceDesk::startHostCapture(const CaptureOptions& options, std::shared_ptr<std::promise<Answer>> done) {
  if (VelGetCommunicationStatus() != 1) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      capturing_ = false;
      liveOn_ = false;
    }
    if (done) done->set_value(errorAnswer(503, "not-connected", "no imager is connected"));
    else events_.publish("live", {{"on", false}, {"fps", 0}, {"error", "no imager is connected"}});
    return;
  }
  run_ = std::make_unique<Run>();
  run_->options = options;
  run_->done = std::move(done);
  run_->startMs = nowEpochMs();
  lastProgress_[0] = -1;
  VelCaptureImage(options.decode, options.binary, options.grey, options.compressed);
}

void DeviceDesk::finishHostCapture(int event) {
  std::unique_ptr<Run> run = std::move(run_);
  const CaptureOptions& o = run->options;
  auto capture = std::make_shared<CaptureRecord>(event == VEL_EVENT_DONE ? readCapture("host", o.decode, o.grey, o.binary)
                                                                         : CaptureRecord{});
  capture->source = "host";
  if (!capture->timeMs) capture->timeMs = nowEpochMs();
  capture->end = eventName(event);
  keep(capture);
  nlohmann::json live;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++hostCaptures_;
    capturing_ = false;
    if (!run->done) {
      // A live frame: the rate over the last frames.
      liveFrames_.push_back(capture->timeMs);
      while (liveFrames_.size() > 10) liveFrames_.pop_front();
      const int64_t span = liveFrames_.back() - liveFrames_.front();
      liveFps_ = liveFrames_.size() > 1 && span > 0 ? 1000.0 * (liveFrames_.size() - 1) / span : 0;
      if (liveOn_) live = {{"on", true}, {"fps", liveFps_}};
      else liveFrames_.clear();
    }
  }
  nlohmann::json body = captureJson(*capture);
  events_.publish("capture", body, capture);
  if (!run->done) {
    if (!live.is_null()) events_.publish("live", live);
    return;
  }
  if (event == VEL_EVENT_DONE) run->done->set_value({200, body});
  else run->done->set_value({502, {{"error", "failed"}, {"message", std::string("capture ended: ") + eventName(event)},
                                   {"capture", body}}});
}

void DeviceDesk::finishTriggerCapture(int event) {
  auto capture = std::make_shared<CaptureRecord>(readCapture("trigger", trigger_.decoded, trigger_.grey, trigger_.binary));
  capture->end = eventName(event);
  trigger_ = {};
  lastProgress_[1] = -1;
  keep(capture);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++triggerCaptures_;
  }
  events_.publish("capture", captureJson(*capture), capture);
}

void DeviceDesk::keep(std::shared_ptr<CaptureRecord> capture) {
  std::lock_guard<std::mutex> lock(mutex_);
  capture->id = nextId_++;
  kept_.push_back(capture);
  if (kept_.size() > kKept) kept_.pop_front();
  // Older captures keep their results and thumbnails; their images go. The records
  // are shared with readers, so the trimmed one is a new record of the summary only.
  if (kept_.size() > kKeptImages) {
    CapturePtr& old = kept_[kept_.size() - 1 - kKeptImages];
    if (!old->images.empty()) {
      auto trimmed = std::make_shared<CaptureRecord>();
      static_cast<CaptureSummary&>(*trimmed) = *old;
      old = trimmed;
    }
  }
}

void DeviceDesk::watchLink() {
  const int64_t now = nowEpochMs();
  if (run_ || trigger_.active || now - lastLinkCheckMs_ < kLinkCheckEveryMs) return;
  lastLinkCheckMs_ = now;
  const int status = VelGetCommunicationStatus();
  bool changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = state_.value("communicationStatus", 0) != status;
    if (changed) {
      state_["communicationStatus"] = status;
      state_["connected"] = status == 1;
    }
  }
  if (changed) events_.publish("state", state());
}

}  // namespace velcli::console
