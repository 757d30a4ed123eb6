// The console's events, in order, for every listener: the event stream's clients
// (which take the frames after the last event they saw) and the MQTT publisher
// (which is called for each event).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "Capture.h"

namespace velcli::console {

struct Event {
  uint64_t seq = 0;
  // "progress", "capture", "state", "config", "usb", "live"
  std::string type;
  nlohmann::json data;
  CapturePtr capture;  // with "capture", for the listeners only: the hub keeps no record
};

class EventHub {
 public:
  using Listener = std::function<void(const Event&)>;

  void publish(std::string type, nlohmann::json data, CapturePtr capture = nullptr);
  // Listeners run on the publishing thread, in order; they must not block for long.
  int listen(Listener listener);
  void unlisten(int id);
  // The event stream's frames ("id: N\nevent: TYPE\ndata: JSON\n\n") of the kept
  // events after seq, up to maxBytes (but at least one); answers the seq of the last
  // one given, seq when there is none.
  uint64_t framesAfter(uint64_t seq, size_t maxBytes, std::string& out) const;
  uint64_t lastSeq() const;

 private:
  // The history a reconnecting stream resumes from: the last kKept events, and no
  // more than kKeptBytes of their text (a capture's JSON holds up to 256 barcodes).
  static constexpr size_t kKept = 256;
  static constexpr size_t kKeptBytes = 4 * 1024 * 1024;
  struct Kept {
    uint64_t seq;
    std::string frame;
  };
  mutable std::mutex mutex_;
  std::deque<Kept> kept_;
  size_t keptBytes_ = 0;
  uint64_t seq_ = 0;
  std::mutex listenersMutex_;
  std::map<int, Listener> listeners_;
  int nextListener_ = 1;
};

}  // namespace velcli::console
