// Message queues: one per thread, created on first use; a window names a queue.
#include "platform/Messages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Threads.h"
#include "platform/Time.h"

namespace vel::platform {

namespace {

struct Queue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<Message> items;
};

struct Registry {
  std::mutex m;
  std::map<uint32_t, std::shared_ptr<Queue>> threads;
  std::map<Window, std::weak_ptr<Queue>> windows;
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every thread's queue holder
  return *r;
}

struct ThreadQueue {
  std::shared_ptr<Queue> q;
  uint32_t id = 0;
  ~ThreadQueue() {
    if (!q) return;
    std::lock_guard<std::mutex> g(registry().m);
    registry().threads.erase(id);
  }
};
thread_local ThreadQueue t_queue;

std::shared_ptr<Queue> ownQueue() {
  if (!t_queue.q) {
    t_queue.q = std::make_shared<Queue>();
    t_queue.id = currentThreadId();
    std::lock_guard<std::mutex> g(registry().m);
    registry().threads[t_queue.id] = t_queue.q;
  }
  return t_queue.q;
}

bool post(const std::shared_ptr<Queue>& q, const Message& msg) {
  if (!q) return false;
  std::lock_guard<std::mutex> g(q->m);
  q->items.push_back(msg);
  q->cv.notify_all();
  return true;
}

}  // namespace

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(registry().m);
    auto it = registry().windows.find(w);
    if (it != registry().windows.end()) q = it->second.lock();
  }
  return post(q, Message{w, message, wParam, lParam});
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(registry().m);
    auto it = registry().threads.find(threadId);
    if (it != registry().threads.end()) q = it->second;
  }
  return post(q, Message{nullptr, message, wParam, lParam});
}

Window messageWindowCreate() {
  auto q = ownQueue();
  Window w = new char;  // a unique handle
  std::lock_guard<std::mutex> g(registry().m);
  registry().windows[w] = q;
  return w;
}

void messageWindowDestroy(Window w) {
  if (!w) return;
  {
    std::lock_guard<std::mutex> g(registry().m);
    registry().windows.erase(w);
  }
  delete static_cast<char*>(w);
}

bool messageTake(Message* out, uint32_t ms) {
  auto q = ownQueue();
  std::unique_lock<std::mutex> lock(q->m);
  auto ready = [&] { return !q->items.empty(); };
  if (ms == kInfinite) {
    q->cv.wait(lock, ready);
  } else if (!q->cv.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
    return false;
  }
  *out = q->items.front();
  q->items.pop_front();
  return true;
}

}  // namespace vel::platform
