#include "link/PacketLink.h"

#include <cstring>

namespace vel {

PacketLink::PacketLink(ByteStream& transport, int priorityParameter)
    : LinkBase(transport),
      sender_(kWorkerStackBytes, priorityParameter, [this](WorkerThread& t) { senderRun(t); }),
      receiver_(kWorkerStackBytes, priorityParameter + kReceiverPriorityStep,
                [this](WorkerThread& t) { receiverRun(t); }) {
  buffers_.reset(new Packet[kBuffers]);
  sendBuffer_.reset(new uint8_t[kSendBatch * sizeof(Packet::wire)]);
  for (size_t i = 0; i < kBuffers; ++i) freePool_.putBack(&buffers_[i]);
  startWorkers({&sender_, &receiver_});
}

PacketLink::~PacketLink() { stopWorkers(); }

std::unique_ptr<LinkPort> PacketLink::makePort(int number, bool input) {
  return std::make_unique<PacketLinkPort>(*this, number, input);
}

Packet* PacketLink::takeFree() {
  Packet* p = nullptr;
  freePool_.takeFront(&p);
  return p;
}

void PacketLink::release(Packet* p) {
  // Never waits: the pool holds every buffer, so a full pool means p is in it already.
  if (p) freePool_.putBack(p, 0);
}

void PacketLink::send(Packet* p, bool front) {
  if (front)
    outgoing_.putFront(p);
  else
    outgoing_.putBack(p);
  outgoingReady_.set();
}

void PacketLink::send(Packet* const* packets, size_t count) {
  if (count == 0) return;
  for (size_t i = 0; i < count; ++i) outgoing_.putBack(packets[i]);
  outgoingReady_.set();
}

PacketLinkPort* PacketLink::packetPort(int number) { return static_cast<PacketLinkPort*>(portAt(number)); }

void PacketLink::resetAllPorts() {
  // One step for a port being reset on another thread, which stamps its fresh
  // packets and registers under this lock: it either gets the new generation or
  // is registered in time to be aborted here.
  ScopedLock reg(registrationLock_);
  ++generation_;
  LinkBase::resetAllPorts();
}

void PacketLink::retransmit() {
  // Under the line lock: the sender takes nothing until every packet is back in front.
  ScopedLock reg(registrationLock_);
  for (int i = 0; i < kLinkPorts; ++i)
    if (PacketLinkPort* port = packetPort(i)) port->requeueSent();
}

void PacketLink::receiverRun(WorkerThread& self) {
  while (!self.stopRequested()) {
    Packet* p = takeFree();
    p->generation = generation_.load();
    transport_.read(p->wire, kPacketHeaderBytes, -1);
    // A length beyond the buffer cannot come from a sound line: fault it so that
    // the resynchronisation below realigns the framing.
    bool oversize = !transport_.failed() && p->length() > kPacketPayloadMax;
    if (oversize) transport_.abort();
    if (!transport_.failed() && p->length() > 0) transport_.read(p->payload(), p->length(), kPayloadTimeoutMs);
    if (self.stopRequested()) {
      release(p);
      break;
    }
    if (transport_.failed() || p->computeCrc() != p->crc()) {
      release(p);
      resynchronise();
      continue;
    }
    ScopedLock reg(registrationLock_);
    if (PacketLinkPort* port = packetPort(p->port()))
      port->deliver(p);
    else
      release(p);
  }
}

void PacketLink::writeBatch(Packet* const* packets, size_t count, int timeoutMs) {
  // Under the line lock: one transport write for all, from the batch buffer (so
  // that a packet released meanwhile is not read again).
  size_t bytes = 0;
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(sendBuffer_.get() + bytes, packets[i]->wire, packets[i]->wireLength());
    bytes += packets[i]->wireLength();
  }
  {
    // Kept before the write, and kept even when it fails, so that a
    // retransmission sends them again: the imager's answer to a packet may be
    // delivered before the write returns, and it releases the oldest kept packet.
    ScopedLock reg(registrationLock_);
    for (size_t i = 0; i < count; ++i) {
      if (PacketLinkPort* port = packetPort(packets[i]->port()))
        port->keepSent(packets[i]);
      else
        release(packets[i]);
    }
  }
  transport_.write(sendBuffer_.get(), bytes, timeoutMs);
}

void PacketLink::sendNow(Packet* const* packets, size_t count, int timeoutMs) {
  if (count == 0) return;
  // Written on the caller's thread when the line is free and nothing waits for
  // the sender, which saves waking it; otherwise the sender writes them in turn.
  if (count > kSendBatch || !lineLock_.tryLock()) {
    send(packets, count);
    return;
  }
  if (outgoing_.hasItem()) {
    lineLock_.unlock();
    send(packets, count);
    return;
  }
  Packet* batch[kSendBatch];
  size_t kept = 0;
  for (size_t i = 0; i < count; ++i) {
    if (packets[i]->generation != generation_.load())
      release(packets[i]);  // stamped before all ports were reset
    else
      batch[kept++] = packets[i];
  }
  if (kept > 0) writeBatch(batch, kept, timeoutMs);
  lineLock_.unlock();
}

void PacketLink::senderRun(WorkerThread& self) {
  Packet* batch[kSendBatch];
  while (!self.stopRequested()) {
    lineLock_.lock();
    // Everything queued (up to a batch) goes in one transport write.
    size_t count = 0;
    bool taken = false;
    Packet* p = nullptr;
    while (count < kSendBatch && outgoing_.takeFront(&p, 0)) {
      taken = true;
      if (self.stopRequested() || p->generation != generation_.load())
        release(p);  // stopping, or queued before all ports were reset
      else
        batch[count++] = p;
    }
    if (!taken) {
      // Nothing to send: wait outside the line lock; every put sets the event.
      lineLock_.unlock();
      outgoingReady_.wait();
      continue;
    }
    if (count > 0) writeBatch(batch, count, -1);
    lineLock_.unlock();
  }
}

// ---- ports ----

PacketLinkPort::PacketLinkPort(PacketLink& link, int number, bool input) : LinkPort(link, number, input), link_(link) {}

PacketLinkPort::~PacketLinkPort() {
  link_.unregisterPort(this);
  returnAll();
}

void PacketLinkPort::returnAll() {
  link_.release(current_);
  current_ = nullptr;
  for (size_t i = 0; i < ackCount_; ++i) link_.release(acks_[i]);
  ackCount_ = 0;
  Packet* p = nullptr;
  while (receive_.takeFront(&p, 0)) link_.release(p);
  while (sent_.takeFront(&p, 0)) link_.release(p);
}

void PacketLinkPort::reset() {
  link_.unregisterPort(this);
  returnAll();
  Packet* fresh[kInFlight];
  for (Packet*& p : fresh) p = link_.takeFree();
  // Stamped with the generation and registered in one step against a reset of all
  // ports, so that the port never comes back with packets the sender discards.
  ScopedLock reg(link_.registrationLock());
  pendingReleases_ = 0;
  expected_ = kInFlight;
  offset_ = remaining_ = 0;
  // Input: placeholders for the acknowledgements owed; output: the credits.
  for (int i = 0; i < kInFlight; ++i) {
    fresh[i]->generation = link_.generation();
    fresh[i]->seal(number_, i, 0);
    (input_ ? sent_ : receive_).putBack(fresh[i], 0);
  }
  failed_ = false;
  link_.registerPort(this);
}

void PacketLinkPort::wakeWaiters() {
  if (!receive_.hasItem()) receive_.putBack(nullptr, 0);
}

Packet* PacketLinkPort::takeReceived(int timeoutMs) {
  Packet* p = nullptr;
  if (!receive_.takeFront(&p, 0)) {
    // About to wait: the imager may be waiting for these acknowledgements.
    sendAcknowledgements(timeoutMs);
    if (!receive_.takeFront(&p, platform::waitMs(timeoutMs))) abort();
  }
  if (!failed_.load()) return p;
  link_.release(p);  // a packet taken as the port failed
  return nullptr;
}

void PacketLinkPort::acknowledge(Packet* p, int timeoutMs) {
  p->seal(p->port(), p->sequence(), 0);
  if (ackCount_ == kReceiveCapacity) sendAcknowledgements(timeoutMs);
  acks_[ackCount_++] = p;
}

void PacketLinkPort::sendAcknowledgements(int timeoutMs) {
  // A read that may wait this long may also spend that on writing its
  // acknowledgements; a shorter one leaves them to the sender.
  if (timeoutMs < 0 || timeoutMs >= kAckWriteTimeoutMs)
    link_.sendNow(acks_, ackCount_, kAckWriteTimeoutMs);
  else
    link_.send(acks_, ackCount_);
  ackCount_ = 0;
}

void PacketLinkPort::releaseSent() {
  Packet* p = nullptr;
  while (pendingReleases_ > 0 && sent_.takeFront(&p, 0)) {
    --pendingReleases_;
    link_.release(p);
  }
}

void PacketLinkPort::deliver(Packet* p) {
  // Out of sequence, or beyond the two credits the imager has: dropped, not acknowledged.
  if (p->sequence() != expected_ || !receive_.putBack(p, 0)) {
    link_.release(p);
    return;
  }
  expected_ = (expected_ + 1) & 3;
  ++pendingReleases_;
  releaseSent();
}

void PacketLinkPort::keepSent(Packet* p) {
  if (!sent_.putBack(p, 0)) link_.release(p);
}

void PacketLinkPort::requeueSent() {
  releaseSent();
  Packet* p = nullptr;
  while (sent_.takeBack(&p, 0)) link_.send(p, true);
}

void PacketLinkPort::read(void* buffer, size_t length, int timeoutMs) {
  if (failed_.load() || !input_) return;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  while (wanted > 0) {
    if (!current_) {
      current_ = takeReceived(timeoutMs);
      if (!current_) break;
      offset_ = 0;
      remaining_ = current_->length();
    }
    size_t n = wanted < remaining_ ? wanted : remaining_;
    std::memcpy(out, current_->payload() + offset_, n);
    out += n;
    wanted -= n;
    offset_ += static_cast<uint32_t>(n);
    remaining_ -= static_cast<uint32_t>(n);
    if (remaining_ == 0) {
      // Used up: it becomes its own acknowledgement.
      acknowledge(current_, timeoutMs);
      current_ = nullptr;
    }
  }
  sendAcknowledgements(timeoutMs);
}

void PacketLinkPort::sendCurrent() {
  current_->seal(number_, (current_->sequence() + kInFlight) & 3, offset_);
  link_.send(current_);
  current_ = nullptr;
}

void PacketLinkPort::write(const void* buffer, size_t length, int timeoutMs) {
  if (failed_.load() || input_) return;
  ScopedLock output(outputLock_);
  auto* in = static_cast<const uint8_t*>(buffer);
  size_t left = length;
  while (left > 0) {
    if (!current_) {
      current_ = takeReceived(timeoutMs);  // a credit
      if (!current_) return;
      offset_ = 0;
    }
    size_t n = kPacketPayloadMax - offset_;
    if (n > left) n = left;
    std::memcpy(current_->payload() + offset_, in, n);
    in += n;
    left -= n;
    offset_ += static_cast<uint32_t>(n);
    if (offset_ == kPacketPayloadMax) sendCurrent();
  }
}

void PacketLinkPort::flush() {
  if (failed_.load() || input_) return;
  ScopedLock output(outputLock_);
  if (!failed_.load() && current_) sendCurrent();
}

void PacketLinkPort::flushUnlessBusy() {
  if (failed_.load() || input_ || !outputLock_.tryLock()) return;
  if (!failed_.load() && current_) sendCurrent();
  outputLock_.unlock();
}

}  // namespace vel
