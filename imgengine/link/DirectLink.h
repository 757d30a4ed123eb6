// Direct link: a 32-bit header (port, 2-bit sequence, length) before each
// message, no CRC and no acknowledgement; the payload goes straight into the
// buffer of the port's pending read.
//
// Who reads the line: on a transport that can wait for its next bytes without
// taking them (ReadWait), the thread of a port's read reads the line itself and
// keeps it between its reads, so that a reply costs no hand-off between threads.
// It takes the line from the receiver or from another port's reader, which is
// interrupted in its wait and leaves the line with a grant in the taker's
// completion queue; it delivers other ports' messages as the receiver would,
// and leaves to the receiver a message whose port has no read pending, the
// line's failure (resynchronisation) and a line it has left idle for a while.
// On any other transport the receiver alone reads the line.
#pragma once

#include <atomic>
#include <memory>

#include "base/BoundedQueue.h"
#include "base/ReadWait.h"
#include "base/WorkerThread.h"
#include "link/LinkBase.h"

namespace vel {

class DirectLinkPort;
struct DirectRequest;

class DirectLink : public LinkBase {
 public:
  // Once its header is in, a message's payload must follow within this time.
  static constexpr int kPayloadTimeoutMs = 2000;
  // Payloads up to this size go out with their header in one transport write.
  static constexpr size_t kSingleWritePayload = 60;
  static constexpr size_t kHeaderBytes = 4;
  static constexpr uint32_t kMaxMessage = 0x3FFFFFF;  // 26 bits of length
  // A line that a port's reader left idle this long goes back to the receiver;
  // the receiver looks this often while a port has the line.
  static constexpr uint32_t kIdleLineMs = 2;

  DirectLink(ByteStream& transport, int priorityParameter);
  ~DirectLink() override;

  // Sends one message (split when longer than a header can say). The header's
  // sequence bits count the messages of every direct link in the library.
  void sendMessage(int port, const uint8_t* data, size_t length);
  // Waits until the receiver no longer works on the port (before it is destroyed).
  void waitUntilUnused(DirectLinkPort* port);

  // Waits (each wait at most ms) until the port's posted request is completed,
  // at the line itself where it can; false when the port failed. The port is
  // aborted when the time is up.
  bool awaitCompletion(DirectLinkPort& port, uint32_t ms);
  // The port was aborted or goes away: the line forgets it, and a wait of its
  // reader at the line ends.
  void portAborted(DirectLinkPort& port);

 protected:
  std::unique_ptr<LinkPort> makePort(int number, bool input) override;
  // Nothing is sent again on a direct link, so a message cut by the line failure
  // would leave a silent gap in a port's stream: fail the ports instead.
  void retransmit() override { resetAllPorts(); }
  void wakeWorkers() override;

 private:
  enum class Delivery { kDone, kDelivered, kLeftOver };
  enum class LineEnd { kLeft, kDelivered, kTimedOut };

  void receiverRun(WorkerThread& self);
  void receiverAlone(WorkerThread& self);
  // Works on a message whose header was read: its payload into the pending
  // read of its port (*to: that port). mayWait: the receiver waits for the
  // port's read to be posted; a port's reader leaves such a message (kLeftOver).
  Delivery deliver(uint32_t header, bool mayWait, DirectLinkPort** to);
  // A port's reader at the line until its own request is completed (kDelivered),
  // it left the line (kLeft) or ms passed (kTimedOut).
  LineEnd readLineFor(DirectLinkPort& port, uint32_t ms);

  // Under turnLock_.
  bool enterLineLocked(DirectLinkPort& port);
  bool receiverTakesLineLocked();
  bool handOverLocked(DirectLinkPort* from);
  void toReceiverLocked();

  std::atomic<DirectLinkPort*> inUse_{nullptr};
  ReadWait* const wait_;  // the transport's wait; null: the receiver alone reads

  Mutex turnLock_;
  DirectLinkPort* reader_ = nullptr;  // the port whose reader has the line; null: the receiver
  bool busy_ = false;                 // the line's holder reads it (false: left idle, free to take)
  DirectLinkPort* wanted_ = nullptr;  // a port's reader that asked for the line
  bool pending_ = false;              // a header left to the receiver
  uint32_t pendingHeader_ = 0;
  uint32_t idleSince_ = 0;
  Event turnEvent_{false};        // the receiver's wake-up: the line came back to it
  std::atomic<bool> interrupt_{false};  // ends the wait of whoever is at the line

  WorkerThread receiver_;
};

// A pending read: bits 0-5 port and sequence, bits 6-31 capacity, then length.
struct DirectRequest {
  uint32_t word = 0;
  uint8_t* buffer = nullptr;
  uint32_t size() const { return word >> 6; }
};

class DirectLinkPort : public LinkPort {
 public:
  DirectLinkPort(DirectLink& link, int number, bool input) : LinkPort(link, number, input), link_(link) {}
  ~DirectLinkPort() override;
  using LinkPort::read;
  using LinkPort::write;

  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override;
  void flush() override {}
  void reset() override;

  BoundedQueue<DirectRequest>& requests() { return requests_; }
  BoundedQueue<DirectRequest>& completions() { return completions_; }

 private:
  friend class DirectLink;
  void wakeWaiters() override;

  // One read request at a time, and the null marker of an abort in its place.
  static constexpr size_t kQueueCapacity = 1;
  // Its completion, an abort's null marker and a grant of the line.
  static constexpr size_t kCompletionCapacity = 3;

  DirectLink& link_;
  BoundedQueue<DirectRequest> requests_{kQueueCapacity};
  BoundedQueue<DirectRequest> completions_{kCompletionCapacity};
  DirectRequest request_;
  bool inRead_ = false;  // under the link's turn lock: the port's reader waits for a completion
};

}  // namespace vel
