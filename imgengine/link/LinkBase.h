// What both link kinds share: the transport, the line and registration locks,
// the port table, opening a channel's ports, starting and stopping the workers,
// the tokens and the resynchronisation handshake.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "base/ByteStream.h"
#include "base/Sync.h"
#include "base/WorkerThread.h"
#include "link/Link.h"
#include "link/LinkPort.h"

namespace vel {

constexpr int kLinkPorts = 16;

class LinkBase : public Link {
 public:
  explicit LinkBase(ByteStream& transport);

  // Throws std::out_of_range for a port number outside 0..15: the wire has four
  // bits for it, so another port's traffic would be read or written instead.
  std::unique_ptr<PortPair> openPortPair(int inputPort, int outputPort) final;

  void registerPort(LinkPort* port);
  void unregisterPort(LinkPort* port);
  Mutex& registrationLock() { return registrationLock_; }
  // Whether the port table holds this port now.
  bool holds(const LinkPort* port);

  // Run by the receiver when it finds the transport failed (or to end a turn
  // after a dropped packet): line recovery and token exchange, then reset all
  // ports or (same imager, nobody lost state) retransmit. Sets the ready event.
  void resynchronise();

 protected:
  // Stack of each link worker: its loop, the locks and the transport's calls.
  static constexpr size_t kWorkerStackBytes = 20000;
  // A receiver's priority parameter is this far above the link's own, which the
  // packet link's sender runs at.
  static constexpr int kReceiverPriorityStep = 1;

  // A port of this kind, constructed failed and unregistered.
  virtual std::unique_ptr<LinkPort> makePort(int number, bool input) = 0;
  // Aborts every registered port (the packet link first moves to a new generation).
  virtual void resetAllPorts();
  // Sends again what the imager may not have received after a resynchronisation
  // with the same imager.
  virtual void retransmit() = 0;
  // Wakes a worker that waits on something other than the transport; the stop
  // flags are set when it is called.
  virtual void wakeWorkers() {}

  // Starts the kind's workers (created suspended) with the transport aborted, so
  // that the receiver's first read fails at once and runs the resynchronisation;
  // returns once that first attempt has ended, successful or not.
  void startWorkers(std::initializer_list<WorkerThread*> workers);
  // Stops and joins the workers; the first thing the kind's destructor does.
  void stopWorkers();

  // The registered port under a number; call under the registration lock.
  LinkPort* portAt(int number) const { return number >= 0 && number < kLinkPorts ? ports_[number] : nullptr; }

  ByteStream& transport_;
  Mutex lineLock_;
  Mutex registrationLock_;

 private:
  bool exchangeTokens(uint32_t* imagerToken);

  Event ready_{false};
  std::atomic<bool> shuttingDown_{false};
  std::vector<WorkerThread*> workers_;
  LinkPort* ports_[kLinkPorts] = {};
  uint32_t ownToken_;
  uint32_t peerToken_ = 1;
};

}  // namespace vel
