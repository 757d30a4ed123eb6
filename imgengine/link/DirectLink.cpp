#include "link/DirectLink.h"

#include <algorithm>
#include <cstring>

#include "base/LittleEndian.h"

namespace vel {

namespace {
// Numbers the messages of all direct links, from library load on.
std::atomic<uint32_t> g_messageCounter{0};
// How often a port going away looks whether the receiver still works on it.
constexpr uint32_t kUnusedPollMs = 1;
// How often a receiver that waits for a read looks whether the link is stopping.
constexpr int kWaitForReadPollMs = 100;

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

// Releases a held lock for the scope: the transport's reads and the waits run
// without the port's lock.
class Unlocked {
 public:
  explicit Unlocked(Mutex& m) : m_(m) { m_.unlock(); }
  ~Unlocked() { m_.lock(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  Mutex& m_;
};
}  // namespace

DirectLinkSeams DirectLinkPort::seams;

DirectLink::DirectLink(ByteStream& transport, int priorityParameter)
    : LinkBase(transport),
      scratch_(kKeptBytes),
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
    const uint32_t header = getLe32(h);
    const uint32_t length = header >> 6;
    if (length == 0) continue;
    InUseMark mark(inUse_);
    DirectLinkPort* port = nullptr;
    {
      ScopedLock reg(registrationLock_);
      port = static_cast<DirectLinkPort*>(portAt(static_cast<int>(header & 0xF)));
      inUse_ = port;
    }
    // Nobody to take the payload, or a read that asked for less: it is still on
    // the line, so realign by resynchronising.
    if (!port || !deliver(*port, length)) transport_.abort();
  }
}

DirectLinkPort::Take DirectLinkPort::decide(uint32_t length) const {
  if (failed_.load() || !input_) return Take::Refuse;
  if (dropLate_.load()) return Take::Drop;
  const bool nothingKept = keptOffset_ == kept_.size();
  if (request_ && nothingKept) return capacity_ < length ? Take::Refuse : Take::IntoRead;
  if (kept_.size() - keptOffset_ + length <= DirectLink::kKeptBytes) return Take::Keep;
  return Take::Wait;
}

bool DirectLink::deliver(DirectLinkPort& port, uint32_t length) {
  ScopedLock hold(port.lock_);
  for (;;) {
    switch (port.decide(length)) {
      case DirectLinkPort::Take::Refuse: return false;
      case DirectLinkPort::Take::Drop: {
        Unlocked free(port.lock_);
        return discard(length);
      }
      case DirectLinkPort::Take::IntoRead: {
        port.receiverWriting_ = true;
        uint8_t* buffer = port.request_;
        {
          Unlocked free(port.lock_);
          transport_.read(buffer, length, kPayloadTimeoutMs);
        }
        port.receiverWriting_ = false;
        // Cut short: not completed; the resynchronisation that follows fails the port.
        if (!transport_.failed()) {
          port.request_ = nullptr;
          port.completed_ = length;
        }
        port.readerWake_.set();
        return true;
      }
      case DirectLinkPort::Take::Keep: {
        const uint32_t resets = port.resets_;
        {
          Unlocked free(port.lock_);
          transport_.read(scratch_.data(), length, kPayloadTimeoutMs);
        }
        // A port reset meanwhile has no use for what came before it.
        if (transport_.failed() || port.failed_.load() || port.resets_ != resets) return true;
        port.kept_.erase(port.kept_.begin(), port.kept_.begin() + static_cast<std::ptrdiff_t>(port.keptOffset_));
        port.keptOffset_ = 0;
        port.kept_.insert(port.kept_.end(), scratch_.begin(), scratch_.begin() + length);
        port.readerWake_.set();
        return true;
      }
      case DirectLinkPort::Take::Wait: {
        Unlocked free(port.lock_);
        port.receiverWake_.wait(kWaitForReadPollMs);
        if (receiver_.stopRequested()) return false;
        break;
      }
    }
  }
}

bool DirectLink::discard(uint32_t length) {
  while (length > 0 && !transport_.failed()) {
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(scratch_.size()));
    transport_.read(scratch_.data(), n, kPayloadTimeoutMs);
    length -= n;
  }
  return true;
}

// ---- ports ----

DirectLinkPort::~DirectLinkPort() {
  link_.unregisterPort(this);
  abort();
  wakeWaiters();  // also when it had failed before: a receiver waiting for a read leaves
  link_.waitUntilUnused(this);
}

void DirectLinkPort::reset() {
  const uint32_t abortsBefore = aborts_.load();
  ScopedLock hold(lock_);
  ScopedLock reg(link_.registrationLock());
  request_ = nullptr;
  completed_ = 0;
  kept_.clear();
  keptOffset_ = 0;
  ++resets_;
  readerWake_.reset();
  dropLate_ = inService_;
  inService_ = true;
  if (seams.insideReset) seams.insideReset(*this);
  if (aborts_.load() != abortsBefore) return;  // the abort wins: the port stays failed
  failed_ = false;
  link_.registerPort(this);
}

void DirectLinkPort::requestWritten() {
  if (dropLate_.load()) dropLate_ = false;
}

void DirectLinkPort::wakeWaiters() {
  readerWake_.set();
  receiverWake_.set();
}

void DirectLinkPort::read(void* buffer, size_t length, int timeoutMs) {
  if (failed_.load() || !input_) return;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t wanted = length;
  const uint32_t ms = platform::waitMs(timeoutMs);
  ScopedLock hold(lock_);
  while (wanted > 0 && !failed_.load()) {
    size_t got = 0;
    if (completed_ > 0) {
      got = completed_;
      completed_ = 0;
    } else if (keptOffset_ < kept_.size()) {
      // Kept bytes came first; a pending request is taken back (the receiver
      // fills one only when nothing is kept).
      request_ = nullptr;
      got = std::min(wanted, kept_.size() - keptOffset_);
      std::memcpy(out, kept_.data() + keptOffset_, got);
      keptOffset_ += got;
      if (keptOffset_ == kept_.size()) receiverWake_.set();  // room for a longer message
    }
    if (got > 0) {
      out += got;
      wanted -= got;
      if (wanted > 0 && seams.betweenMessages) seams.betweenMessages(*this);
      continue;
    }
    if (!request_) {
      request_ = out;
      capacity_ = std::min<size_t>(wanted, DirectLink::kMaxMessage);
      receiverWake_.set();
    }
    bool signalled = false;
    {
      Unlocked free(lock_);
      signalled = readerWake_.wait(ms);
    }
    if (!signalled && completed_ == 0 && keptOffset_ == kept_.size()) abort();
  }
  // The receiver may still be writing into the buffer: wait until it lets go.
  while (receiverWriting_) {
    Unlocked free(lock_);
    readerWake_.wait(kWaitForReadPollMs);
  }
  request_ = nullptr;
  completed_ = 0;
}

void DirectLinkPort::write(const void* buffer, size_t length, int) {
  if (failed_.load() || input_ || length == 0) return;
  link_.sendMessage(number_, static_cast<const uint8_t*>(buffer), length);
}

}  // namespace vel
