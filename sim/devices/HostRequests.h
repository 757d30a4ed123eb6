// The host's overlapped requests on a simulated device, by the operation record
// each was started with: what the system keeps for a real device in its own
// record. A completion signals the record's event, as the system does. The
// device's lock guards it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "transport/DeviceSeam.h"

namespace sim {

class HostRequests {
 public:
  // A request starts pending on op; op's event is reset.
  void start(vel::devices::Operation& op);
  void complete(vel::devices::Operation& op, bool ok, uint32_t transferred);
  // How the request on op started: completed at once or pending.
  vel::devices::IoStart started(const vel::devices::Operation& op) const;
  // The result without waiting: false while pending, when it failed, or for a
  // record that never started a request here.
  bool result(const vel::devices::Operation& op, uint32_t* transferred) const;
  // The host closed the device: its records are no longer ours.
  void clear() { requests_.clear(); }

 private:
  struct Request {
    bool pending = true;
    bool ok = false;
    uint32_t transferred = 0;
  };
  std::map<const vel::devices::Operation*, Request> requests_;
};

// Runs a test's hook (when set) with the device's lock released, so that it may
// call into the host's transport.
void runUnlocked(std::unique_lock<std::mutex>& lock, std::function<void()> hook);

}  // namespace sim
