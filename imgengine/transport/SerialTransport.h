// Raw bytes over a COM port with overlapped I/O. A line watcher turns modem-status
// changes, breaks and line errors into a transport failure; reset recovers the
// line with a break handshake (the imager answers the host's break with its own).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/ByteStream.h"
#include "transport/DeviceSeam.h"
#include "base/Sync.h"
#include "base/WorkerThread.h"

namespace vel {

class SerialTransport : public ByteStream {
 public:
  static constexpr uint32_t kPiece = 256;
  static constexpr int kFirstResetAttempts = 3;
  static constexpr int kResetAttempts = 20;
  static constexpr int kBreakWaitMs = 50;
  static constexpr int kWatcherPriority = 17000000;
  static constexpr size_t kWatcherStack = 1024;
  // Line states: chooses the number of break attempts of the next reset.
  enum LineState : int { kLineRecovered = 0, kLineModemChange = 1, kLineBreakOrError = 2 };

  // Opens "\\.\COM<port>" for port numbers 1..99; any other number leaves it closed.
  explicit SerialTransport(int portNumber);
  ~SerialTransport() override;
  SerialTransport(const SerialTransport&) = delete;
  SerialTransport& operator=(const SerialTransport&) = delete;

  using ByteStream::read;
  using ByteStream::write;
  bool failed() const override { return fault_.load() != 0; }
  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override;
  void flush() override {}
  void abort() override;
  void reset() override;

  bool opened() const { return opened_ != 0; }
  int lineState() const { return lineState_.load(); }
  // Sets the line's baud rate once the port is open (the caller's choice at connect).
  bool setBaudRate(uint32_t baud);

  // "\\.\COM" followed by the number; empty for numbers outside 1..99.
  static std::string portName(int portNumber);

 private:
  class LineWatcher;
  void watch(WorkerThread& self);
  void wakeTransfers();

  std::atomic<uint8_t> fault_{1};
  uint8_t opened_ = 0;
  std::atomic<int> lineState_{kLineModemChange};
  std::unique_ptr<devices::SerialLine> line_;
  devices::Operation watchOp_;
  devices::Operation readOp_;
  devices::Operation writeOp_;
  uint32_t eventBits_ = 0;
  Event breakSeen_{true, false};
  Mutex readLock_;
  Mutex writeLock_;
  std::unique_ptr<WorkerThread> watcher_;
};

}  // namespace vel
