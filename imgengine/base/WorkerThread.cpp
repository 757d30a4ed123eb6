#include "base/WorkerThread.h"

#include <stdexcept>

namespace vel {

namespace {
platform::TlsSlot* g_slot = nullptr;
}

void WorkerThread::allocateSlot() {
  if (!g_slot) g_slot = platform::tlsAllocate();
}

void WorkerThread::freeSlot() {
  platform::tlsFree(g_slot);
  g_slot = nullptr;
}

WorkerThread* WorkerThread::current() {
  return g_slot ? static_cast<WorkerThread*>(platform::tlsGet(g_slot)) : nullptr;
}

WorkerThread::WorkerThread(size_t stackBytes, int priorityParameter, Body body)
    : body_(std::move(body)), priority_(platformPriority(priorityParameter)) {
  thread_ = platform::threadCreateSuspended(&WorkerThread::entry, this, stackBytes);
  if (!thread_) throw std::runtime_error("thread creation failed");
  platform::threadSetPriority(thread_, priority_);  // a refused value leaves the default
}

WorkerThread::~WorkerThread() {
  if (!joined_) {
    // A thread that was never started still has to run to its end before it goes.
    stop();
    if (!resumed_) resume();
    join();
  }
  platform::threadDestroy(thread_);
}

void WorkerThread::entry(void* self) {
  auto* t = static_cast<WorkerThread*>(self);
  if (g_slot) platform::tlsSet(g_slot, t);
  if (!t->stopRequested()) t->body_(*t);
}

void WorkerThread::resume() {
  if (resumed_) return;
  resumed_ = true;
  platform::threadResume(thread_);
}

void WorkerThread::stop() {
  stopFlag_.store(true);
  stopEvent_.set();
}

void WorkerThread::join() {
  if (joined_) return;
  if (!resumed_) resume();
  platform::threadJoin(thread_);
  joined_ = true;
}

}  // namespace vel
