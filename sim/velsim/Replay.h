// The imager's side of a recorded conversation, played on the simulator's own link:
// the k-th command of each code is answered with what the imager sent for the k-th
// such command in the trace (short answers, long responses with the host's
// acknowledgements in between), and the trigger transfers go out at their recorded
// offsets from the command before them. The host's commands must match the recorded
// ones byte for byte (code, fields, configuration bodies, acknowledgements); the
// first that does not ends the replay with a message naming both and what came before.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Conversation.h"
#include "devices/SimSerialLine.h"
#include "imager/ImagerLink.h"

namespace sim {

class Replay {
 public:
  using Log = std::function<void(const std::string&)>;

  // The exchanges of a trace file; empty with *error set when it cannot be read or
  // holds no command.
  static std::vector<trace::Exchange> load(const std::string& path, std::string* error);

  // Starts answering on the imager's end of line at once.
  Replay(std::vector<trace::Exchange> exchanges, SimSerialLine& line, Log log);
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // The host sent something the recording does not have: the replay has ended.
  bool failed() const { return failed_.load(); }
  // Every recorded command was answered and every trigger transfer sent.
  bool done() const;

 private:
  struct Trigger {
    const trace::Exchange* exchange;
    long after;                          // index into commands_ of the command before it, -1: none
    std::chrono::microseconds offset{};  // from that command's arrival
  };

  void serveCommands();
  void serveTriggers();
  void answer(uint8_t code);
  // Plays the steps after the first: the imager's bytes out, the host's read and compared.
  bool play(const trace::Exchange& e, size_t firstStep, ImagerPort& in, ImagerPort& out, const std::string& what);
  void mismatch(const std::string& what);  // without m_ held
  std::string history() const;  // with m_ held

  std::vector<trace::Exchange> exchanges_;
  std::vector<const trace::Exchange*> commands_;             // in recorded order
  std::map<int, std::vector<size_t>> byCode_;                // code -> indexes into commands_
  std::vector<Trigger> triggers_;
  Log log_;
  ImagerLink link_;

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::map<int, size_t> seen_;                                // commands received per code
  std::vector<std::chrono::steady_clock::time_point> arrived_;  // per command of commands_
  std::vector<bool> hasArrived_;
  std::vector<std::string> received_;                         // what the host sent, in order
  size_t answeredCount_ = 0;
  size_t triggersSent_ = 0;
  std::atomic<bool> failed_{false};
  std::atomic<bool> stop_{false};
  std::thread commandThread_;
  std::thread triggerThread_;
};

}  // namespace sim
