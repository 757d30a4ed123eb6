// A simulated imager behind the library's device seam, reached through the real
// exports, connection, links and transports: a serial line on COM4, or a device
// of the first or second USB driver, with the imager's link (packet or direct
// framing), command set, configuration store and long transfers. Also the
// notifications a test thread receives from the operations.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ImgEngine.h"
#include "SimulatedImager.h"
#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Time.h"

namespace simimager {

enum class Line {
  Serial,     // COM4, packet link
  Usb,        // port 0, direct link
  UsbPacket,  // port 0 with an imager on the packet link: the connection falls back to it
  Usb2,       // port 100, direct link
};

constexpr int kSerialPort = 4;

inline int portOf(Line line) {
  switch (line) {
    case Line::Serial: return kSerialPort;
    case Line::Usb2: return 100;
    default: return 0;
  }
}

inline std::string lineName(const ::testing::TestParamInfo<Line>& info) {
  switch (info.param) {
    case Line::Serial: return "Serial";
    case Line::Usb: return "UsbDirect";
    case Line::UsbPacket: return "UsbPacket";
    default: return "Usb2Direct";
  }
}

// The imager on its line; the library is disconnected when it goes.
class SimulatedImager {
 public:
  SimulatedImager(Line line, sim::ImagerIdentity identity = {}, bool packetFraming = false)
      : line_(line), imager_(portOf(line), identity, packetFraming || line == Line::UsbPacket) {}
  ~SimulatedImager() {
    VelDeviceDisconnect();
    imager_.shutDown();
  }
  SimulatedImager(const SimulatedImager&) = delete;
  SimulatedImager& operator=(const SimulatedImager&) = delete;

  // Connects; an unanswered connect (0) is tried once more, as an application would:
  // the break and resynchronisation handshakes allow the imager 52 and 100 ms per
  // attempt, which a simulated imager starved by a loaded machine under Wine can miss.
  // Tests of an unanswered connect use connectOnce.
  int connect(int channelTimeoutMs = 3000) {
    const int result = connectOnce(channelTimeoutMs);
    return result != 0 ? result : connectOnce(channelTimeoutMs);
  }
  int connectOnce(int channelTimeoutMs = 3000) { return VelDeviceConnectEx(portOf(line_), channelTimeoutMs, 115200); }
  void shutDown() { imager_.shutDown(); }

  void showScene(const sim::SceneDescription& description) { imager_.showScene(description); }
  sim::ImagerConfigStore& store() { return imager_.store(); }
  sim::ImagerCommands& commands() { return imager_.commands(); }
  sim::ImagerOperations& operations() { return imager_.operations(); }
  sim::ImagerLink& link() { return imager_.link(); }
  sim::SimSerialLine* serialLine() { return imager_.serialLine(); }

 private:
  Line line_;
  sim::SimulatedImager imager_;
};

// The connection is in place and not marked failed: an exchange within the channel
// timeout passes. Tests use this rather than the status export, whose 200 ms link
// check a loaded machine running Wine can miss, failing the connection for good.
inline bool connectionIntact() { return VelGetDeviceConfiguration() == 1; }

// A message posted to the calling thread or one of its windows.
struct Note {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  bool operator==(const Note& o) const { return message == o.message && wParam == o.wParam && lParam == o.lParam; }
};

constexpr uint32_t kProgress = WM_OPERATION_PROGRESS;
constexpr uint32_t kConfigurationChanged = WM_CONFIGURATION_CHANGED;

inline Note progress(uintptr_t percent, intptr_t event) { return Note{kProgress, percent, event}; }
inline Note configurationChanged(uintptr_t reason) { return Note{kConfigurationChanged, reason, 0}; }

// The calling thread's id, with its message queue made so that posts reach it;
// what earlier tests left in the queue is dropped.
inline unsigned int thisThreadWithQueue() {
  vel::platform::Message m;
  while (vel::platform::messageTake(&m, 0)) {
  }
  return vel::platform::currentThreadId();
}

inline bool endsRun(const Note& n) { return n.message == kProgress && (n.lParam == 1 || n.lParam == 2 || n.lParam == 9); }

// Takes the calling thread's messages until one ends a run (event 1, 2 or 9) or
// timeoutMs have passed; the thread's timers run meanwhile.
inline std::vector<Note> takeRun(uint32_t timeoutMs = 10000) {
  std::vector<Note> notes;
  const uint32_t start = vel::platform::tickCount();
  for (;;) {
    const uint32_t elapsed = vel::platform::tickCount() - start;
    if (elapsed >= timeoutMs) return notes;
    vel::platform::Message m;
    if (!vel::platform::messageTake(&m, timeoutMs - elapsed)) continue;
    if (m.message != kProgress && m.message != kConfigurationChanged) continue;
    notes.push_back(Note{m.message, m.wParam, m.lParam});
    if (endsRun(notes.back())) return notes;
  }
}

inline void PrintTo(const Note& n, std::ostream* os) {
  *os << (n.message == kProgress ? "progress(" : "changed(") << n.wParam << "," << n.lParam << ")";
}

}  // namespace simimager
