#include "velsim/Replay.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "transport/DeviceSeam.h"

namespace sim {

namespace {

constexpr int kPollMs = 100;
constexpr int kCapture = 4;
constexpr int kRequestMs = 5000;  // between the bytes of one request
constexpr int kAckMs = 10000;     // for an acknowledgement the recording has
constexpr uint32_t kLinkToken = 0x5EED4321;
constexpr size_t kHistory = 5;             // commands named before a mismatch
constexpr size_t kShownFieldBytes = 16;    // of a request in a mismatch message
constexpr uint64_t kMaxTraceBytes = 1ull << 31;

std::string hexBytes(const std::vector<uint8_t>& bytes, size_t from) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = from; i < bytes.size() && i < from + kShownFieldBytes; ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 0xF];
  }
  if (bytes.size() > from + kShownFieldBytes) s += "...";
  return s;
}

// A request as the host sent it so far: name, code and the field bytes.
std::string requestText(const std::vector<uint8_t>& request) {
  const int code = request[0];
  std::string s = std::string(trace::commandName(code)) + " (" + std::to_string(code) + ")";
  if (code == kCapture && request.size() == 2) return s + " flags 0x" + hexBytes(request, 1);
  if (request.size() > 1) s += " " + hexBytes(request, 1);
  return s;
}

}  // namespace

std::vector<trace::Exchange> Replay::load(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open " + path;
    return {};
  }
  file.seekg(0, std::ios::end);
  const auto size = static_cast<uint64_t>(file.tellg());
  if (size > kMaxTraceBytes) {
    *error = path + " is larger than any trace the library writes";
    return {};
  }
  file.seekg(0);
  std::vector<uint8_t> bytes(size);
  if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    *error = "cannot read " + path;
    return {};
  }
  trace::Conversation c = trace::readConversation(bytes.data(), bytes.size(), true);
  const bool anyCommand = std::any_of(c.exchanges.begin(), c.exchanges.end(),
                                      [](const trace::Exchange& e) { return !e.trigger; });
  if (!anyCommand) {
    *error = path + " holds no command" + (c.error.empty() ? "" : " (" + c.error + ")");
    return {};
  }
  return std::move(c.exchanges);
}

Replay::Replay(std::vector<trace::Exchange> exchanges, SimSerialLine& line, Log log)
    : exchanges_(std::move(exchanges)), log_(std::move(log)), link_(line, Framing::Packet, kLinkToken) {
  for (const trace::Exchange& e : exchanges_) {
    if (e.trigger) {
      // The command before it in time, and how long after that command it began.
      Trigger t{&e, commands_.empty() ? 0 : static_cast<long>(commands_.size() - 1), {}};
      if (!commands_.empty() && e.timeUs > commands_.back()->timeUs)
        t.offset = std::chrono::microseconds(e.timeUs - commands_.back()->timeUs);
      triggers_.push_back(t);
    } else if (!e.steps.empty() && e.steps[0].host) {
      byCode_[e.code].push_back(commands_.size());
      commands_.push_back(&e);
    }
  }
  arrived_.resize(commands_.size());
  hasArrived_.resize(commands_.size());
  // The imager asks the host to resynchronise with a break of its own.
  link_.setLineEventHandler([&line] { line.injectLineEvent(vel::devices::kLineBreak); });
  log_("replay: " + std::to_string(commands_.size()) + " command(s) and " + std::to_string(triggers_.size()) +
       " trigger transfer(s) to answer");
  commandThread_ = std::thread([this] { serveCommands(); });
  triggerThread_ = std::thread([this] { serveTriggers(); });
}

Replay::~Replay() {
  stop_ = true;
  cv_.notify_all();
  link_.shutdown();
  commandThread_.join();
  triggerThread_.join();
}

bool Replay::done() const {
  std::lock_guard<std::mutex> hold(m_);
  return answeredCount_ == commands_.size() && triggersSent_ == triggers_.size();
}

void Replay::serveCommands() {
  ImagerPort& in = link_.port(kCommandIn);
  while (!stop_) {
    uint8_t code = 0;
    if (in.read(&code, 1, kPollMs) == 1) answer(code);
  }
}

void Replay::answer(uint8_t code) {
  const std::unique_ptr<ImagerPort> in = link_.sessionPort(kCommandIn);
  const std::unique_ptr<ImagerPort> out = link_.sessionPort(kAnswerOut);
  size_t index = 0;
  size_t position = 0;
  std::string unknown;  // the command the recording has no answer for
  {
    std::lock_guard<std::mutex> hold(m_);
    position = received_.size();
    const size_t k = seen_[code]++;
    const auto found = byCode_.find(code);
    if (found == byCode_.end() || k >= found->second.size()) {
      const size_t recorded = found == byCode_.end() ? 0 : found->second.size();
      const std::string name = trace::commandName(code);
      unknown = "command " + std::to_string(position + 1) + ": the host sent " + name + " (" +
               std::to_string(code) + "), but the recording has " +
               (recorded ? "only " + std::to_string(recorded) + " " + name + " command(s)"
                         : "no " + name + " command") +
               "; its command " + std::to_string(position + 1) + " is " +
               (position < commands_.size() ? commands_[position]->text : std::string("none (it ends there)"));
    } else {
      index = found->second[k];
    }
  }
  if (!unknown.empty()) return mismatch(unknown);
  const trace::Exchange& e = *commands_[index];
  const std::vector<uint8_t>& request = e.steps[0].bytes;
  std::vector<uint8_t> sent{code};
  for (size_t i = 1; i < request.size(); ++i) {
    uint8_t b = 0;
    if (in->read(&b, 1, kRequestMs) != 1) {
      if (stop_) return;
      mismatch("command " + std::to_string(position + 1) + ": the host's request " + requestText(sent) + " ended after " +
               std::to_string(i) + " byte(s); the recording has " + e.text + " of " + std::to_string(request.size()));
      return;
    }
    sent.push_back(b);
    if (b != request[i]) {
      mismatch("command " + std::to_string(position + 1) + ": the host sent " + requestText(sent) +
               ", the recording has " + e.text + " (they differ at byte " + std::to_string(i) + " of the request)");
      return;
    }
  }
  {
    std::lock_guard<std::mutex> hold(m_);
    arrived_[index] = std::chrono::steady_clock::now();
    hasArrived_[index] = true;
    received_.push_back(e.text);
  }
  cv_.notify_all();
  if (!play(e, 1, *in, *out, e.text)) return;
  bool finished = false;
  {
    std::lock_guard<std::mutex> hold(m_);
    ++answeredCount_;
    finished = answeredCount_ == commands_.size() && triggersSent_ == triggers_.size();
  }
  if (!e.complete) log_("replay: the recording of " + e.text + " ends in the middle; the rest is not sent");
  if (finished) log_("replay: every recorded command answered and every trigger transfer sent");
}

bool Replay::play(const trace::Exchange& e, size_t firstStep, ImagerPort& in, ImagerPort& out,
                  const std::string& what) {
  for (size_t s = firstStep; s < e.steps.size() && !stop_; ++s) {
    const trace::Exchange::Step& step = e.steps[s];
    if (!step.host) {
      out.write(step.bytes.data(), step.bytes.size());
      out.flush();
      continue;
    }
    for (uint8_t expected : step.bytes) {
      uint8_t b = 0;
      if (in.read(&b, 1, kAckMs) != 1) {
        if (stop_) return false;
        mismatch(std::string("during ") + what + ": " +
                 (in.ended() ? "the host reset the link" : "the host sent nothing") + " where the recording has 0x" +
                 hexBytes({expected}, 0));
        return false;
      }
      if (b != expected) {
        mismatch(std::string("during ") + what + ": the host sent 0x" + hexBytes({b}, 0) +
                 " where the recording has 0x" + hexBytes({expected}, 0));
        return false;
      }
    }
  }
  return !stop_;
}

void Replay::serveTriggers() {
  for (const Trigger& t : triggers_) {
    std::chrono::steady_clock::time_point at;
    {
      std::unique_lock<std::mutex> hold(m_);
      const size_t after = static_cast<size_t>(t.after);
      cv_.wait(hold, [&] { return stop_ || (after < hasArrived_.size() && hasArrived_[after]); });
      if (stop_) return;
      at = arrived_[after] + t.offset;
      cv_.wait_until(hold, at, [&] { return stop_.load(); });
      if (stop_) return;
    }
    const std::unique_ptr<ImagerPort> out = link_.sessionPort(kEventOut);
    const std::unique_ptr<ImagerPort> in = link_.sessionPort(kEventIn);
    if (!play(*t.exchange, 0, *in, *out, t.exchange->text)) return;
    log_("replay: sent " + t.exchange->text);
    bool finished = false;
    {
      std::lock_guard<std::mutex> hold(m_);
      ++triggersSent_;
      finished = answeredCount_ == commands_.size() && triggersSent_ == triggers_.size();
    }
    if (finished) log_("replay: every recorded command answered and every trigger transfer sent");
  }
}

std::string Replay::history() const {
  if (received_.empty()) return "no command before it";
  std::string s = "before it: ";
  const size_t from = received_.size() > kHistory ? received_.size() - kHistory : 0;
  if (from > 0) s += "... ";
  for (size_t i = from; i < received_.size(); ++i) s += (i > from ? ", " : "") + received_[i];
  return s;
}

void Replay::mismatch(const std::string& what) {
  if (failed_.exchange(true)) return;
  std::string before;
  {
    std::lock_guard<std::mutex> hold(m_);
    before = history();
  }
  log_("replay mismatch: " + what + "; " + before + ". The replay ends.");
  stop_ = true;
  cv_.notify_all();
}

}  // namespace sim
