#include "devices/HostRequests.h"

namespace sim {

using vel::devices::IoStart;
using vel::devices::Operation;

void HostRequests::start(Operation& op) {
  requests_[&op] = Request{};
  op.event().reset();
}

void HostRequests::complete(Operation& op, bool ok, uint32_t transferred) {
  requests_[&op] = Request{false, ok, transferred};
  op.event().set();
}

IoStart HostRequests::started(const Operation& op) const {
  const auto it = requests_.find(&op);
  return it != requests_.end() && it->second.pending ? IoStart::kPending : IoStart::kCompleted;
}

bool HostRequests::result(const Operation& op, uint32_t* transferred) const {
  const auto it = requests_.find(&op);
  const bool done = it != requests_.end() && !it->second.pending;
  if (transferred) *transferred = done ? it->second.transferred : 0;
  return done && it->second.ok;
}

void runUnlocked(std::unique_lock<std::mutex>& lock, std::function<void()> hook) {
  if (!hook) return;
  lock.unlock();
  hook();
  lock.lock();
}

}  // namespace sim
