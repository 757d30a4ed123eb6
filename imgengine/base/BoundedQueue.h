// Ring of N pointers shared between threads: a mutex guards head and tail, an
// items semaphore makes takers wait and a free-slots semaphore makes putters wait.
// A null pointer is a valid item: abort() puts one in to wake a blocked taker.
#pragma once

#include <cstddef>
#include <vector>

#include "base/Sync.h"

namespace vel {

class BoundedQueueBase {
 public:
  explicit BoundedQueueBase(size_t capacity);

  // Each operation waits at most ms (platform::kInfinite = no limit) and answers
  // whether it was done.
  bool putBack(void* item, uint32_t ms);
  bool putFront(void* item, uint32_t ms);
  bool takeFront(void** item, uint32_t ms);
  bool takeBack(void** item, uint32_t ms);
  // Non-blocking test whether an item is present.
  bool hasItem();
  size_t capacity() const { return slots_.size(); }

 private:
  std::vector<void*> slots_;
  size_t head_ = 0;
  size_t tail_ = 0;
  Mutex lock_;
  Semaphore items_;
  Semaphore freeSlots_;
};

template <typename T>
class BoundedQueue : private BoundedQueueBase {
 public:
  explicit BoundedQueue(size_t capacity) : BoundedQueueBase(capacity) {}

  bool putBack(T* item, uint32_t ms = platform::kInfinite) { return BoundedQueueBase::putBack(item, ms); }
  bool putFront(T* item, uint32_t ms = platform::kInfinite) { return BoundedQueueBase::putFront(item, ms); }
  bool takeFront(T** item, uint32_t ms = platform::kInfinite) { return take(item, ms, &BoundedQueueBase::takeFront); }
  bool takeBack(T** item, uint32_t ms = platform::kInfinite) { return take(item, ms, &BoundedQueueBase::takeBack); }
  using BoundedQueueBase::capacity;
  using BoundedQueueBase::hasItem;

 private:
  bool take(T** item, uint32_t ms, bool (BoundedQueueBase::*op)(void**, uint32_t)) {
    void* raw = nullptr;
    if (!(this->*op)(&raw, ms)) return false;
    *item = static_cast<T*>(raw);
    return true;
  }
};

}  // namespace vel
