// Raw bytes over a COM port with overlapped I/O. A line watcher turns modem-status
// changes, breaks and line errors into a transport failure; reset recovers the
// line with a break handshake (the imager answers the host's break with its own).
// The port map (transport/PortMap.h) may put a device path or a network serial
// port behind the number; a lost network connection is made again by reset.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Sync.h"
#include "base/WorkerThread.h"
#include "transport/DeviceSeam.h"
#include "transport/OverlappedTransport.h"

namespace vel {

class SerialTransport : public OverlappedTransport {
 public:
  static constexpr uint32_t kPiece = 256;  // largest read or write request
  // How long a reset attempt waits for the imager's break answering the host's
  // (plus the line's round trip).
  static constexpr int kBreakWaitMs = 50;
  // Settling time after the break condition was set or cleared.
  static constexpr uint32_t kBreakSettleMs = 2;
  // The line watcher's thread: priority parameter and stack size of the worker.
  static constexpr int kWatcherPriority = 17000000;
  static constexpr size_t kWatcherStack = 1024;
  // Line states: chooses the number of break attempts of the next reset.
  enum LineState : int { kLineRecovered = 0, kLineModemChange = 1, kLineBreakOrError = 2 };

  // Opens what the port map names for port numbers 1..99 ("\\.\COM<port>" when
  // unmapped); any other number leaves it closed.
  explicit SerialTransport(int portNumber);
  ~SerialTransport() override;

  void flush() override {}
  void reset() override;

  int lineState() const { return lineState_.load(); }
  // Sets the line's baud rate once the port is open (the caller's choice at connect).
  bool setBaudRate(uint32_t baud);

 private:
  class LineWatcher;
  size_t receive(uint8_t* buffer, size_t wanted, int timeoutMs) override;
  void watch(WorkerThread& self);

  std::atomic<int> lineState_{kLineModemChange};
  devices::Operation watchOp_;
  uint32_t eventBits_ = 0;
  Event breakSeen_{true, false};
  std::unique_ptr<devices::SerialLine> line_;
  std::unique_ptr<WorkerThread> watcher_;
};

}  // namespace vel
