#include "EventHub.h"

namespace velcli::console {

void EventHub::publish(std::string type, nlohmann::json data, CapturePtr capture) {
  Event event;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    event = {++seq_, std::move(type), std::move(data), std::move(capture)};
    kept_.push_back(event);
    if (kept_.size() > kKept) kept_.pop_front();
  }
  changed_.notify_all();
  std::lock_guard<std::mutex> lock(listenersMutex_);
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

bool EventHub::waitAfter(uint64_t seq, std::vector<Event>& out, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return closed_ || seq_ > seq; });
  for (const Event& e : kept_) {
    if (e.seq > seq) out.push_back(e);
  }
  return !closed_;
}

uint64_t EventHub::lastSeq() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seq_;
}

void EventHub::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace velcli::console
