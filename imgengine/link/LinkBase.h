// What both link kinds share: the transport, the line and registration locks,
// the port table, the tokens and the resynchronisation handshake.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/ByteStream.h"
#include "link/Link.h"
#include "link/LinkPort.h"
#include "base/Sync.h"

namespace vel {

constexpr int kLinkPorts = 16;
constexpr int kLinkStackBytes = 20000;

class LinkBase : public Link {
 public:
  explicit LinkBase(ByteStream& transport);

  void registerPort(LinkPort* port);
  void unregisterPort(LinkPort* port);

  ByteStream& transport() { return transport_; }
  Mutex& lineLock() { return lineLock_; }
  Mutex& registrationLock() { return registrationLock_; }
  uint32_t ownToken() const { return ownToken_; }
  uint32_t peerToken() const { return peerToken_; }
  bool shuttingDown() const { return shuttingDown_.load(); }

  // Run by the receiver when it finds the transport failed (or to end a turn
  // after a dropped packet): line recovery and token exchange, then reset all
  // ports or (same imager, nobody lost state) retransmit. Sets the ready event.
  void resynchronise();

 protected:
  // Aborts every registered port (the packet link first moves to a new generation).
  virtual void resetAllPorts();
  // Sends again what the imager may not have received (packet link only).
  virtual void retransmit() {}
  // The registered port under a number; call under the registration lock.
  LinkPort* portAt(int number) const { return number >= 0 && number < kLinkPorts ? ports_[number] : nullptr; }

  ByteStream& transport_;
  Mutex lineLock_;
  Mutex registrationLock_;
  Event ready_{false};
  std::atomic<bool> shuttingDown_{false};

 private:
  bool exchangeTokens(uint32_t* imagerToken);

  LinkPort* ports_[kLinkPorts] = {};
  uint32_t ownToken_;
  uint32_t peerToken_ = 1;
};

}  // namespace vel
