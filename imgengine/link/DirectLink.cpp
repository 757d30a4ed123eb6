#include "link/DirectLink.h"

#include <cstring>

namespace vel {

namespace {
std::atomic<uint32_t> g_messageCounter{0};
}

uint32_t DirectLink::messageCounter() { return g_messageCounter.load(); }
void DirectLink::setMessageCounter(uint32_t value) { g_messageCounter = value; }

DirectLink::DirectLink(ByteStream& transport, int priorityParameter) : LinkBase(transport) {
  receiver_ = std::make_unique<WorkerThread>(kLinkStackBytes, priorityParameter + 1,
                                             [this](WorkerThread& t) { receiverRun(t); });
  transport_.abort();
  receiver_->resume();
  ready_.wait();
}

DirectLink::~DirectLink() {
  shuttingDown_ = true;
  receiver_->stop();
  transport_.abort();
  receiver_->join();
}

std::unique_ptr<PortPair> DirectLink::openPortPair(int inputPort, int outputPort) {
  auto in = std::make_unique<DirectLinkPort>(*this, inputPort, true);
  auto out = std::make_unique<DirectLinkPort>(*this, outputPort, false);
  in->reset();
  out->reset();
  return std::make_unique<LinkPortPair>(std::move(in), std::move(out), false);
}

void DirectLink::sendMessage(int port, const uint8_t* data, size_t length) {
  ScopedLock line(lineLock_);
  while (length > 0) {
    uint32_t n = length > kMaxMessage ? kMaxMessage : static_cast<uint32_t>(length);
    uint32_t seq = (g_messageCounter.fetch_add(1) + 1) & 3;
    uint32_t header = (n << 6) | (seq << 4) | static_cast<uint32_t>(port & 0xF);
    uint8_t local[4 + kSingleWritePayload];
    for (int i = 0; i < 4; ++i) local[i] = static_cast<uint8_t>(header >> (8 * i));
    if (n <= kSingleWritePayload) {
      std::memcpy(local + 4, data, n);
      transport_.write(local, 4 + n, -1);
    } else {
      transport_.write(local, 4, -1);
      transport_.write(data, n, -1);
    }
    data += n;
    length -= n;
  }
}

void DirectLink::waitUntilUnused(DirectLinkPort* port) {
  while (inUse_.load() == port) platform::sleepMs(1);
}

void DirectLink::receiverRun(WorkerThread& self) {
  while (!self.stopRequested()) {
    uint8_t h[4];
    transport_.read(h, sizeof h, -1);
    if (self.stopRequested()) break;
    if (transport_.failed()) {
      resynchronise();
      continue;
    }
    uint32_t header = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
    uint32_t length = header >> 6;
    if (length == 0) continue;
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
      inUse_ = nullptr;
      transport_.abort();
      continue;
    }
    if (request->size() < length) {
      // More than the reader asked for: the pending read stays pending.
      port->requests().putFront(request, 0);
      inUse_ = nullptr;
      transport_.abort();
      continue;
    }
    transport_.read(request->buffer, length, kPayloadTimeoutMs);
    if (transport_.failed()) {
      port->requests().putFront(request, 0);  // not completed; the next message fills it
      inUse_ = nullptr;
      continue;
    }
    request->word = (length << 6) | (header & 0x3F);
    port->completions().putBack(request, 0);
    inUse_ = nullptr;
  }
  inUse_ = nullptr;
}

// ---- ports ----

DirectLinkPort::~DirectLinkPort() {
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

void DirectLinkPort::abort() {
  if (failed_.load()) return;
  link_.unregisterPort(this);
  failed_ = true;
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
