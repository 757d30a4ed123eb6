// A network serial port on the loopback interface for tests: a simulated serial
// line (an echo line, or a simulated imager's) served by the stand-alone
// simulator's server, with COM port 7 of this process mapped to it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "SimulatedImager.h"
#include "velsim/NetworkPortServer.h"

namespace netport {

constexpr int kMappedPort = 7;

inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

inline void mapPort(const std::string& text) { setEnv("VEL_SERIAL_PORT_7", text); }

// The server in front of a line; COM7 maps to it while this lives.
class Served {
 public:
  explicit Served(std::shared_ptr<sim::SimSerialLine> line, bool paced = false) : line_(std::move(line)) {
    sim::NetworkPortServer::Options options;
    options.paced = paced;
    server_ = std::make_unique<sim::NetworkPortServer>(line_, "127.0.0.1", 0, options);
    EXPECT_TRUE(server_->listening());
    mapPort("rfc2217://127.0.0.1:" + std::to_string(server_->port()));
  }
  ~Served() {
    server_.reset();
    unsetEnv("VEL_SERIAL_PORT_7");
  }
  sim::NetworkPortServer& server() { return *server_; }
  sim::SimSerialLine& line() { return *line_; }

 private:
  std::shared_ptr<sim::SimSerialLine> line_;
  std::unique_ptr<sim::NetworkPortServer> server_;
};

// A line whose imager end sends back every byte the host sends.
class EchoLine {
 public:
  EchoLine() : line_(std::make_shared<sim::SimSerialLine>(31)) {
    echo_ = std::thread([this] {
      uint8_t chunk[4096];
      while (running_) {
        line_->takeLineRecovery();
        const size_t n = line_->read(chunk, sizeof chunk, 10);
        if (n > 0) line_->write(chunk, n);
      }
    });
  }
  ~EchoLine() {
    running_ = false;
    echo_.join();
  }
  std::shared_ptr<sim::SimSerialLine> line() { return line_; }

 private:
  std::shared_ptr<sim::SimSerialLine> line_;
  std::atomic<bool> running_{true};
  std::thread echo_;
};

// A simulated imager on its own COM port of this process, reached only through COM7's server.
class ServedImager {
 public:
  ServedImager() : imager_(9), served_(std::shared_ptr<sim::SimSerialLine>(imager_.serialLine(), [](sim::SimSerialLine*) {})) {
    imager_.setScene(sim::demoScene());
  }
  ~ServedImager() { imager_.shutDown(); }
  sim::SimulatedImager& imager() { return imager_; }
  Served& served() { return served_; }

 private:
  sim::SimulatedImager imager_;
  Served served_;
};

}  // namespace netport
