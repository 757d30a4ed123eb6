#include "transport/TracedDevices.h"

#include <cstdio>
#include <string>

#include "base/Sync.h"
#include "base/trace/Recorder.h"

namespace vel::devices {

namespace {

using trace::Kind;

// A request started and not yet seen complete: what its completion means.
struct Started {
  enum class What { kNone, kRead, kWaitEvent };
  Operation *op = nullptr;
  What what = What::kNone;
  const uint8_t *buffer = nullptr;
  uint32_t length = 0;
  const uint32_t *mask = nullptr;
};

uint32_t lineEventBits(uint32_t mask) {
  uint32_t bits = 0;
  if (mask & kLineBreak) bits |= trace::kEventBreakSet;
  if (mask & kLineCts) bits |= trace::kEventCtsChanged;
  if (mask & kLineDsr) bits |= trace::kEventDsrChanged;
  if (mask & kLineError) bits |= trace::kEventLineError;
  return bits;
}

const char *failedSuffix(bool ok) { return ok ? "" : " failed"; }

template <typename Base>
class TracedFile : public Base {
 public:
  TracedFile(std::unique_ptr<Base> inner, std::shared_ptr<trace::Recorder> recorder, const std::string &ifName,
             const std::string &description)
      : inner_(std::move(inner)), recorder_(std::move(recorder)) {
    channel_ = recorder_->openChannel(ifName, description);
  }
  ~TracedFile() override {
    inner_.reset();
    recorder_->closeChannel(channel_, "close");
  }

  IoStart read(void *buffer, uint32_t length, Operation &op) override {
    const IoStart s = inner_->read(buffer, length, op);
    if (s != IoStart::kFailed)
      remember({&op, Started::What::kRead, static_cast<const uint8_t *>(buffer), length, nullptr});
    return s;
  }
  IoStart write(const void *data, uint32_t length, Operation &op) override {
    forget(op);
    const IoStart s = inner_->write(data, length, op);
    if (s != IoStart::kFailed) recorder_->record(channel_, Kind::kData, trace::kOutbound, 0, data, length);
    return s;
  }
  // A read's bytes are recorded once, when its result is first taken.
  bool result(Operation &op, uint32_t *transferred) override {
    const bool ok = inner_->result(op, transferred);
    if (!ok) return ok;
    Started s;
    {
      ScopedLock hold(lock_);
      for (Started &entry : started_) {
        if (entry.op == &op) {
          s = entry;
          entry = Started{};
          break;
        }
      }
    }
    if (s.what == Started::What::kRead) {
      const uint32_t n = transferred ? (*transferred < s.length ? *transferred : s.length) : 0;
      if (n) recorder_->record(channel_, Kind::kData, trace::kInbound, 0, s.buffer, n);
    } else if (s.what == Started::What::kWaitEvent && s.mask) {
      uint32_t bits = lineEventBits(*s.mask);
      if (bits) {
        // A modem-status change goes with the levels the line reports now.
        if (bits & (trace::kEventCtsChanged | trace::kEventDsrChanged)) bits |= modemLevels();
        char text[48];
        std::snprintf(text, sizeof text, "line events 0x%04X", static_cast<unsigned>(*s.mask));
        recorder_->text(channel_, Kind::kLineEvent, trace::kNoDirection, bits, text);
      }
    }
    return ok;
  }
  void cancel(Operation &op) override {
    inner_->cancel(op);
    forget(op);
  }

 protected:
  // The kEventCtsOn and kEventDsrOn bits of the line's modem status (none when it cannot tell).
  virtual uint32_t modemLevels() { return 0; }
  void remember(const Started &s) {
    ScopedLock hold(lock_);
    Started *free = nullptr;
    for (Started &entry : started_) {
      if (entry.op == s.op) {
        entry = s;
        return;
      }
      if (!free && !entry.op) free = &entry;
    }
    // Each transport keeps at most one request per record and a few records.
    if (free) *free = s;
  }
  void forget(Operation &op) {
    ScopedLock hold(lock_);
    for (Started &entry : started_) {
      if (entry.op == &op) entry = Started{};
    }
  }
  void setting(const std::string &text, bool ok) {
    recorder_->text(channel_, Kind::kSettings, trace::kNoDirection, baud_, text + failedSuffix(ok));
  }

  std::unique_ptr<Base> inner_;
  std::shared_ptr<trace::Recorder> recorder_;
  uint32_t channel_ = 0;
  uint32_t baud_ = 0;  // the line's rate as last set (0: not known)
  Mutex lock_;
  Started started_[6];
};

class TracedSerial : public TracedFile<SerialLine> {
 public:
  using TracedFile::TracedFile;
  bool configure(const SerialSettings &s) override {
    const bool ok = inner_->configure(s);
    baud_ = s.baudRate;
    setting("baud=" + std::to_string(s.baudRate) + " data=8 parity=none stop=1 queues=" + std::to_string(s.inQueue) +
                "/" + std::to_string(s.outQueue),
            ok);
    return ok;
  }
  bool setBaudRate(uint32_t baud) override {
    const bool ok = inner_->setBaudRate(baud);
    baud_ = baud;
    setting("baud=" + std::to_string(baud), ok);
    return ok;
  }
  bool setLineFormat(const LineFormat &f) override {
    const bool ok = inner_->setLineFormat(f);
    baud_ = f.baudRate;
    setting("baud=" + std::to_string(f.baudRate) + " data=" + std::to_string(f.dataBits) +
                " parity=" + (f.parityBit ? "even" : "none") + " stop=" + std::to_string(f.stopBits),
            ok);
    return ok;
  }
  bool purge() override {
    const bool ok = inner_->purge();
    setting("purge", ok);
    return ok;
  }
  bool setBreak(bool on) override {
    const bool ok = inner_->setBreak(on);
    setting(on ? "break=on" : "break=off", ok);
    return ok;
  }
  IoStart waitEvent(uint32_t *mask, Operation &op) override {
    const IoStart s = inner_->waitEvent(mask, op);
    if (s != IoStart::kFailed) remember({&op, Started::What::kWaitEvent, nullptr, 0, mask});
    return s;
  }
  bool modemStatus(uint32_t *levels) override { return inner_->modemStatus(levels); }
  uint32_t roundTripMs() const override { return inner_->roundTripMs(); }
  bool reconnect() override {
    const bool ok = inner_->reconnect();
    recorder_->text(channel_, Kind::kOpen, trace::kNoDirection, 0, ok ? "reconnected" : "reconnect failed");
    return ok;
  }

 protected:
  uint32_t modemLevels() override {
    uint32_t levels = 0;
    if (!inner_->modemStatus(&levels)) return 0;
    return ((levels & kModemCtsOn) ? trace::kEventCtsOn : 0) | ((levels & kModemDsrOn) ? trace::kEventDsrOn : 0);
  }
};

class TracedDevice : public TracedFile<DriverDevice> {
 public:
  using TracedFile::TracedFile;
  IoStart control(uint32_t code, const void *input, uint32_t inputLength, Operation &op) override {
    forget(op);
    const IoStart s = inner_->control(code, input, inputLength, op);
    char text[64];
    std::snprintf(text, sizeof text, "control=0x%08X input=%u", static_cast<unsigned>(code),
                  static_cast<unsigned>(inputLength));
    setting(text, s != IoStart::kFailed);
    return s;
  }
};

}  // namespace

std::unique_ptr<SerialLine> traced(std::unique_ptr<SerialLine> line, const std::string &ifName,
                                   const std::string &description) {
  if (!line) return line;
  std::shared_ptr<trace::Recorder> recorder = trace::forOpen();
  if (!recorder) return line;
  return std::make_unique<TracedSerial>(std::move(line), std::move(recorder), ifName, description);
}

std::unique_ptr<DriverDevice> traced(std::unique_ptr<DriverDevice> device, const std::string &ifName,
                                     const std::string &description) {
  if (!device) return device;
  std::shared_ptr<trace::Recorder> recorder = trace::forOpen();
  if (!recorder) return device;
  return std::make_unique<TracedDevice>(std::move(device), std::move(recorder), ifName, description);
}

}  // namespace vel::devices
