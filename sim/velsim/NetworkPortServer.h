// A simulated serial line served as a network serial port (RFC 2217), as a
// device server serves a COM port: one client at a time; its data goes to the
// line and the line's data comes back with IAC doubling; the com port commands
// set the baud rate (and, when paced, the line's pace), purge, and set and clear
// the break; the line's events go out as line-state and modem-state
// notifications under the client's masks. Every step is told to the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "devices/SimSerialLine.h"
#include "platform/Sockets.h"

namespace sim {

class NetworkPortServer {
 public:
  struct Options {
    bool paced = false;  // the line runs at the baud rate the client sets
    std::function<void(const std::string&)> log;
  };

  // Listens on host:port (port 0: any free port); listening() tells whether it could.
  NetworkPortServer(std::shared_ptr<SimSerialLine> line, const std::string& host, uint16_t port, Options options);
  ~NetworkPortServer();
  NetworkPortServer(const NetworkPortServer&) = delete;
  NetworkPortServer& operator=(const NetworkPortServer&) = delete;

  bool listening() const { return listener_ != nullptr; }
  uint16_t port() const { return port_; }
  // Ends the current client's connection, as a network failure would.
  void dropClient() { drop_ = true; }
  int sessions() const { return sessions_.load(); }

 private:
  class Session;
  void acceptLoop();
  void log(const std::string& text);

  std::shared_ptr<SimSerialLine> line_;
  Options options_;
  vel::platform::NativeSocket* listener_ = nullptr;
  uint16_t port_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<bool> drop_{false};
  std::atomic<int> sessions_{0};
  std::mutex logLock_;
  std::thread acceptor_;
};

}  // namespace sim
