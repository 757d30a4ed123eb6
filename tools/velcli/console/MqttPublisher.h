// Publishes every decode and the connection state to an MQTT broker (libmosquitto):
// PREFIX/decode, one JSON message per barcode (QoS 1), and PREFIX/state, retained,
// with "offline" as the last will so that a station that dies shows as offline.
//
// The publisher owns its connection: a thread of its own connects, runs the client and,
// whatever ended a connection or an attempt (refused, unreachable, timed out, lost),
// tries again after a delay growing from 1 s to 10 s. Decodes wait in a bounded queue of
// the publisher while the broker is away and go out in order once it is back; a
// message stays kept until the broker acknowledges it, and what was in flight when a
// connection ended is sent again on the next one (so a subscriber may see a decode
// twice: see the guide's rule for dropping duplicates).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Capture.h"

namespace velcli::console {

class EventHub;

constexpr int kMqttQueueDefault = 10000;
constexpr int kMqttQueueMax = 1000000;

struct MqttSettings {
  std::string url;          // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
  std::string topicPrefix;  // see checkTopicPrefix
  std::string caFile;       // mqtts: the CA certificates (PEM); empty: the system's
  std::string user;         // empty: no user name is sent
  std::string password;     // sent with the user name when hasPassword
  bool hasPassword = false;
  int queueLimit = kMqttQueueDefault;  // decodes waiting for the broker, 1..kMqttQueueMax
  // Told, from the publisher's thread, when a connection attempt fails for a new
  // reason, when a connection is lost and when one is made after either.
  std::function<void(const std::string&)> notice;
};

class MqttPublisher {
 public:
  // Starts the publisher's thread and waits (at most 3 s) for the first attempt's
  // outcome. A broker that refuses, cannot be reached or does not answer is tried again
  // in the background; a failure that trying again does not mend (TLS, the user name or
  // password refused, a host name that does not resolve, unusable settings) is an
  // error now, with the broker and the reason in it.
  static std::unique_ptr<MqttPublisher> start(const MqttSettings& settings, std::string& error);
  virtual ~MqttPublisher() = default;
  // Each barcode of the capture on PREFIX/decode, queued.
  virtual void publishDecodes(const CaptureRecord& capture) = 0;
  // The connection state on PREFIX/state, retained: {"state": "online"|"offline"|..., ...}.
  // Only the latest state is kept; it is sent again after every reconnection (the
  // broker has published the will meanwhile, or lost what it retained).
  virtual void publishState(const nlohmann::json& state) = 0;
  // Publishes the retained "offline" state, waits for the kept messages to be
  // acknowledged (as long as acknowledgements come, or the broker comes back, within
  // 5 s of each other; at most 60 s), disconnects.
  virtual void stop() = 0;
  // Decodes kept but not acknowledged by the broker (after stop(): never will be), with
  // the ones the client refused to send (too large).
  virtual int undelivered() const = 0;
  // Decodes dropped, the oldest first, because the queue was full.
  virtual int dropped() const = 0;
  // Decodes the broker acknowledged.
  virtual int delivered() const = 0;
  // Why the last connection or attempt failed; empty while connected or before any.
  virtual std::string lastError() const = 0;
};

struct MqttUrl {
  std::string host;
  int port = 1883;
  bool tls = false;  // mqtts://
};
// mqtt://HOST[:PORT] (default port 1883) or mqtts://HOST[:PORT] (8883), the host also
// as [IPV6]; false with the reason otherwise.
bool parseMqttUrl(const std::string& url, MqttUrl& out, std::string& error);
// Whether this build's MQTT client has TLS (the cross-built one for Windows has not).
bool mqttTlsAvailable();
// A topic prefix: a topic name without wildcards, not ending in '/'.
bool checkTopicPrefix(const std::string& prefix, std::string& error);
// The state message: {"state", "connected" (the imager), "port", "time" (now)}.
nlohmann::json mqttState(const char* state, bool connected, int port);

// Publishes the hub's events: the decodes of every "capture", and every "state" as the
// station's "online" state. The publisher must outlive the hub's publishing.
void attachMqtt(EventHub& hub, MqttPublisher& publisher);

}  // namespace velcli::console
