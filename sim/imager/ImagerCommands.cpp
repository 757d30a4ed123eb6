#include "imager/ImagerCommands.h"

#include <algorithm>

namespace sim {

namespace {
constexpr int kPollMs = 100;

// Request fields after the code byte, for the codes with a fixed request.
size_t requestLength(uint8_t code) {
  switch (code) {
    case 8: case 23: case 25: return 2;
    case 9: case 19: case 20: case 24: case 28: case 30: return 1;
    case 13: return 4;
    case 4: return 1;
    case 27: return 9;
    default: return 0;
  }
}
}  // namespace

ImagerCommands::ImagerCommands(ImagerPorts& ports, ImagerIdentity identity, ImagerConfigStore* store)
    : ports_(ports),
      identity_(std::move(identity)),
      store_(store),
      linkLevel_(identity_.linkLevel),
      linkFlag_(identity_.linkFlag) {
  thread_ = std::thread([this] { serve(); });
}

ImagerCommands::~ImagerCommands() {
  stop_ = true;
  thread_.join();
}

void ImagerCommands::setLongResponse(LongResponse handler) {
  std::lock_guard<std::mutex> call(longResponseCall_);
  std::lock_guard<std::mutex> g(lock_);
  longResponse_ = std::move(handler);
}

void ImagerCommands::setGate(Gate gate) {
  std::lock_guard<std::mutex> g(lock_);
  gate_ = std::move(gate);
}

void ImagerCommands::setLinkCheckAnswer(uint32_t level, uint8_t flag) {
  linkLevel_ = level;
  linkFlag_ = flag;
}

void ImagerCommands::sendEvent(const std::vector<uint8_t>& bytes) {
  withEventChannel([&bytes](ImagerPort& out, ImagerPort&) {
    out.write(bytes.data(), bytes.size());
    out.flush();
  });
}

void ImagerCommands::withEventChannel(const std::function<void(ImagerPort& out, ImagerPort& in)>& use) {
  std::lock_guard<std::mutex> g(eventLock_);
  const std::unique_ptr<ImagerPort> out = ports_.sessionPort(kEventOut);
  const std::unique_ptr<ImagerPort> in = ports_.sessionPort(kEventIn);
  use(*out, *in);
}

std::vector<uint8_t> ImagerCommands::receivedCodes() const {
  std::lock_guard<std::mutex> g(lock_);
  return codes_;
}

std::vector<uint8_t> ImagerCommands::lastFields() const {
  std::lock_guard<std::mutex> g(lock_);
  return fields_;
}

std::vector<std::vector<uint8_t>> ImagerCommands::receivedFields() const {
  std::lock_guard<std::mutex> g(lock_);
  return fieldLog_;
}

void ImagerCommands::serve() {
  ImagerPort& in = ports_.port(kCommandIn);
  while (!stop_) {
    uint8_t code = 0;
    if (in.read(&code, 1, kPollMs) != 1) continue;
    handle(code);
  }
}

bool ImagerCommands::readFields(ImagerPort& in, uint8_t* fields, size_t count) {
  const bool complete = !count || in.read(fields, count, 2000) == count;
  std::lock_guard<std::mutex> g(lock_);
  fieldLog_.emplace_back(fields, fields + (complete ? count : 0));
  if (complete) fields_.assign(fields, fields + count);
  return complete;
}

template <typename T>
void ImagerCommands::answer(ImagerPort& out, const T& value) {
  if (silent_) return;
  out.write(reinterpret_cast<const uint8_t*>(&value), sizeof value);
  out.flush();
}

void ImagerCommands::handle(uint8_t code) {
  {
    std::lock_guard<std::mutex> g(lock_);
    codes_.push_back(code);
  }
  // The command is read and answered in the session it arrived in: after the host
  // reset the link nothing of it reaches the new session, and a long response ends.
  const std::unique_ptr<ImagerPort> in = ports_.sessionPort(kCommandIn);
  const std::unique_ptr<ImagerPort> answerPort = ports_.sessionPort(kAnswerOut);
  ImagerPort& out = *answerPort;
  uint8_t f[16] = {};
  if (!readFields(*in, f, requestLength(code))) return;
  Gate gate;
  {
    std::lock_guard<std::mutex> g(lock_);
    gate = gate_;
  }
  if (gate && !gate(code)) return;
  switch (code) {
    case 1:
      if (store_ && !silent_) answerConfiguration(out);
      break;
    case 2:
    case 3:
      if (store_) readConfiguration(*in, code == 3);
      break;
    case 5: {
      if (silent_) break;
      const uint32_t values[4] = {identity_.visionProcessor, identity_.imageSensor, identity_.illuminationBoard,
                                  identity_.reserved};
      const uint8_t n = static_cast<uint8_t>(std::min<size_t>(identity_.firmware.size(), 255));
      // One write per field: on the direct framing each write is a message, and
      // the host reads the answer field by field.
      for (uint32_t v : values) out.write(reinterpret_cast<const uint8_t*>(&v), sizeof v);
      out.write(&n, 1);
      out.write(reinterpret_cast<const uint8_t*>(identity_.firmware.data()), n);
      out.flush();
      break;
    }
    case 8: sensorRegisters_[f[0]] = f[1]; break;
    case 9: answer(out, sensorRegisters_[f[0]]); break;
    case 13: {
      if (silent_) break;
      const uint32_t level = linkLevel_;
      const uint8_t flag = linkFlag_;
      out.write(reinterpret_cast<const uint8_t*>(&level), 4);
      out.write(&flag, 1);
      out.flush();
      break;
    }
    case 18: closed_ = true; break;
    case 19: case 20: case 22: case 29: case 31: break;  // imager-side effects only
    case 21: answer(out, calibrationStatus_.load()); break;
    case 23: if (f[0] < 5) ioPinConfigurations_[f[0]] = f[1]; break;
    case 24: answer(out, f[0] < 5 ? ioPinValues_[f[0]] : uint8_t{0}); break;
    case 25: if (f[0] < 5) ioPinValues_[f[0]] = f[1]; break;
    case 26: answer(out, identity_.blockSize); break;
    case 28: targetingLeds_ = f[0]; break;
    case 30: triggerStatus_ = f[0]; break;
    case 32: answer(out, standardDeviation_.load()); break;
    case 4: case 6: case 16: case 17: case 27: {
      std::lock_guard<std::mutex> call(longResponseCall_);
      LongResponse handler;
      {
        std::lock_guard<std::mutex> g(lock_);
        handler = longResponse_;
      }
      const std::vector<uint8_t> fields(f, f + requestLength(code));
      if (handler && !silent_) handler(code, fields, *in, out);
      break;
    }
    default: break;  // unknown codes are ignored
  }
}

// Writes the stored configuration in the pieces the host reads: for the tagged
// form each tag byte, length and payload; for the fixed form the length and the block.
void ImagerCommands::answerConfiguration(ImagerPort& out) {
  const std::vector<uint8_t> bytes = store_->answerGet(static_cast<int>(identity_.linkLevel));
  if (identity_.linkLevel == ImagerConfigStore::kFixedLevel) {
    if (bytes.size() < 2) return;
    out.write(bytes.data(), 2);
    out.write(bytes.data() + 2, bytes.size() - 2);
  } else {
    // Each item's length is checked against what the store produced.
    size_t i = 0;
    while (i < bytes.size()) {
      out.write(&bytes[i], 1);
      if (bytes[i++] == 0xFF || bytes.size() - i < 2) break;
      const size_t n = bytes[i] | (bytes[i + 1] << 8);
      out.write(&bytes[i], 2);
      i += 2;
      if (n > bytes.size() - i) break;
      if (n) out.write(&bytes[i], n);
      i += n;
    }
  }
  out.flush();
}

// Takes a configuration write off the command port as far as the store needs it.
void ImagerCommands::readConfiguration(ImagerPort& in, bool permanent) {
  const int level = static_cast<int>(identity_.linkLevel);
  std::vector<uint8_t> bytes;
  for (;;) {
    const size_t need = ImagerConfigStore::bytesStillNeeded(level, bytes.data(), bytes.size());
    if (need == 0) break;
    const size_t have = bytes.size();
    bytes.resize(have + need);
    if (in.read(bytes.data() + have, need, 2000) != need) return;
  }
  if (store_->applySet(level, bytes)) ++(permanent ? permanentWrites_ : temporaryWrites_);
}

}  // namespace sim
