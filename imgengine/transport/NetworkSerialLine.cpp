#include "transport/NetworkSerialLine.h"

#include <algorithm>
#include <exception>

#include "platform/Threads.h"

namespace vel {

using devices::IoStart;
using devices::Operation;

namespace {

constexpr size_t kHelperStack = 64 * 1024;

// SET-BAUDRATE with the rate in network byte order.
void appendBaudRate(std::vector<uint8_t>& out, uint32_t baud) {
  const uint8_t value[4] = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                            static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
  telnet::appendComCommand(out, telnet::kSetBaudRate, value, sizeof value);
}

}  // namespace

std::unique_ptr<NetworkSerialLine> NetworkSerialLine::open(const std::string& host, uint16_t port) {
  std::unique_ptr<NetworkSerialLine> line(new NetworkSerialLine(host, port));
  if (!line->connect()) return nullptr;
  return line;
}

NetworkSerialLine::NetworkSerialLine(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}

NetworkSerialLine::~NetworkSerialLine() { disconnect(); }

bool NetworkSerialLine::connect() {
  disconnect();
  platform::NativeSocket* s = platform::tcpConnect(host_.c_str(), port_, kConnectTimeoutMs);
  if (!s) return false;
  const uint32_t started = platform::tickCount();
  {
    ScopedLock hold(m_);
    socket_ = s;
    connected_ = true;
    comPortAgreed_ = false;
    negotiated_.reset();
    parser_ = telnet::Parser();
    std::fill(std::begin(answered_), std::end(answered_), false);
    received_.clear();
    outgoing_.clear();
    queuedTotal_ = sentTotal_ = writeEnd_ = 0;
    events_ = 0;
    std::vector<uint8_t> offer;
    for (uint8_t option : {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead}) {
      telnet::appendNegotiation(offer, telnet::kWill, option);
      telnet::appendNegotiation(offer, telnet::kDo, option);
    }
    telnet::appendNegotiation(offer, telnet::kWill, telnet::kOptionComPort);
    queue(offer);
  }
  try {
    helper_ = std::make_unique<WorkerThread>(kHelperStack, kPriorityCritical, [this](WorkerThread& self) { serve(self); });
  } catch (const std::exception&) {
    disconnect();  // no thread to be had: the line stays closed, as when the server is not reached
    return false;
  }
  helper_->resume();
  negotiated_.wait(static_cast<int>(kNegotiationTimeoutMs));
  bool usable = false;
  {
    ScopedLock hold(m_);
    if (connected_ && comPortAgreed_) {
      roundTripMs_ = std::max<uint32_t>(1, platform::tickCount() - started);
      // A reconnected line gets the settings of the one that was lost.
      if (configured_) sendSettingsLocked();
      usable = connected_;
    }
  }
  if (!usable) disconnect();
  return usable;
}

void NetworkSerialLine::disconnect() {
  if (helper_) {
    helper_->stop();
    helper_->join();
    helper_.reset();
  }
  ScopedLock hold(m_);
  lostLocked();
  if (socket_) platform::socketClose(socket_);
  socket_ = nullptr;
}

void NetworkSerialLine::serve(WorkerThread& self) {
  while (!self.stopRequested()) {
    bool wantWritable = false;
    {
      ScopedLock hold(m_);
      if (!connected_) return;
      wantWritable = !outgoing_.empty();
    }
    const unsigned ready = platform::socketWait(socket_, wantWritable, kPollSliceMs);
    ScopedLock hold(m_);
    if (ready & platform::kSocketFailed) {
      lostLocked();
      return;
    }
    if (ready & platform::kSocketReadable) {
      const long n = platform::socketReceive(socket_, chunk_, sizeof chunk_);
      if (n < 0) {
        lostLocked();
        return;
      }
      // The handler may queue answers and deliver events; the lock is the caller's own again.
      const size_t data = parser_.feed(chunk_, static_cast<size_t>(n), chunk_, *this);
      if (received_.size() + data > kMaxReceived) {
        lostLocked();
        return;
      }
      received_.insert(received_.end(), chunk_, chunk_ + data);
      deliverLocked();
    }
    if (ready & platform::kSocketWritable) flushLocked();
  }
}

void NetworkSerialLine::start(Request& r, Operation& op) {
  r.op = &op;
  r.starter = platform::currentThreadId();
  r.pending = true;
  r.ok = false;
  r.transferred = 0;
  op.event().reset();
}

void NetworkSerialLine::complete(Request& r, bool ok, uint32_t transferred) {
  r.pending = false;
  r.ok = ok;
  r.transferred = transferred;
  r.op->event().set();
}

bool NetworkSerialLine::queue(const std::vector<uint8_t>& bytes) {
  if (!connected_) return false;
  if (outgoing_.size() + bytes.size() > kMaxOutgoing) {
    lostLocked();
    return false;
  }
  outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
  queuedTotal_ += bytes.size();
  flushLocked();
  return connected_;
}

void NetworkSerialLine::flushLocked() {
  while (!outgoing_.empty() && connected_) {
    const long n = platform::socketSend(socket_, outgoing_.data(), outgoing_.size());
    if (n < 0) {
      lostLocked();
      return;
    }
    if (n == 0) break;
    outgoing_.erase(outgoing_.begin(), outgoing_.begin() + n);
    sentTotal_ += static_cast<uint64_t>(n);
  }
  deliverLocked();
}

void NetworkSerialLine::deliverLocked() {
  if (read_.pending) {
    const size_t n = std::min<size_t>(received_.size(), readLength_ - readFilled_);
    std::copy_n(received_.begin(), n, readBuffer_ + readFilled_);
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(n));
    readFilled_ += static_cast<uint32_t>(n);
    if (readFilled_ == readLength_) complete(read_, true, readFilled_);
  }
  if (write_.pending && sentTotal_ >= writeEnd_) complete(write_, true, writeLength_);
  if (wait_.pending && events_ != 0) {
    *waitMask_ = events_;
    events_ = 0;
    complete(wait_, true, sizeof *waitMask_);
  }
}

void NetworkSerialLine::lostLocked() {
  if (!connected_) return;
  connected_ = false;
  negotiated_.set();
  if (read_.pending) complete(read_, false, readFilled_);
  if (write_.pending) complete(write_, false, 0);
  // As a line error on a COM port: the line watcher fails the transport.
  events_ |= devices::kLineError;
  deliverLocked();
}

void NetworkSerialLine::sendSettingsLocked() {
  using namespace telnet;
  std::vector<uint8_t> out;
  appendBaudRate(out, format_.baudRate);
  appendComCommand(out, kSetDataSize, format_.dataBits);
  appendComCommand(out, kSetParity, format_.parityBit ? kParityEven : kParityNone);
  appendComCommand(out, kSetStopSize, format_.stopBits == 2 ? kStopBitsTwo : kStopBitsOne);
  appendComCommand(out, kSetLineStateMask, kLineBreakDetect | kLineErrors);
  // The server sends the bits of its state that the mask has: the changes, and
  // with them the levels.
  appendComCommand(out, kSetModemStateMask, kModemCtsChanged | kModemDsrChanged | kModemCts | kModemDsr);
  queue(out);
}

IoStart NetworkSerialLine::read(void* buffer, uint32_t length, Operation& op) {
  ScopedLock hold(m_);
  if (read_.pending || !connected_) return IoStart::kFailed;
  start(read_, op);
  readBuffer_ = static_cast<uint8_t*>(buffer);
  readLength_ = length;
  readFilled_ = 0;
  deliverLocked();
  return read_.pending ? IoStart::kPending : IoStart::kCompleted;
}

IoStart NetworkSerialLine::write(const void* data, uint32_t length, Operation& op) {
  ScopedLock hold(m_);
  if (write_.pending) return IoStart::kFailed;
  std::vector<uint8_t> encoded;
  telnet::appendData(encoded, static_cast<const uint8_t*>(data), length);
  if (!queue(encoded)) return IoStart::kFailed;
  writeEnd_ = queuedTotal_;
  writeLength_ = length;
  start(write_, op);
  deliverLocked();
  return write_.pending ? IoStart::kPending : IoStart::kCompleted;
}

bool NetworkSerialLine::result(Operation& op, uint32_t* transferred) {
  ScopedLock hold(m_);
  for (const Request* r : {&read_, &write_, &wait_}) {
    if (r->op != &op) continue;
    if (transferred) *transferred = r->pending ? 0 : r->transferred;
    return !r->pending && r->ok;
  }
  if (transferred) *transferred = 0;
  return false;
}

void NetworkSerialLine::cancel(Operation&) {
  ScopedLock hold(m_);
  const uint32_t self = platform::currentThreadId();
  for (Request* r : {&read_, &write_, &wait_}) {
    if (r->pending && r->starter == self) complete(*r, false, r == &read_ ? readFilled_ : 0);
  }
}

bool NetworkSerialLine::configure(const devices::SerialSettings& settings) {
  ScopedLock hold(m_);
  format_ = devices::LineFormat();
  format_.baudRate = settings.baudRate;
  configured_ = true;
  sendSettingsLocked();
  return purge();
}

bool NetworkSerialLine::setLineFormat(const devices::LineFormat& format) {
  ScopedLock hold(m_);
  format_ = format;
  configured_ = true;
  sendSettingsLocked();
  return connected_;
}

bool NetworkSerialLine::setBaudRate(uint32_t baud) {
  ScopedLock hold(m_);
  format_.baudRate = baud;
  std::vector<uint8_t> out;
  appendBaudRate(out, baud);
  return queue(out);
}

bool NetworkSerialLine::purge() {
  ScopedLock hold(m_);
  received_.clear();
  if (read_.pending) complete(read_, false, readFilled_);
  if (write_.pending) complete(write_, false, 0);
  std::vector<uint8_t> out;
  telnet::appendComCommand(out, telnet::kPurgeData, telnet::kPurgeBoth);
  return queue(out);
}

bool NetworkSerialLine::setBreak(bool on) {
  ScopedLock hold(m_);
  std::vector<uint8_t> out;
  telnet::appendComCommand(out, telnet::kSetControl, on ? telnet::kControlBreakOn : telnet::kControlBreakOff);
  return queue(out);
}

IoStart NetworkSerialLine::waitEvent(uint32_t* mask, Operation& op) {
  ScopedLock hold(m_);
  if (wait_.pending) return IoStart::kFailed;
  start(wait_, op);
  waitMask_ = mask;
  deliverLocked();
  return wait_.pending ? IoStart::kPending : IoStart::kCompleted;
}

bool NetworkSerialLine::modemStatus(uint32_t* levels) {
  ScopedLock hold(m_);
  if (modemKnown_) *levels = modemLevels_;
  return modemKnown_;
}

uint32_t NetworkSerialLine::roundTripMs() const {
  ScopedLock hold(m_);
  return roundTripMs_;
}

bool NetworkSerialLine::reconnect() {
  {
    ScopedLock hold(m_);
    if (connected_) return true;
  }
  return connect();
}

bool NetworkSerialLine::connected() const {
  ScopedLock hold(m_);
  return connected_;
}

void NetworkSerialLine::negotiation(uint8_t verb, uint8_t option) {
  using namespace telnet;
  const bool ours = option == kOptionBinary || option == kOptionSuppressGoAhead;
  if (option == kOptionComPort && (verb == kDo || verb == kDont)) {
    comPortAgreed_ = verb == kDo;
    negotiated_.set();
    return;
  }
  if (ours || (verb != kDo && verb != kWill)) return;
  // Anything else offered or asked for is refused, once per option, so that a
  // server repeating itself cannot make us answer without end.
  if (answered_[option]) return;
  answered_[option] = true;
  std::vector<uint8_t> out;
  appendNegotiation(out, verb == kDo ? kWont : kDont, option);
  queue(out);
}

void NetworkSerialLine::subnegotiation(uint8_t option, const uint8_t* payload, size_t length) {
  using namespace telnet;
  if (option != kOptionComPort || length < 2) return;
  const uint8_t bits = payload[1];
  uint32_t events = 0;
  if (payload[0] == kServerOffset + kNotifyLineState) {
    if (bits & kLineBreakDetect) events |= devices::kLineBreak;
    if (bits & kLineErrors) events |= devices::kLineError;
  } else if (payload[0] == kServerOffset + kNotifyModemState) {
    if (bits & kModemCtsChanged) events |= devices::kLineCts;
    if (bits & kModemDsrChanged) events |= devices::kLineDsr;
    modemLevels_ = ((bits & kModemCts) ? devices::kModemCtsOn : 0) | ((bits & kModemDsr) ? devices::kModemDsrOn : 0);
    modemKnown_ = true;
  }
  events_ |= events;
  deliverLocked();
}

}  // namespace vel
