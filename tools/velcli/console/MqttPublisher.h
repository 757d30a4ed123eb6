// Publishes every decode and the connection state to an MQTT broker (libmosquitto):
// PREFIX/decode, one JSON message per barcode (QoS 1), and PREFIX/state, retained,
// with "offline" as the last will so that a station that dies shows as offline.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Capture.h"

namespace velcli::console {

class EventHub;

class MqttPublisher {
 public:
  // url: mqtt://HOST[:PORT] (default port 1883). Connects in the background and
  // reconnects on its own; messages published while disconnected are queued by
  // libmosquitto (QoS 1).
  static std::unique_ptr<MqttPublisher> start(const std::string& url, const std::string& topicPrefix,
                                              std::string& error);
  virtual ~MqttPublisher() = default;
  // Each barcode of the capture on PREFIX/decode.
  virtual void publishDecodes(const CaptureRecord& capture) = 0;
  // The connection state on PREFIX/state, retained: {"state": "online"|"offline"|..., ...}.
  virtual void publishState(const nlohmann::json& state) = 0;
  // Publishes the retained "offline" state, waits (bounded) for the queued messages
  // to go out, disconnects.
  virtual void stop() = 0;
  // Messages the broker has not acknowledged (after stop(): never will) or that could
  // not be queued.
  virtual int undelivered() const = 0;
};

struct MqttUrl {
  std::string host;
  int port = 1883;
};
// mqtt://HOST[:PORT] or mqtt://[IPV6][:PORT]; false with the reason otherwise.
bool parseMqttUrl(const std::string& url, MqttUrl& out, std::string& error);
// A topic prefix: a topic name without wildcards, not ending in '/'.
bool checkTopicPrefix(const std::string& prefix, std::string& error);
// The state message: {"state", "connected" (the imager), "port", "time" (now)}.
nlohmann::json mqttState(const char* state, bool connected, int port);

// Publishes the hub's events: the decodes of every "capture", and every "state" as the
// station's "online" state. The publisher must outlive the hub's publishing.
void attachMqtt(EventHub& hub, MqttPublisher& publisher);

}  // namespace velcli::console
