#include "devices/SimSerialLine.h"

#include <algorithm>
#include <cstring>

namespace sim {

using vel::devices::IoStart;
using vel::devices::Operation;

class SimSerialLine::Host : public vel::devices::SerialLine {
 public:
  explicit Host(std::shared_ptr<SimSerialLine> line) : line_(std::move(line)) {}
  ~Host() override { line_->hostClose(); }
  IoStart read(void* buffer, uint32_t length, Operation& op) override { return line_->hostRead(buffer, length, op); }
  IoStart write(const void* data, uint32_t length, Operation& op) override {
    return line_->hostWrite(data, length, op);
  }
  bool result(Operation& op, uint32_t* transferred) override { return line_->hostResult(op, transferred); }
  void cancel(Operation& op) override { line_->hostCancel(op); }
  bool configure(const vel::devices::SerialSettings& s) override {
    std::lock_guard<std::mutex> g(line_->m_);
    line_->lastBaud_ = s.baudRate;
    return true;
  }
  bool setBaudRate(uint32_t baud) override {
    std::lock_guard<std::mutex> g(line_->m_);
    line_->lastBaud_ = baud;
    return true;
  }
  // A zero baud rate is refused, as a real port does.
  bool setLineFormat(const vel::devices::LineFormat& format) override {
    std::lock_guard<std::mutex> g(line_->m_);
    if (format.baudRate == 0) return false;
    line_->lineFormat_ = format;
    line_->lastBaud_ = format.baudRate;
    return true;
  }
  bool purge() override {
    line_->hostPurge();
    return true;
  }
  bool setBreak(bool on) override {
    line_->hostSetBreak(on);
    return true;
  }
  IoStart waitEvent(uint32_t* mask, Operation& op) override { return line_->hostWaitEvent(mask, op); }
  bool modemStatus(uint32_t* levels) override {
    *levels = line_->modemLevels();
    return true;
  }

 private:
  std::shared_ptr<SimSerialLine> line_;
};

SimSerialLine::SimSerialLine(int portNumber) : name_(portName(portNumber)) {
  service_ = std::thread([this] { service(); });
}

SimSerialLine::~SimSerialLine() {
  {
    std::lock_guard<std::mutex> g(m_);
    running_ = false;
    closed_ = true;
  }
  serviceCv_.notify_all();
  imagerCv_.notify_all();
  service_.join();
}

void SimSerialLine::service() {
  std::unique_lock<std::mutex> lock(m_);
  while (running_) {
    pumpLocked();
    serviceCv_.wait_for(lock, std::chrono::milliseconds(1));
  }
}

SimSerialLine::Clock::time_point SimSerialLine::wireTime(Clock::time_point& wireFree, size_t bytes) {
  const auto now = Clock::now();
  if (baud_ == 0) return now;
  const auto start = std::max(now, wireFree);
  wireFree = start + std::chrono::microseconds(static_cast<int64_t>(bytes) * 10 * 1000000 / baud_);
  return wireFree;
}

size_t SimSerialLine::dueBytes(const std::deque<Chunk>& q, Clock::time_point now) const {
  size_t n = 0;
  for (const Chunk& c : q) {
    if (c.due > now) break;
    n += c.bytes.size();
  }
  return n;
}

void SimSerialLine::pumpLocked() {
  const auto now = Clock::now();
  if (read_.op && dueBytes(toHost_, now) >= read_.length) {
    uint32_t copied = 0;
    while (copied < read_.length) {
      Chunk& c = toHost_.front();
      const size_t n = std::min<size_t>(c.bytes.size(), read_.length - copied);
      std::memcpy(read_.in + copied, c.bytes.data(), n);
      copied += static_cast<uint32_t>(n);
      c.bytes.erase(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(n));
      if (c.bytes.empty()) toHost_.pop_front();
    }
    Operation* op = read_.op;
    read_ = {};
    requests_.complete(*op, true, copied);
  }
  if (write_.op && write_.due <= now) {
    Operation* op = write_.op;
    const uint32_t n = write_.length;
    write_ = {};
    requests_.complete(*op, true, n);
  }
  if (wait_.op && events_ && eventsDue_ <= now) {
    *wait_.mask = events_;
    events_ = 0;
    Operation* op = wait_.op;
    wait_ = {};
    requests_.complete(*op, true, 4);
  }
}

std::unique_ptr<vel::devices::SerialLine> SimSerialLine::openHost() {
  std::lock_guard<std::mutex> g(m_);
  if (held_ || hostOpen_ || !running_) return nullptr;
  hostOpen_ = true;
  closed_ = false;
  ++opens_;
  return std::make_unique<Host>(shared_from_this());
}

void SimSerialLine::hostClose() {
  std::lock_guard<std::mutex> g(m_);
  for (Pending* p : {&read_, &write_, &wait_}) {
    if (p->op) requests_.complete(*p->op, false, 0);
    *p = {};
  }
  requests_.clear();
  hostOpen_ = false;
  breakOn_ = false;
  closed_ = true;
  imagerCv_.notify_all();
  hostCv_.notify_all();
}

IoStart SimSerialLine::hostRead(void* buffer, uint32_t length, Operation& op) {
  std::unique_lock<std::mutex> g(m_);
  runUnlocked(g, beforeHostRead_);
  if (read_.op) return IoStart::kFailed;
  readRequests_.push_back(length);
  requests_.start(op);
  read_ = {&op, std::this_thread::get_id(), static_cast<uint8_t*>(buffer), length, nullptr, {}};
  pumpLocked();
  return requests_.started(op);
}

IoStart SimSerialLine::hostWrite(const void* data, uint32_t length, Operation& op) {
  std::lock_guard<std::mutex> g(m_);
  if (write_.op) return IoStart::kFailed;
  requests_.start(op);
  const auto* p = static_cast<const uint8_t*>(data);
  const auto due = wireTime(hostWireFree_, length);
  std::vector<uint8_t> bytes(p, p + length);
  addNoiseLocked(hostNoise_, bytes);  // the write completes whole: the bytes are lost on the wire
  toImager_.push_back({due, std::move(bytes)});
  write_ = {&op, std::this_thread::get_id(), nullptr, length, nullptr, due};
  pumpLocked();
  imagerCv_.notify_all();
  return requests_.started(op);
}

IoStart SimSerialLine::hostWaitEvent(uint32_t* mask, Operation& op) {
  std::lock_guard<std::mutex> g(m_);
  if (wait_.op) return IoStart::kFailed;
  requests_.start(op);
  wait_ = {&op, std::this_thread::get_id(), nullptr, 0, mask, {}};
  pumpLocked();
  return requests_.started(op);
}

bool SimSerialLine::hostResult(const Operation& op, uint32_t* transferred) const {
  std::lock_guard<std::mutex> g(m_);
  return requests_.result(op, transferred);
}

void SimSerialLine::hostCancel(Operation&) {
  std::lock_guard<std::mutex> g(m_);
  const auto self = std::this_thread::get_id();
  for (Pending* p : {&read_, &write_, &wait_}) {
    if (p->op && p->starter == self) {
      requests_.complete(*p->op, false, 0);
      *p = {};
    }
  }
}

void SimSerialLine::hostSetBreak(bool on) {
  std::lock_guard<std::mutex> g(m_);
  if (on) ++breakRequests_;
  if (on && !breakOn_) {
    ++breaks_;
    if (answerBreaks_) {
      // The imager answers the host's break with one of its own and starts over.
      events_ |= vel::devices::kLineBreak;
      eventsDue_ = Clock::now() + std::chrono::milliseconds(answerDelayMs_);
      ++recoveries_;
      toImager_.clear();
      imagerCv_.notify_all();
      serviceCv_.notify_all();
    }
  }
  breakOn_ = on;
}

void SimSerialLine::hostPurge() {
  std::lock_guard<std::mutex> g(m_);
  ++purges_;
  toHost_.clear();
  for (Pending* p : {&read_, &write_}) {
    if (p->op) requests_.complete(*p->op, false, 0);
    *p = {};
  }
}

size_t SimSerialLine::hostReceive(uint8_t* buffer, size_t max, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  // Paced bytes become due without a notification: wait in short slices.
  while (hostOpen_ && dueBytes(toHost_, Clock::now()) == 0) {
    const auto now = Clock::now();
    if (now >= deadline) return 0;
    hostCv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(1)));
  }
  return takeDue(toHost_, buffer, max);
}

size_t SimSerialLine::takeDue(std::deque<Chunk>& q, uint8_t* buffer, size_t max) {
  size_t copied = 0;
  const size_t due = dueBytes(q, Clock::now());
  while (copied < max && copied < due) {
    Chunk& c = q.front();
    const size_t n = std::min(c.bytes.size(), max - copied);
    std::memcpy(buffer + copied, c.bytes.data(), n);
    copied += n;
    c.bytes.erase(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    if (c.bytes.empty()) q.pop_front();
  }
  return copied;
}

size_t SimSerialLine::read(uint8_t* buffer, size_t max, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_);
  // A break is part of the byte stream: what follows it is read only after the
  // imager has taken the recovery, so that no byte of the handshake is consumed
  // as if it came before the break.
  auto ready = [&] { return closed_ || recoveries_ > 0 || dueBytes(toImager_, Clock::now()) > 0; };
  // Paced bytes become due without a notification: wait in short slices.
  const auto deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    const auto now = Clock::now();
    if (now >= deadline) return 0;
    imagerCv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(2)));
  }
  if (recoveries_ > 0) return 0;
  return takeDue(toImager_, buffer, max);
}

void SimSerialLine::write(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> g(m_);
  // From the host's break until the imager has taken it, the imager sends nothing.
  if (!hostOpen_ || recoveries_ > 0 || length == 0) return;
  std::vector<uint8_t> bytes(data, data + length);
  addNoiseLocked(noise_, bytes);
  toHost_.push_back({wireTime(imagerWireFree_, length), std::move(bytes)});
  pumpLocked();
  hostCv_.notify_all();
}

bool SimSerialLine::closed() const {
  std::lock_guard<std::mutex> g(m_);
  return closed_;
}

bool SimSerialLine::takeLineRecovery() {
  std::lock_guard<std::mutex> g(m_);
  if (recoveries_ == 0) return false;
  --recoveries_;
  return true;
}

void SimSerialLine::setAnswerBreaks(bool answer) {
  std::lock_guard<std::mutex> g(m_);
  answerBreaks_ = answer;
}

void SimSerialLine::setBreakAnswerDelayMs(int ms) {
  std::lock_guard<std::mutex> g(m_);
  answerDelayMs_ = std::max(0, ms);
}

void SimSerialLine::injectLineEvent(uint32_t bits) {
  std::lock_guard<std::mutex> g(m_);
  if (bits & vel::devices::kLineCts) modemLevels_ ^= vel::devices::kModemCtsOn;
  if (bits & vel::devices::kLineDsr) modemLevels_ ^= vel::devices::kModemDsrOn;
  events_ |= bits;
  eventsDue_ = Clock::now();
  pumpLocked();
}

uint32_t SimSerialLine::modemLevels() const {
  std::lock_guard<std::mutex> g(m_);
  return modemLevels_;
}

void SimSerialLine::setNoise(uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed) {
  std::lock_guard<std::mutex> g(m_);
  noise_.corruptPpm = corruptPpm;
  noise_.dropPpm = dropPpm;
  noise_.state = seed | 1;
}

void SimSerialLine::setHostNoise(uint32_t corruptPpm, uint32_t dropPpm, uint32_t seed) {
  std::lock_guard<std::mutex> g(m_);
  hostNoise_.corruptPpm = corruptPpm;
  hostNoise_.dropPpm = dropPpm;
  hostNoise_.state = seed | 1;
}

uint64_t SimSerialLine::noisyBytes() const {
  std::lock_guard<std::mutex> g(m_);
  return noise_.hits + hostNoise_.hits;
}

void SimSerialLine::addNoiseLocked(Noise& noise, std::vector<uint8_t>& bytes) {
  if (noise.corruptPpm == 0 && noise.dropPpm == 0) return;
  auto next = [&noise] {  // xorshift32
    uint32_t x = noise.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return noise.state = x;
  };
  size_t kept = 0;
  for (uint8_t b : bytes) {
    const uint32_t roll = next() % 1000000;
    if (roll < noise.dropPpm) {
      ++noise.hits;
      continue;
    }
    if (roll < noise.dropPpm + noise.corruptPpm) {
      b ^= static_cast<uint8_t>(1u << (next() % 8));
      ++noise.hits;
    }
    bytes[kept++] = b;
  }
  bytes.resize(kept);
}

void SimSerialLine::setPacingBaud(uint32_t baud) {
  std::lock_guard<std::mutex> g(m_);
  baud_ = baud;
}

void SimSerialLine::holdByOtherProgram(bool held) {
  std::lock_guard<std::mutex> g(m_);
  held_ = held;
}

int SimSerialLine::breakCount() const {
  std::lock_guard<std::mutex> g(m_);
  return breaks_;
}

bool SimSerialLine::breakOn() const {
  std::lock_guard<std::mutex> g(m_);
  return breakOn_;
}

int SimSerialLine::breakRequests() const {
  std::lock_guard<std::mutex> g(m_);
  return breakRequests_;
}

int SimSerialLine::openCount() const {
  std::lock_guard<std::mutex> g(m_);
  return opens_;
}

uint32_t SimSerialLine::lastBaudRate() const {
  std::lock_guard<std::mutex> g(m_);
  return lastBaud_;
}

vel::devices::LineFormat SimSerialLine::lineFormat() const {
  std::lock_guard<std::mutex> g(m_);
  return lineFormat_;
}

int SimSerialLine::purgeCount() const {
  std::lock_guard<std::mutex> g(m_);
  return purges_;
}

std::vector<uint32_t> SimSerialLine::readRequests() const {
  std::lock_guard<std::mutex> g(m_);
  return readRequests_;
}

void SimSerialLine::setBeforeHostRead(std::function<void()> hook) {
  std::lock_guard<std::mutex> g(m_);
  beforeHostRead_ = std::move(hook);
}

bool SimSerialLine::hostOpen() const {
  std::lock_guard<std::mutex> g(m_);
  return hostOpen_;
}

}  // namespace sim
