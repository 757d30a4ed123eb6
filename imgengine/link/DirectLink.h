// Direct link: a 32-bit header (port, 2-bit sequence, length) before each
// message, no CRC and no acknowledgement. The receiver reads a payload straight
// into the buffer of the port's pending read; a short message that arrives while
// nobody reads its port is kept by the port, so that one idle port never holds
// up the others.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "base/Sync.h"
#include "link/LinkBase.h"
#include "base/WorkerThread.h"

namespace vel {

class DirectLinkPort;

class DirectLink : public LinkBase {
 public:
  // Once its header is in, a message's payload must follow within this time.
  static constexpr int kPayloadTimeoutMs = 2000;
  // Payloads up to this size go out with their header in one transport write.
  static constexpr size_t kSingleWritePayload = 60;
  static constexpr size_t kHeaderBytes = 4;
  static constexpr uint32_t kMaxMessage = 0x3FFFFFF;  // 26 bits of length
  // Bytes a port keeps for a reader that has not asked yet: answers and event
  // messages, and an image block that overtakes its read. A longer unasked
  // message waits for its reader.
  static constexpr size_t kKeptBytes = 65536;

  DirectLink(ByteStream& transport, int priorityParameter);
  ~DirectLink() override;

  // Sends one message (split when longer than a header can say). The header's
  // sequence bits count the messages of every direct link in the library.
  void sendMessage(int port, const uint8_t* data, size_t length);
  // Waits until the receiver no longer works on the port (before it is destroyed).
  void waitUntilUnused(DirectLinkPort* port);

 protected:
  std::unique_ptr<LinkPort> makePort(int number, bool input) override;
  // Nothing is sent again on a direct link, so a message cut by the line failure
  // would leave a silent gap in a port's stream: fail the ports instead.
  void retransmit() override { resetAllPorts(); }

 private:
  void receiverRun(WorkerThread& self);
  // Hands one message's payload to the port; false when the line must be realigned.
  bool deliver(DirectLinkPort& port, uint32_t length);
  // Reads and drops a payload nobody is to have.
  bool discard(uint32_t length);

  std::atomic<DirectLinkPort*> inUse_{nullptr};
  std::vector<uint8_t> scratch_;  // the receiver's: a payload on its way to being kept
  WorkerThread receiver_;
};

// Points in a port's reset and read where a test can step in (null: none).
struct DirectLinkSeams {
  void (*insideReset)(DirectLinkPort&) = nullptr;
  void (*betweenMessages)(DirectLinkPort&) = nullptr;
};

// An input port's state is guarded by its lock: the one pending read (buffer,
// capacity, completed length), the bytes kept for the next read, and whether
// the receiver is writing into the reader's buffer. Two auto-reset events wake
// the reader and a receiver that waits for a read.
class DirectLinkPort : public LinkPort {
 public:
  DirectLinkPort(DirectLink& link, int number, bool input) : LinkPort(link, number, input), link_(link) {}
  ~DirectLinkPort() override;
  using LinkPort::read;
  using LinkPort::write;

  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override;
  void flush() override {}
  // Back into service, unless an abort came while it ran. After a port was in
  // service, what arrives before the channel's next request is written is the
  // late rest of an abandoned exchange and is dropped.
  void reset() override;
  void requestWritten() override;

  static DirectLinkSeams seams;

 private:
  friend class DirectLink;
  void wakeWaiters() override;

  // What the receiver does with a message for this port.
  enum class Take { IntoRead, Keep, Drop, Refuse, Wait };
  Take decide(uint32_t length) const;

  DirectLink& link_;
  Mutex lock_;
  Event readerWake_{false};
  Event receiverWake_{false};
  uint8_t* request_ = nullptr;  // the pending read's buffer, null when none
  size_t capacity_ = 0;
  size_t completed_ = 0;  // set by the receiver; the request is then taken back
  bool receiverWriting_ = false;
  std::atomic<bool> dropLate_{false};
  bool inService_ = false;
  uint32_t resets_ = 0;
  std::vector<uint8_t> kept_;
  size_t keptOffset_ = 0;
};

}  // namespace vel
