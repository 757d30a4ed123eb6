// Packet link: CRC-protected packets of at most 1,016 payload bytes, a 2-bit
// sequence per port, two credits per port and direction, retransmission after a
// resynchronisation with the same imager. 66 packet buffers circulate between the
// free pool, the ports, the outgoing queue and the sent queues; nothing is
// allocated after construction.
#pragma once

#include <memory>

#include "base/BoundedQueue.h"
#include "link/LinkBase.h"
#include "link/Packet.h"
#include "base/WorkerThread.h"

namespace vel {

class PacketLinkPort;

class PacketLink : public LinkBase {
 public:
  // Packet buffers, allocated at construction; no more are ever made.
  static constexpr size_t kBuffers = 66;
  // Every buffer but the one the receiver fills can wait for the sender.
  static constexpr size_t kOutgoingCapacity = kBuffers - 1;
  // The payload follows its header closely; longer means the framing is lost.
  static constexpr int kPayloadTimeoutMs = 500;

  PacketLink(ByteStream& transport, int priorityParameter);
  ~PacketLink() override;

  uint32_t generation() const { return generation_.load(); }
  Packet* takeFree();
  void release(Packet* p);
  // Queues a packet for the sender, at the back (new packets) or the front (retransmission).
  void send(Packet* p, bool front = false);
  // Queues packets for the sender in this order, with one wake-up.
  void send(Packet* const* packets, size_t count);
  // Writes packets at once on the calling thread (the transport write waits at
  // most timeoutMs) when the line is free and the sender has nothing queued;
  // else queues them as send() does.
  void sendNow(Packet* const* packets, size_t count, int timeoutMs);

 protected:
  std::unique_ptr<LinkPort> makePort(int number, bool input) override;
  void resetAllPorts() override;
  void retransmit() override;
  void wakeWorkers() override { outgoingReady_.set(); }

 private:
  // Packets the sender takes from the queue and writes with one transport write.
  static constexpr size_t kSendBatch = 16;

  void receiverRun(WorkerThread& self);
  void senderRun(WorkerThread& self);
  // Under the line lock: writes the packets (all of this generation) with one
  // transport write and keeps each with its port until released.
  void writeBatch(Packet* const* packets, size_t count, int timeoutMs);
  PacketLinkPort* packetPort(int number);

  std::unique_ptr<Packet[]> buffers_;
  // The sender's batch, laid out as on the wire; only the sender uses it.
  std::unique_ptr<uint8_t[]> sendBuffer_;
  BoundedQueue<Packet> freePool_{kBuffers};
  BoundedQueue<Packet> outgoing_{kOutgoingCapacity};
  Event outgoingReady_{false};  // set after every put into the outgoing queue
  std::atomic<uint32_t> generation_{0};
  WorkerThread sender_;
  WorkerThread receiver_;
};

class PacketLinkPort : public LinkPort {
 public:
  PacketLinkPort(PacketLink& link, int number, bool input);
  ~PacketLinkPort() override;
  using LinkPort::read;
  using LinkPort::write;

  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override;
  void flush() override;
  void flushUnlessBusy() override;
  void reset() override;

  // Receiver, under the registration lock: accept or drop a packet for this port.
  void deliver(Packet* p);
  // Sender, under the registration lock: keep a written packet until released.
  void keepSent(Packet* p);
  // Retransmission, under the line and registration locks.
  void requeueSent();

 private:
  // Packets in flight per port and direction. Reset makes this many credits
  // (output) or acknowledgement placeholders (input), numbered from 0, so the
  // first data packet either way has this sequence number.
  static constexpr int kInFlight = 2;
  // Received packets (or credits) and the null marker of an abort.
  static constexpr size_t kReceiveCapacity = kInFlight + 1;
  // Written packets waiting for their release: at most kInFlight, doubled for
  // margin; a packet that finds the queue full is released and not sent again.
  static constexpr size_t kSentCapacity = 2 * kInFlight;
  // A reader writes its acknowledgements itself only when its read may wait at
  // least this long, and its write waits at most this long (as the handshake's
  // writes do); a line that cannot take them in that time is resynchronised.
  static constexpr int kAckWriteTimeoutMs = 100;

  void wakeWaiters() override;
  Packet* takeReceived(int timeoutMs);
  // Input ports: a used-up packet becomes its acknowledgement; the reader sends
  // those it has gathered together before it waits and when its read ends,
  // writing them itself when the line is free.
  void acknowledge(Packet* p, int timeoutMs);
  void sendAcknowledgements(int timeoutMs);
  void releaseSent();
  void sendCurrent();
  void returnAll();

  PacketLink& link_;
  // Output ports: write and flush fill and seal the current packet; one thread at a time.
  Mutex outputLock_;
  BoundedQueue<Packet> receive_{kReceiveCapacity};
  BoundedQueue<Packet> sent_{kSentCapacity};
  int expected_ = kInFlight;
  uint32_t pendingReleases_ = 0;
  Packet* current_ = nullptr;
  Packet* acks_[kReceiveCapacity] = {};
  size_t ackCount_ = 0;
  uint32_t offset_ = 0;
  uint32_t remaining_ = 0;
};

}  // namespace vel
