// A serial line reached over TCP through a network serial port server (RFC 2217):
// the com port option negotiated with binary transmission and suppressed go-ahead
// both ways, data with IAC doubling, the line settings, break and purge as com
// port commands, and the server's line-state and modem-state notifications as
// line events. A helper thread receives and parses; writes go out from the
// caller's thread and the rest, if the socket is full, from the helper.
//
// A lost connection fails the pending read and reports a line error; reconnect()
// brings it back with the settings applied again. What a hostile server sends
// costs bounded memory: data beyond kMaxReceived unread bytes, or commands to
// send beyond kMaxOutgoing unsent bytes, end the connection.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/Sync.h"
#include "base/WorkerThread.h"
#include "platform/Sockets.h"
#include "transport/DeviceSeam.h"
#include "transport/Telnet.h"

namespace vel {

class NetworkSerialLine : public devices::SerialLine, private telnet::Parser::Handler {
 public:
  static constexpr uint32_t kConnectTimeoutMs = 3000;
  // How long the server has to agree to the com port option.
  static constexpr uint32_t kNegotiationTimeoutMs = 2000;
  static constexpr size_t kMaxReceived = 1 << 20;
  static constexpr size_t kMaxOutgoing = 1 << 20;
  // The helper's wait for the socket: the longest it takes to see its stop.
  static constexpr uint32_t kPollSliceMs = 20;
  static constexpr size_t kReceiveChunk = 4096;

  // Connects and negotiates; null when the server is not reached or refuses the com port option.
  static std::unique_ptr<NetworkSerialLine> open(const std::string& host, uint16_t port);
  ~NetworkSerialLine() override;

  devices::IoStart read(void* buffer, uint32_t length, devices::Operation& op) override;
  devices::IoStart write(const void* data, uint32_t length, devices::Operation& op) override;
  bool result(devices::Operation& op, uint32_t* transferred) override;
  void cancel(devices::Operation& op) override;
  bool configure(const devices::SerialSettings& settings) override;
  bool setBaudRate(uint32_t baud) override;
  bool setLineFormat(const devices::LineFormat& format) override;
  bool purge() override;
  bool setBreak(bool on) override;
  devices::IoStart waitEvent(uint32_t* mask, devices::Operation& op) override;
  // The levels of the server's last modem-state notification.
  bool modemStatus(uint32_t* levels) override;
  uint32_t roundTripMs() const override;
  bool reconnect() override;

  bool connected() const;

 private:
  // One overlapped request: its record, the thread that started it, and its result.
  struct Request {
    devices::Operation* op = nullptr;
    uint32_t starter = 0;
    bool pending = false;
    bool ok = false;
    uint32_t transferred = 0;
  };

  NetworkSerialLine(std::string host, uint16_t port);
  bool connect();
  void disconnect();
  void serve(WorkerThread& self);
  // With the lock held.
  void start(Request& r, devices::Operation& op);
  void complete(Request& r, bool ok, uint32_t transferred);
  bool queue(const std::vector<uint8_t>& bytes);
  void flushLocked();
  void deliverLocked();
  void lostLocked();
  void sendSettingsLocked();
  void negotiation(uint8_t verb, uint8_t option) override;
  void subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override;

  const std::string host_;
  const uint16_t port_;
  mutable Mutex m_;
  platform::NativeSocket* socket_ = nullptr;
  std::unique_ptr<WorkerThread> helper_;
  telnet::Parser parser_;
  uint8_t chunk_[kReceiveChunk] = {};
  bool connected_ = false;
  bool comPortAgreed_ = false;
  Event negotiated_{true, false};
  bool answered_[256] = {};
  uint32_t roundTripMs_ = 0;
  devices::LineFormat format_;  // what a reconnected line is set to again
  bool configured_ = false;
  std::deque<uint8_t> received_;
  std::vector<uint8_t> outgoing_;
  uint64_t queuedTotal_ = 0, sentTotal_ = 0, writeEnd_ = 0;
  uint32_t events_ = 0;
  uint32_t modemLevels_ = 0;
  bool modemKnown_ = false;
  Request read_, write_, wait_;
  uint32_t writeLength_ = 0;
  uint8_t* readBuffer_ = nullptr;
  uint32_t readLength_ = 0, readFilled_ = 0;
  uint32_t* waitMask_ = nullptr;
};

}  // namespace vel
