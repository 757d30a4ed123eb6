#include "EventHub.h"

namespace velcli::console {

void EventHub::publish(std::string type, nlohmann::json data, CapturePtr capture) {
  Event event{0, std::move(type), std::move(data), std::move(capture)};
  // Rendered once here, not per stream; the listeners are called in the order of seq.
  std::lock_guard<std::mutex> listening(listenersMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    event.seq = ++seq_;
    std::string frame = "id: " + std::to_string(event.seq) + "\nevent: " + event.type + "\ndata: " +
                        jsonText(event.data) + "\n\n";
    keptBytes_ += frame.size();
    kept_.push_back({event.seq, std::move(frame)});
    while (kept_.size() > kKept || (keptBytes_ > kKeptBytes && kept_.size() > 1)) {
      keptBytes_ -= kept_.front().frame.size();
      kept_.pop_front();
    }
  }
  for (auto& [id, listener] : listeners_) listener(event);
}

int EventHub::listen(Listener listener) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_[nextListener_] = std::move(listener);
  return nextListener_++;
}

void EventHub::unlisten(int id) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.erase(id);
}

uint64_t EventHub::framesAfter(uint64_t seq, size_t maxBytes, std::string& out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (kept_.empty() || kept_.back().seq <= seq) return seq;
  // The kept seqs are consecutive: the first one after seq is found by subtraction.
  const uint64_t first = kept_.front().seq;
  size_t at = seq < first ? 0 : static_cast<size_t>(seq - first + 1);
  uint64_t last = seq;
  for (; at < kept_.size(); ++at) {
    if (!out.empty() && out.size() + kept_[at].frame.size() > maxBytes) break;
    out += kept_[at].frame;
    last = kept_[at].seq;
  }
  return last;
}

uint64_t EventHub::lastSeq() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seq_;
}

}  // namespace velcli::console
