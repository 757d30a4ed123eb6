// Base of every thread of the library: created suspended with a stack size and a
// priority parameter, started by its owner once the owner is built, stopped with
// a flag and an event, joined by the owner before the owner's resources go.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "base/Sync.h"
#include "platform/Threads.h"

namespace vel {

// Priority parameters of the library's threads; the platform priority is
// (parameter / 1,000,000) - 15.
constexpr int kPriorityNormal = 15000000;    // platform priority 0
constexpr int kPriorityCritical = 29000000;  // platform priority 14: the link's receivers

class WorkerThread {
 public:
  using Body = std::function<void(WorkerThread&)>;

  // Throws std::runtime_error when the platform cannot create the thread.
  WorkerThread(size_t stackBytes, int priorityParameter, Body body);
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Priority passed to the platform: (parameter / 1,000,000) - 15.
  static int platformPriority(int priorityParameter) { return priorityParameter / 1000000 - 15; }

  void resume();
  // Sets the stop flag and signals the stop event; owners may add their own wake-up.
  virtual void stop();
  void join();

  bool stopRequested() const { return stopFlag_.load(); }
  Event& stopEvent() { return stopEvent_; }
  int priority() const { return priority_; }

  // The WorkerThread running on the calling thread, null for threads started elsewhere.
  static WorkerThread* current();

  // The slot every WorkerThread stores itself in; allocated at library load.
  static void allocateSlot();
  static void freeSlot();

 private:
  static void entry(void* self);

  Event stopEvent_{false};
  std::atomic<bool> stopFlag_{false};
  Body body_;
  platform::NativeThread* thread_ = nullptr;
  int priority_;
  bool resumed_ = false;
  bool joined_ = false;
};

}  // namespace vel
