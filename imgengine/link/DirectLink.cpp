#include "link/DirectLink.h"

#include <cstring>

#include "base/LittleEndian.h"

namespace vel {

namespace {
// Numbers the messages of all direct links, from library load on.
std::atomic<uint32_t> g_messageCounter{0};
// How often a port going away looks whether the receiver still works on it.
constexpr uint32_t kUnusedPollMs = 1;
// Put into a port's completion queue: its reader has the line now.
DirectRequest g_grant;

// Clears the receiver's mark of the port it works on when a message is dealt with.
class InUseMark {
 public:
  explicit InUseMark(std::atomic<DirectLinkPort*>& mark) : mark_(mark) {}
  ~InUseMark() { mark_ = nullptr; }
  InUseMark(const InUseMark&) = delete;
  InUseMark& operator=(const InUseMark&) = delete;

 private:
  std::atomic<DirectLinkPort*>& mark_;
};
}  // namespace

DirectLink::DirectLink(ByteStream& transport, int priorityParameter)
    : LinkBase(transport),
      wait_(dynamic_cast<ReadWait*>(&transport)),
      receiver_(kWorkerStackBytes, priorityParameter + kReceiverPriorityStep,
                [this](WorkerThread& t) { receiverRun(t); }) {
  startWorkers({&receiver_});
}

DirectLink::~DirectLink() { stopWorkers(); }

std::unique_ptr<LinkPort> DirectLink::makePort(int number, bool input) {
  return std::make_unique<DirectLinkPort>(*this, number, input);
}

void DirectLink::wakeWorkers() {
  interrupt_ = true;
  turnEvent_.set();
}

void DirectLink::sendMessage(int port, const uint8_t* data, size_t length) {
  ScopedLock line(lineLock_);
  while (length > 0) {
    uint32_t n = length > kMaxMessage ? kMaxMessage : static_cast<uint32_t>(length);
    uint32_t seq = (g_messageCounter.fetch_add(1) + 1) & 3;
    uint32_t header = (n << 6) | (seq << 4) | static_cast<uint32_t>(port & 0xF);
    uint8_t local[kHeaderBytes + kSingleWritePayload];
    putLe32(local, header);
    if (n <= kSingleWritePayload) {
      std::memcpy(local + kHeaderBytes, data, n);
      transport_.write(local, kHeaderBytes + n, -1);
    } else {
      transport_.write(local, kHeaderBytes, -1);
      transport_.write(data, n, -1);
    }
    data += n;
    length -= n;
  }
}

void DirectLink::waitUntilUnused(DirectLinkPort* port) {
  while (inUse_.load() == port) platform::sleepMs(kUnusedPollMs);
}

DirectLink::Delivery DirectLink::deliver(uint32_t header, bool mayWait, DirectLinkPort** to) {
  uint32_t length = header >> 6;
  if (length == 0) return Delivery::kDone;
  InUseMark mark(inUse_);
  DirectLinkPort* port = nullptr;
  {
    ScopedLock reg(registrationLock_);
    port = static_cast<DirectLinkPort*>(portAt(static_cast<int>(header & 0xF)));
    inUse_ = port;
  }
  if (!port) {
    transport_.abort();  // nobody to take the payload: realign by resynchronising
    return Delivery::kDone;
  }
  DirectRequest* request = nullptr;
  if (mayWait) {
    port->requests().takeFront(&request);
  } else if (!port->requests().takeFront(&request, 0)) {
    return Delivery::kLeftOver;
  }
  if (!request || port->failed()) {
    // The reader went away; its payload is still on the line.
    transport_.abort();
    return Delivery::kDone;
  }
  if (request->size() < length) {
    // More than the reader asked for: the pending read stays pending.
    port->requests().putFront(request, 0);
    transport_.abort();
    return Delivery::kDone;
  }
  transport_.read(request->buffer, length, kPayloadTimeoutMs);
  if (transport_.failed()) {
    // Not completed: the resynchronisation that follows fails the port.
    port->requests().putFront(request, 0);
    return Delivery::kDone;
  }
  request->word = (length << 6) | (header & 0x3F);
  port->completions().putBack(request);
  if (to) *to = port;
  return Delivery::kDelivered;
}

void DirectLink::receiverRun(WorkerThread& self) {
  if (!wait_) return receiverAlone(self);
  while (!self.stopRequested()) {
    bool atLine = false;
    bool havePending = false;
    uint32_t header = 0;
    {
      ScopedLock turn(turnLock_);
      atLine = receiverTakesLineLocked();
      if (atLine && pending_) {
        havePending = true;
        header = pendingHeader_;
        pending_ = false;
      }
    }
    if (!atLine) {
      turnEvent_.wait(static_cast<int>(kIdleLineMs));
      continue;
    }
    if (!havePending) {
      interrupt_ = false;
      {
        ScopedLock turn(turnLock_);
        if (handOverLocked(nullptr)) continue;
      }
      if (!wait_->waitReadable(-1, interrupt_)) {
        if (self.stopRequested()) break;
        if (transport_.failed()) resynchronise();
        continue;  // interrupted: someone may want the line
      }
      uint8_t h[kHeaderBytes];
      transport_.read(h, sizeof h, -1);
      if (self.stopRequested()) break;
      if (transport_.failed()) {
        resynchronise();
        continue;
      }
      header = getLe32(h);
    }
    deliver(header, true, nullptr);
  }
}

void DirectLink::receiverAlone(WorkerThread& self) {
  while (!self.stopRequested()) {
    uint8_t h[kHeaderBytes];
    transport_.read(h, sizeof h, -1);
    if (self.stopRequested()) break;
    if (transport_.failed()) {
      resynchronise();
      continue;
    }
    deliver(getLe32(h), true, nullptr);
  }
}

// ---- the turn at the line ----

bool DirectLink::receiverTakesLineLocked() {
  if (!reader_) {
    busy_ = true;
    return true;
  }
  const bool idle = platform::tickCount() - idleSince_ >= kIdleLineMs;
  if (!busy_ && (pending_ || transport_.failed() || idle)) {
    reader_ = nullptr;
    busy_ = true;
    return true;
  }
  return false;
}

bool DirectLink::enterLineLocked(DirectLinkPort& port) {
  port.inRead_ = true;
  if (port.failed()) return false;
  if (pending_) {
    // The receiver has a message to finish first; it reads on.
    turnEvent_.set();
    return false;
  }
  if (!busy_) {
    reader_ = &port;
    busy_ = true;
    return true;
  }
  if (reader_ == &port) return true;
  wanted_ = &port;
  interrupt_ = true;
  wait_->interruptWait();
  return false;
}

bool DirectLink::handOverLocked(DirectLinkPort* from) {
  DirectLinkPort* to = wanted_;
  if (!to || to == from) return false;
  wanted_ = nullptr;
  if (!to->inRead_ || to->failed()) return false;
  if (!to->completions().putBack(&g_grant, 0)) return false;
  reader_ = to;
  busy_ = true;
  return true;
}

void DirectLink::toReceiverLocked() {
  reader_ = nullptr;
  busy_ = false;
  turnEvent_.set();
}

void DirectLink::portAborted(DirectLinkPort& port) {
  ScopedLock turn(turnLock_);
  if (wanted_ == &port) wanted_ = nullptr;
  if (reader_ != &port) return;
  if (port.inRead_) {
    // Its reader leaves the line when it sees the port failed.
    interrupt_ = true;
    if (wait_) wait_->interruptWait();
  } else {
    toReceiverLocked();
  }
}

DirectLink::LineEnd DirectLink::readLineFor(DirectLinkPort& port, uint32_t ms) {
  const bool limited = ms != platform::kInfinite;
  const uint32_t start = platform::tickCount();
  for (;;) {
    interrupt_ = false;
    {
      ScopedLock turn(turnLock_);
      if (reader_ != &port) return LineEnd::kLeft;
      if (port.failed()) {
        toReceiverLocked();
        return LineEnd::kLeft;
      }
      if (handOverLocked(&port)) return LineEnd::kLeft;
    }
    int waitMs = -1;
    if (limited) {
      const uint32_t elapsed = platform::tickCount() - start;
      if (elapsed >= ms) return LineEnd::kTimedOut;
      waitMs = static_cast<int>(ms - elapsed);
    }
    if (!wait_->waitReadable(waitMs, interrupt_)) {
      if (transport_.failed()) {
        // The receiver runs the resynchronisation.
        ScopedLock turn(turnLock_);
        toReceiverLocked();
        return LineEnd::kLeft;
      }
      continue;  // interrupted or timed out: looked at above
    }
    uint8_t h[kHeaderBytes];
    transport_.read(h, sizeof h, kPayloadTimeoutMs);
    if (!transport_.failed()) {
      const uint32_t header = getLe32(h);
      DirectLinkPort* to = nullptr;
      const Delivery d = deliver(header, false, &to);
      if (d == Delivery::kDelivered && to == &port) return LineEnd::kDelivered;
      if (d == Delivery::kLeftOver) {
        ScopedLock turn(turnLock_);
        pending_ = true;
        pendingHeader_ = header;
        toReceiverLocked();
        return LineEnd::kLeft;
      }
    }
    if (transport_.failed()) {
      ScopedLock turn(turnLock_);
      toReceiverLocked();
      return LineEnd::kLeft;
    }
  }
}

bool DirectLink::awaitCompletion(DirectLinkPort& port, uint32_t ms) {
  bool atLine = false;
  if (wait_) {
    ScopedLock turn(turnLock_);
    atLine = enterLineLocked(port);
  }
  bool delivered = false;
  bool completed = false;
  for (;;) {
    if (atLine) {
      atLine = false;
      const LineEnd end = readLineFor(port, ms);
      if (end == LineEnd::kTimedOut) {
        port.abort();
        break;
      }
      delivered = end == LineEnd::kDelivered;
    }
    DirectRequest* done = nullptr;
    if (!port.completions().takeFront(&done, ms)) port.abort();
    if (port.failed()) break;
    if (done == &port.request_) {
      completed = true;
      break;
    }
    if (done == &g_grant && !delivered && wait_) {
      ScopedLock turn(turnLock_);
      atLine = reader_ == &port && busy_;
    }
  }
  if (wait_) {
    ScopedLock turn(turnLock_);
    port.inRead_ = false;
    if (wanted_ == &port) wanted_ = nullptr;
    if (reader_ == &port) {
      if (port.failed()) {
        toReceiverLocked();
      } else {
        // Kept for the port's next read; the receiver takes it back once idle.
        busy_ = false;
        idleSince_ = platform::tickCount();
      }
    }
  }
  return completed;
}

// ---- ports ----

DirectLinkPort::~DirectLinkPort() {
  // Under the registration lock: a reset of all ports may be aborting this port right now.
  link_.unregisterPort(this);
  abort();
  link_.portAborted(*this);
  link_.waitUntilUnused(this);
}

void DirectLinkPort::reset() {
  link_.unregisterPort(this);
  DirectRequest* r = nullptr;
  while (requests_.takeFront(&r, 0)) {
  }
  while (completions_.takeFront(&r, 0)) {
  }
  failed_ = false;
  link_.registerPort(this);
}

void DirectLinkPort::wakeWaiters() {
  if (!requests_.hasItem()) requests_.putBack(nullptr, 0);
  if (!completions_.hasItem()) completions_.putBack(nullptr, 0);
  link_.portAborted(*this);
}

void DirectLinkPort::read(void* buffer, size_t length, int timeoutMs) {
  if (failed_.load() || !input_) return;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  const uint32_t ms = platform::waitMs(timeoutMs);
  while (wanted > 0) {
    uint32_t capacity = wanted > DirectLink::kMaxMessage ? DirectLink::kMaxMessage : static_cast<uint32_t>(wanted);
    request_.word = (capacity << 6) | static_cast<uint32_t>(number_);
    request_.buffer = out;
    if (!requests_.putBack(&request_, ms)) abort();
    if (failed_.load()) return;
    if (!link_.awaitCompletion(*this, ms)) {
      // The receiver may still hold the request: wait until it lets go of the buffer.
      link_.waitUntilUnused(this);
      return;
    }
    out += request_.size();
    wanted -= request_.size();
  }
}

void DirectLinkPort::write(const void* buffer, size_t length, int) {
  if (failed_.load() || input_ || length == 0) return;
  link_.sendMessage(number_, static_cast<const uint8_t*>(buffer), length);
}

}  // namespace vel
