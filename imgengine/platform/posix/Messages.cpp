// Message queues: one per thread, created on first use; a window names a queue.
// A thread's timers live in its queue and run while it takes messages. The queues
// live in one registry that the library frees at unload, and a thread's end
// removes its queue through a thread-specific key: a thread_local with a
// destructor would keep the library loaded for as long as such a thread lives.
#include "platform/Messages.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Threads.h"
#include "platform/Time.h"

namespace vel::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  uintptr_t id;
  Clock::time_point due;
  TimerCallback callback;
  void* context;
};

// The queued messages, oldest first, in storage that grows to the most ever queued
// and is kept: a steady stream of posts (a progress message per block) allocates nothing.
class MessageRing {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void pushBack(const Message& m) {
    if (count_ == slots_.size()) grow();
    at(count_++) = m;
  }
  Message popFront() {
    const Message m = at(0);
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return m;
  }
  bool contains(const Message& m) {
    for (size_t i = 0; i < count_; ++i) {
      const Message& q = at(i);
      if (q.window == m.window && q.message == m.message && q.wParam == m.wParam && q.lParam == m.lParam) return true;
    }
    return false;
  }
  // Removes and answers the oldest message of this kind; the others keep their order.
  bool takeFirst(uint32_t message, Message* out) {
    for (size_t i = 0; i < count_; ++i) {
      if (at(i).message != message) continue;
      *out = at(i);
      for (size_t j = i; j + 1 < count_; ++j) at(j) = at(j + 1);
      --count_;
      return true;
    }
    return false;
  }

 private:
  Message& at(size_t i) { return slots_[(head_ + i) % slots_.size()]; }
  void grow() {
    std::vector<Message> bigger(std::max<size_t>(16, slots_.size() * 2));
    for (size_t i = 0; i < count_; ++i) bigger[i] = at(i);
    slots_.swap(bigger);
    head_ = 0;
  }

  std::vector<Message> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};

struct Queue {
  std::mutex m;
  std::condition_variable cv;
  MessageRing items;
  std::vector<Timer> timers;  // touched by the owning thread only, under m
};

struct Registry {
  std::map<uint32_t, std::shared_ptr<Queue>> threads;
  std::map<Window, std::weak_ptr<Queue>> windows;
  pthread_key_t threadEnd;  // set on every thread that has a queue
};

// Guards the registry; constant-initialised, so usable at any time of load and unload.
std::mutex g_registryLock;
Registry* g_registry = nullptr;

void threadEnded(void*) {
  std::lock_guard<std::mutex> g(g_registryLock);
  if (g_registry) g_registry->threads.erase(currentThreadId());
}

// The registry, made on first use; the caller holds g_registryLock.
Registry& registry() {
  if (!g_registry) {
    g_registry = new Registry;
    pthread_key_create(&g_registry->threadEnd, threadEnded);
  }
  return *g_registry;
}

std::atomic<uintptr_t> g_lastTimer{0};

std::shared_ptr<Queue> ownQueue() {
  const uint32_t id = currentThreadId();
  std::lock_guard<std::mutex> g(g_registryLock);
  Registry& r = registry();
  std::shared_ptr<Queue>& q = r.threads[id];
  if (!q) {
    q = std::make_shared<Queue>();
    pthread_setspecific(r.threadEnd, &r);  // any value but null has the key's destructor run
  }
  return q;
}

// A queue holds at most this many messages, as a Windows thread's queue does: a
// post to a full queue fails, so messages a thread never takes cannot grow it without end.
constexpr size_t kQueueLimit = 10000;

bool post(const std::shared_ptr<Queue>& q, const Message& msg, Posting posting) {
  if (!q) return false;
  std::lock_guard<std::mutex> g(q->m);
  if (posting == Posting::kUnlessWaiting && q->items.contains(msg)) return true;
  if (q->items.size() >= kQueueLimit) return false;
  q->items.pushBack(msg);
  q->cv.notify_all();
  return true;
}

// Takes one timer that is due; the caller holds the queue's lock.
bool takeDueTimer(Queue& q, Timer* out) {
  const auto now = Clock::now();
  auto due = std::find_if(q.timers.begin(), q.timers.end(), [&](const Timer& t) { return t.due <= now; });
  if (due == q.timers.end()) return false;
  *out = *due;
  q.timers.erase(due);
  return true;
}

// Runs the due timers, each outside the lock (a callback may post or start timers).
void runDueTimers(Queue& q, std::unique_lock<std::mutex>& lock) {
  Timer t;
  while (takeDueTimer(q, &t)) {
    lock.unlock();
    t.callback(t.context, t.id);
    lock.lock();
  }
}

}  // namespace

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam, Posting posting) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(g_registryLock);
    if (!g_registry) return false;
    auto it = g_registry->windows.find(w);
    if (it != g_registry->windows.end()) q = it->second.lock();
  }
  return post(q, Message{w, message, wParam, lParam}, posting);
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam, Posting posting) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(g_registryLock);
    if (!g_registry) return false;
    auto it = g_registry->threads.find(threadId);
    if (it != g_registry->threads.end()) q = it->second;
  }
  return post(q, Message{nullptr, message, wParam, lParam}, posting);
}

Window messageWindowCreate() {
  auto q = ownQueue();
  Window w = new char;  // a unique handle
  std::lock_guard<std::mutex> g(g_registryLock);
  registry().windows[w] = q;
  return w;
}

void messageWindowDestroy(Window w) {
  if (!w) return;
  {
    std::lock_guard<std::mutex> g(g_registryLock);
    if (g_registry) g_registry->windows.erase(w);
  }
  delete static_cast<char*>(w);
}

bool messageTake(Message* out, uint32_t ms) {
  auto q = ownQueue();
  const bool limited = ms != kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? ms : 0);
  std::unique_lock<std::mutex> lock(q->m);
  for (;;) {
    runDueTimers(*q, lock);
    if (!q->items.empty()) break;
    auto wakeAt = Clock::time_point::max();
    if (limited) wakeAt = deadline;
    for (const Timer& t : q->timers) wakeAt = std::min(wakeAt, t.due);
    if (limited && Clock::now() >= deadline) return false;
    if (wakeAt == Clock::time_point::max())
      q->cv.wait(lock);
    else
      q->cv.wait_until(lock, wakeAt);
  }
  *out = q->items.popFront();
  return true;
}

bool messagePeek(Message* out, uint32_t message) {
  auto q = ownQueue();
  std::lock_guard<std::mutex> g(q->m);
  return q->items.takeFirst(message, out);
}

void messageDispatch(const Message&) {}

void timersRun() {
  auto q = ownQueue();
  std::unique_lock<std::mutex> lock(q->m);
  runDueTimers(*q, lock);
}

uintptr_t timerStart(uint32_t ms, TimerCallback callback, void* context) {
  auto q = ownQueue();
  const uintptr_t id = ++g_lastTimer;
  std::lock_guard<std::mutex> g(q->m);
  q->timers.push_back(Timer{id, Clock::now() + std::chrono::milliseconds(ms), callback, context});
  return id;
}

void messageQueuesRelease() {
  std::lock_guard<std::mutex> g(g_registryLock);
  if (!g_registry) return;
  pthread_key_delete(g_registry->threadEnd);
  delete g_registry;
  g_registry = nullptr;
}

}  // namespace vel::platform
