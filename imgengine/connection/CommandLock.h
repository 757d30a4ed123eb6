// The lock of the command channel: every command holds it for its whole exchange.
// A host hand-off reserves it for the operation worker that reads the response,
// so that no other command slips in between the export releasing the lock and
// the worker taking it (the answer of one would be parsed for the other).
#pragma once

#include <atomic>

#include "base/Sync.h"

namespace vel {

class CommandLock {
 public:
  // Waits until the lock is free and not reserved.
  void lock();
  void unlock() { m_.unlock(); }

  // Called by the holder: once it releases the lock, only takeReserved() gets it.
  void reserve();
  // The party the lock was reserved for takes it (waiting for the holder's release).
  void takeReserved();
  // A reservation that will not be taken (its worker goes away) is dropped.
  void dropReservation();

 private:
  Mutex m_;
  std::atomic<bool> reserved_{false};
  Event unreserved_{true, true};
};

// Holds the command lock for a scope.
class CommandHold {
 public:
  explicit CommandHold(CommandLock& lock) : lock_(lock) { lock_.lock(); }
  ~CommandHold() { lock_.unlock(); }
  CommandHold(const CommandHold&) = delete;
  CommandHold& operator=(const CommandHold&) = delete;

 private:
  CommandLock& lock_;
};

}  // namespace vel
