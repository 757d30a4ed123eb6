#include "base/BoundedQueue.h"

namespace vel {

namespace {
constexpr long kMaxCount = 0x7FFFFFFF;
}

BoundedQueueBase::BoundedQueueBase(size_t capacity)
    : slots_(capacity, nullptr), items_(0, kMaxCount), freeSlots_(static_cast<long>(capacity), kMaxCount) {}

bool BoundedQueueBase::putBack(void* item, uint32_t ms) {
  if (!freeSlots_.wait(ms)) return false;
  {
    ScopedLock guard(lock_);
    slots_[tail_] = item;
    tail_ = (tail_ + 1) % slots_.size();
  }
  items_.release();
  return true;
}

bool BoundedQueueBase::putFront(void* item, uint32_t ms) {
  if (!freeSlots_.wait(ms)) return false;
  {
    ScopedLock guard(lock_);
    head_ = (head_ + slots_.size() - 1) % slots_.size();
    slots_[head_] = item;
  }
  items_.release();
  return true;
}

bool BoundedQueueBase::takeFront(void** item, uint32_t ms) {
  if (!items_.wait(ms)) return false;
  {
    ScopedLock guard(lock_);
    *item = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
  }
  freeSlots_.release();
  return true;
}

bool BoundedQueueBase::takeBack(void** item, uint32_t ms) {
  if (!items_.wait(ms)) return false;
  {
    ScopedLock guard(lock_);
    tail_ = (tail_ + slots_.size() - 1) % slots_.size();
    *item = slots_[tail_];
  }
  freeSlots_.release();
  return true;
}

bool BoundedQueueBase::hasItem() {
  if (!items_.wait(0)) return false;
  items_.release();
  return true;
}

}  // namespace vel
