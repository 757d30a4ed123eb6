// Direct link: a 32-bit header (port, 2-bit sequence, length) before each
// message, no CRC and no acknowledgement; the receiver reads the payload straight
// into the buffer of the port's pending read.
#pragma once

#include <atomic>
#include <memory>

#include "base/BoundedQueue.h"
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

  std::atomic<DirectLinkPort*> inUse_{nullptr};
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
  void wakeWaiters() override;

  // One read request at a time, and the null marker of an abort in its place.
  static constexpr size_t kQueueCapacity = 1;

  DirectLink& link_;
  BoundedQueue<DirectRequest> requests_{kQueueCapacity};
  BoundedQueue<DirectRequest> completions_{kQueueCapacity};
  DirectRequest request_;
};

}  // namespace vel
