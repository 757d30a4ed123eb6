#include "link/DirectLink.h"

#include <cstring>

#include "base/LittleEndian.h"

namespace vel {

namespace {
// Numbers the messages of all direct links, from library load on.
std::atomic<uint32_t> g_messageCounter{0};
// How often a port going away looks whether the receiver still works on it.
constexpr uint32_t kUnusedPollMs = 1;

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
      receiver_(kWorkerStackBytes, priorityParameter + kReceiverPriorityStep,
                [this](WorkerThread& t) { receiverRun(t); }) {
  startWorkers({&receiver_});
}

DirectLink::~DirectLink() { stopWorkers(); }

std::unique_ptr<LinkPort> DirectLink::makePort(int number, bool input) {
  return std::make_unique<DirectLinkPort>(*this, number, input);
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

void DirectLink::receiverRun(WorkerThread& self) {
  while (!self.stopRequested()) {
    uint8_t h[kHeaderBytes];
    transport_.read(h, sizeof h, -1);
    if (self.stopRequested()) break;
    if (transport_.failed()) {
      resynchronise();
      continue;
    }
    uint32_t header = getLe32(h);
    uint32_t length = header >> 6;
    if (length == 0) continue;
    InUseMark mark(inUse_);
    DirectLinkPort* port = nullptr;
    {
      ScopedLock reg(registrationLock_);
      port = static_cast<DirectLinkPort*>(portAt(static_cast<int>(header & 0xF)));
      inUse_ = port;
    }
    if (!port) {
      transport_.abort();  // nobody to take the payload: realign by resynchronising
      continue;
    }
    DirectRequest* request = nullptr;
    port->requests().takeFront(&request);
    if (!request || port->failed()) {
      // The reader went away; its payload is still on the line.
      transport_.abort();
      continue;
    }
    if (request->size() < length) {
      // More than the reader asked for: the pending read stays pending.
      port->requests().putFront(request, 0);
      transport_.abort();
      continue;
    }
    transport_.read(request->buffer, length, kPayloadTimeoutMs);
    if (transport_.failed()) {
      // Not completed: the resynchronisation that follows fails the port.
      port->requests().putFront(request, 0);
      continue;
    }
    request->word = (length << 6) | (header & 0x3F);
    port->completions().putBack(request, 0);
  }
}

// ---- ports ----

DirectLinkPort::~DirectLinkPort() {
  // Under the registration lock: a reset of all ports may be aborting this port right now.
  link_.unregisterPort(this);
  abort();
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
    DirectRequest* done = nullptr;
    while (done != &request_) {
      if (!completions_.takeFront(&done, ms)) abort();
      if (failed_.load()) break;
    }
    if (failed_.load()) {
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
