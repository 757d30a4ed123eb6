// The console's events, in order, for every listener: the event stream's clients
// (which pull what came after the last event they saw) and the MQTT publisher
// (which is called for each event).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Capture.h"

namespace velcli::console {

struct Event {
  uint64_t seq = 0;
  // "progress", "capture", "state", "config", "usb", "live"
  std::string type;
  nlohmann::json data;
  CapturePtr capture;  // with "capture"
};

class EventHub {
 public:
  using Listener = std::function<void(const Event&)>;

  void publish(std::string type, nlohmann::json data, CapturePtr capture = nullptr);
  // Listeners run on the publishing thread, in order; they must not block for long.
  int listen(Listener listener);
  void unlisten(int id);
  // The events after seq that are still kept (the last kKept); waits up to ms for
  // one. False when the hub is closing.
  bool waitAfter(uint64_t seq, std::vector<Event>& out, int ms);
  uint64_t lastSeq() const;
  // Wakes every waiter for good (the server stops).
  void close();

 private:
  static constexpr size_t kKept = 256;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Event> kept_;
  uint64_t seq_ = 0;
  bool closed_ = false;
  std::mutex listenersMutex_;
  std::map<int, Listener> listeners_;
  int nextListener_ = 1;
};

}  // namespace velcli::console
