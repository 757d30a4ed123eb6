#include "MqttPublisher.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include <mosquitto.h>

#include "EventHub.h"

namespace velcli::console {

namespace {

// The keepalive the broker is told (seconds). A station whose link dies without the
// connection being closed (power, cable) shows as offline after one and a half times
// this; a process that dies has its connection closed by the system and shows at once.
// libmosquitto accepts nothing below 5 s.
constexpr int kKeepaliveSeconds = 5;
// Reconnection delays: from 1 s, growing up to 10 s.
constexpr unsigned kReconnectDelayS = 1, kReconnectDelayMaxS = 10;
// How long stop() waits for the broker to acknowledge what is still queued.
constexpr int kDrainMs = 3000;
constexpr int kQos = 1;
constexpr int kDefaultPort = 1883;

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

class MosquittoPublisher final : public MqttPublisher {
 public:
  explicit MosquittoPublisher(std::string prefix) : prefix_(std::move(prefix)) {}

  ~MosquittoPublisher() override {
    stop();
    if (mosq_) mosquitto_destroy(mosq_);
  }

  bool open(const MqttUrl& url, std::string& error) {
    initLibrary();
    mosq_ = mosquitto_new(nullptr, true, this);
    if (!mosq_) {
      error = "cannot create an MQTT client";
      return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
      static_cast<MosquittoPublisher*>(self)->connected(rc);
    });
    mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
      static_cast<MosquittoPublisher*>(self)->acknowledged(mid);
    });
    mosquitto_log_callback_set(mosq_, [](mosquitto*, void* self, int, const char* line) {
      static_cast<MosquittoPublisher*>(self)->logged(line);
    });
    // The will goes with the CONNECT packet, so it is set before connecting.
    const std::string will = jsonText({{"state", "offline"}});
    int rc = mosquitto_will_set(mosq_, (prefix_ + "/state").c_str(), static_cast<int>(will.size()), will.data(),
                                kQos, true);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_reconnect_delay_set(mosq_, kReconnectDelayS, kReconnectDelayMaxS, true);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("MQTT setup: ") + mosquitto_strerror(rc);
      return false;
    }
    // A refused or unreachable broker is tried again in the background; a host name that
    // does not resolve or bad arguments are errors now.
    rc = mosquitto_connect_async(mosq_, url.host.c_str(), url.port, kKeepaliveSeconds);
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_INVAL) {
      error = "MQTT broker " + url.host + ":" + std::to_string(url.port) + ": " +
              (rc == MOSQ_ERR_EAI ? "the host name does not resolve" : mosquitto_strerror(rc));
      return false;
    }
    rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("MQTT network thread: ") + mosquitto_strerror(rc);
      return false;
    }
    looping_ = true;
    return true;
  }

  void publishDecodes(const CaptureRecord& capture) override {
    for (size_t i = 0; i < capture.barcodes.size(); ++i) {
      nlohmann::json message = decodeJson(capture, i);
      message["station"] = prefix_;
      publish("/decode", jsonText(message), false);
    }
  }

  void publishState(const nlohmann::json& state) override {
    const std::string payload = jsonText(state);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lastState_ = payload;
      if (state.contains("port") && state["port"].is_number_integer()) port_ = state["port"].get<int>();
    }
    publish("/state", payload, true);
  }

  void stop() override {
    if (!looping_) return;
    int port;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      port = port_;
    }
    publishState(mqttState("offline", false, port));
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::milliseconds(kDrainMs), [&] { return outstanding_.empty() && !pinging_; });
    }
    {
      std::lock_guard<std::mutex> publishing(publishMutex_);
      stopping_ = true;
    }
    // A clean disconnection: the broker drops the will. No keepalive ping goes out for
    // seconds after the offline state was sent and acknowledged.
    mosquitto_disconnect(mosq_);
    // Ends the network thread, also while it waits to reconnect.
    mosquitto_loop_stop(mosq_, false);
    looping_ = false;
  }

  int undelivered() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(outstanding_.size()) + failed_;
  }

 private:
  void publish(const char* suffix, const std::string& payload, bool retain) {
    // After stop() nothing goes out: what is published then is dropped.
    std::lock_guard<std::mutex> publishing(publishMutex_);
    if (stopping_) return;
    const std::string topic = prefix_ + suffix;
    int mid = 0;
    // Queued by libmosquitto while disconnected; sent on (re)connection.
    const int rc =
        mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos, retain);
    std::lock_guard<std::mutex> lock(mutex_);
    if (rc != MOSQ_ERR_SUCCESS) {
      ++failed_;
      return;
    }
    // The acknowledgement may have come before this thread got here.
    if (early_.erase(mid) == 0) outstanding_.insert(mid);
  }

  // Network thread.
  void connected(int rc) {
    if (rc != 0) return;
    std::string state;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // After a lost connection the broker has published the will: the last state
      // goes out again (the first connection sends what was queued before it).
      if (everConnected_) state = lastState_;
      everConnected_ = true;
      pinging_ = false;
    }
    if (!state.empty()) publish("/state", state, true);
  }

  // libmosquitto takes a ping's answer that arrives once disconnect() was called for a
  // protocol error and drops the connection without sending DISCONNECT: the broker then
  // publishes the will after the clean "offline". stop() therefore waits for the answer
  // of a ping in flight; the library tells of pings only in its log.
  void logged(const char* line) {
    const std::string text = line ? line : "";
    auto endsWith = [&](const std::string& tail) {
      return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    const bool sent = endsWith(" sending PINGREQ");
    if (!sent && !endsWith(" received PINGRESP")) return;
    std::lock_guard<std::mutex> lock(mutex_);
    pinging_ = sent;
    changed_.notify_all();
  }

  void acknowledged(int mid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outstanding_.erase(mid) == 0) early_.insert(mid);
    changed_.notify_all();
  }

  const std::string prefix_;
  mosquitto* mosq_ = nullptr;
  bool looping_ = false;  // the network thread runs (set and read by the owner's thread)
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::set<int> outstanding_;  // QoS 1 messages the broker has not acknowledged yet
  std::set<int> early_;        // acknowledgements that came before their publish returned
  std::string lastState_;
  int port_ = 0;
  int failed_ = 0;  // messages libmosquitto refused to queue
  bool everConnected_ = false;
  bool pinging_ = false;  // a keepalive ping awaits its answer
  std::mutex publishMutex_;  // publishing against stop()
  bool stopping_ = false;    // under publishMutex_
};

}  // namespace

bool parseMqttUrl(const std::string& url, MqttUrl& out, std::string& error) {
  const std::string scheme = "mqtt://";
  if (url.compare(0, scheme.size(), scheme) != 0) {
    error = "the MQTT broker is mqtt://HOST[:PORT], not " + url;
    return false;
  }
  std::string rest = url.substr(scheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host, port;
  if (!rest.empty() && rest[0] == '[') {  // [IPv6]:PORT
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "unclosed [ in " + url;
      return false;
    }
    host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after[0] != ':') {
      error = "unexpected text after the host in " + url;
      return false;
    }
    if (!after.empty()) port = after.substr(1);
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
    if (colon != std::string::npos && port.empty()) {
      error = "no port after : in " + url;
      return false;
    }
  }
  if (host.empty() || host.find_first_of("/@?# ") != std::string::npos) {
    error = "no usable host in " + url + " (mqtt://HOST[:PORT])";
    return false;
  }
  long number = kDefaultPort;
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        (number = std::stol(port)) < 1 || number > 65535) {
      error = "the port in " + url + " is not 1..65535";
      return false;
    }
  }
  out.host = host;
  out.port = static_cast<int>(number);
  return true;
}

bool checkTopicPrefix(const std::string& prefix, std::string& error) {
  // The prefix is a topic of its own: no wildcards, no empty or trailing level.
  if (prefix.empty() || prefix.back() == '/' || prefix.find_first_of("+#") != std::string::npos ||
      prefix.find('\0') != std::string::npos || prefix.size() > 1024) {
    error = "the MQTT topic prefix \"" + prefix + "\" must be a topic without + or # and not end in /";
    return false;
  }
  initLibrary();
  if (mosquitto_validate_utf8(prefix.data(), static_cast<int>(prefix.size())) != MOSQ_ERR_SUCCESS) {
    error = "the MQTT topic prefix is not UTF-8";
    return false;
  }
  return true;
}

nlohmann::json mqttState(const char* state, bool connected, int port) {
  return {{"state", state}, {"connected", connected}, {"port", port}, {"time", isoTime(nowEpochMs())}};
}

std::unique_ptr<MqttPublisher> MqttPublisher::start(const std::string& url, const std::string& topicPrefix,
                                                    std::string& error) {
  MqttUrl where;
  if (!parseMqttUrl(url, where, error) || !checkTopicPrefix(topicPrefix, error)) return nullptr;
  auto publisher = std::make_unique<MosquittoPublisher>(topicPrefix);
  if (!publisher->open(where, error)) return nullptr;
  return publisher;
}

void attachMqtt(EventHub& hub, MqttPublisher& publisher) {
  hub.listen([&publisher](const Event& event) {
    if (event.type == "capture" && event.capture) {
      publisher.publishDecodes(*event.capture);
    } else if (event.type == "state") {
      const nlohmann::json& d = event.data;
      const bool connected = d.contains("connected") && d["connected"].is_boolean() && d["connected"].get<bool>();
      const int port = d.contains("port") && d["port"].is_number_integer() ? d["port"].get<int>() : 0;
      publisher.publishState(mqttState("online", connected, port));
    }
  });
}

}  // namespace velcli::console
