#include "velsim/NetworkPortServer.h"

#include <cstdio>
#include <vector>

#include "transport/Telnet.h"

namespace sim {

namespace telnet = vel::telnet;
using vel::devices::IoStart;
using vel::devices::Operation;
using vel::platform::NativeSocket;

namespace {

constexpr uint32_t kSliceMs = 20;
constexpr size_t kChunk = 4096;
// Defaults of the notification masks until the client sets its own.
constexpr uint8_t kDefaultLineStateMask = 0;
constexpr uint8_t kDefaultModemStateMask = 0xFF;
// SET-CONTROL values: the queries and what this server answers them with.
constexpr uint8_t kControlQueryFlow = 0, kControlNoFlow = 1, kControlQueryBreak = 4, kControlQueryDtr = 7,
                  kControlDtrOn = 8, kControlQueryRts = 10, kControlRtsOn = 11;
constexpr uint8_t kComSignature = 0;
constexpr char kSignature[] = "velsim";

uint32_t bigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

// One client's connection: this thread reads the client; helpers carry the
// line's bytes and the line's events to the client.
class NetworkPortServer::Session : private telnet::Parser::Handler {
 public:
  Session(NetworkPortServer& server, NativeSocket* socket, std::unique_ptr<vel::devices::SerialLine> host)
      : server_(server), socket_(socket), host_(std::move(host)) {}

  void run() {
    std::vector<uint8_t> offer;
    for (uint8_t option : {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead}) {
      offer.insert(offer.end(), {telnet::kIac, telnet::kDo, option, telnet::kIac, telnet::kWill, option});
      sentDo_[option] = sentWill_[option] = true;
    }
    send(offer);
    std::thread toClient([this] { fromLine(); });
    std::thread events([this] { watchEvents(); });
    uint8_t chunk[kChunk];
    while (!ending()) {
      const unsigned ready = vel::platform::socketWait(socket_, false, kSliceMs);
      if (ready & vel::platform::kSocketFailed) break;
      if (!(ready & vel::platform::kSocketReadable)) continue;
      const long n = vel::platform::socketReceive(socket_, chunk, sizeof chunk);
      if (n < 0) break;
      const size_t data = parser_.feed(chunk, static_cast<size_t>(n), chunk, *this);
      // A write the client's purge ended is lost, as on a COM port; the session goes on.
      if (data > 0) toLine(chunk, data);
    }
    ended_ = true;
    toClient.join();
    events.join();
  }

 private:
  bool ending() const { return ended_ || server_.drop_ || !server_.running_; }

  // Everything goes out, unless the session ends first.
  bool send(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> g(sendLock_);
    size_t done = 0;
    while (done < bytes.size()) {
      if (ending()) return false;
      const long n = vel::platform::socketSend(socket_, bytes.data() + done, bytes.size() - done);
      if (n < 0) return false;
      if (n == 0) vel::platform::socketWait(socket_, true, kSliceMs);
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Waits for a request on the host end; cancels it when the session ends first.
  bool settle(IoStart started, Operation& op, uint32_t* transferred) {
    if (started == IoStart::kFailed) return false;
    while (!op.event().wait(static_cast<int>(kSliceMs))) {
      if (ending()) {
        host_->cancel(op);
        return false;
      }
    }
    return host_->result(op, transferred);
  }

  void toLine(const uint8_t* data, size_t length) {
    uint32_t n = 0;
    settle(host_->write(data, static_cast<uint32_t>(length), writeOp_), writeOp_, &n);
  }

  void fromLine() {
    SimSerialLine& line = *server_.line_;
    uint8_t chunk[kChunk];
    std::vector<uint8_t> out;
    while (!ending()) {
      const size_t n = line.hostReceive(chunk, sizeof chunk, static_cast<int>(kSliceMs));
      if (n == 0) continue;
      out.clear();
      telnet::appendData(out, chunk, n);
      if (!send(out)) return;
    }
  }

  void watchEvents() {
    Operation op;
    while (!ending()) {
      uint32_t mask = 0, n = 0;
      if (!settle(host_->waitEvent(&mask, op), op, &n)) continue;
      uint8_t lineState = 0, modemState = 0;
      if (mask & vel::devices::kLineBreak) lineState |= telnet::kLineBreakDetect;
      if (mask & vel::devices::kLineError) lineState |= 0x08;  // framing error
      if (mask & vel::devices::kLineCts) modemState |= telnet::kModemCtsChanged;
      if (mask & vel::devices::kLineDsr) modemState |= telnet::kModemDsrChanged;
      uint32_t levels = 0;
      if (modemState && host_->modemStatus(&levels)) {  // a change goes out with the levels
        if (levels & vel::devices::kModemCtsOn) modemState |= telnet::kModemCts;
        if (levels & vel::devices::kModemDsrOn) modemState |= telnet::kModemDsr;
      }
      std::vector<uint8_t> out;
      if (lineState & lineStateMask_) {
        telnet::appendComCommand(out, telnet::kServerOffset + telnet::kNotifyLineState, lineState & lineStateMask_);
      }
      if (modemState & modemStateMask_) {
        telnet::appendComCommand(out, telnet::kServerOffset + telnet::kNotifyModemState, modemState & modemStateMask_);
      }
      server_.log("line event 0x" + hex(mask) + (out.empty() ? " (masked)" : " notified"));
      if (!out.empty()) send(out);
    }
  }

  static std::string hex(uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
  }

  void negotiation(uint8_t verb, uint8_t option) override {
    const bool supported = option == telnet::kOptionBinary || option == telnet::kOptionSuppressGoAhead ||
                           option == telnet::kOptionComPort;
    std::vector<uint8_t> out;
    // Each answer once per option, so that neither side loops.
    if (verb == telnet::kWill && !sentDo_[option]) {
      sentDo_[option] = true;
      out = {telnet::kIac, supported ? telnet::kDo : telnet::kDont, option};
      if (option == telnet::kOptionComPort) server_.log("client speaks the com port option");
    } else if (verb == telnet::kDo && !sentWill_[option]) {
      sentWill_[option] = true;
      out = {telnet::kIac, supported ? telnet::kWill : telnet::kWont, option};
    }
    if (!out.empty()) send(out);
  }

  void subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override {
    if (option != telnet::kOptionComPort || length < 1) return;
    const uint8_t command = payload[0];
    const uint8_t* value = payload + 1;
    const size_t valueLength = length - 1;
    std::vector<uint8_t> answer(value, value + valueLength);
    switch (command) {
      case kComSignature:
        if (valueLength == 0) answer.assign(kSignature, kSignature + sizeof kSignature - 1);
        break;
      case telnet::kSetBaudRate:
        if (valueLength != 4) return;
        setBaud(bigEndian(value), answer);
        break;
      case telnet::kSetDataSize:
      case telnet::kSetParity:
      case telnet::kSetStopSize:
        // The line is 8N1 whatever is asked: the answer says so.
        if (valueLength != 1) return;
        answer = {command == telnet::kSetDataSize ? uint8_t{8} : uint8_t{1}};
        break;
      case telnet::kSetControl:
        if (valueLength != 1) return;
        answer = {control(value[0])};
        break;
      case telnet::kSetLineStateMask:
        if (valueLength != 1) return;
        lineStateMask_ = value[0];
        break;
      case telnet::kSetModemStateMask:
        if (valueLength != 1) return;
        modemStateMask_ = value[0];
        break;
      case telnet::kPurgeData:
        host_->purge();
        server_.log("purge");
        break;
      default:
        return;  // flow control suspend/resume and notifications need no answer
    }
    std::vector<uint8_t> out;
    telnet::appendComCommand(out, static_cast<uint8_t>(telnet::kServerOffset + command), answer.data(), answer.size());
    send(out);
  }

  void setBaud(uint32_t baud, std::vector<uint8_t>& answer) {
    if (baud == 0) {
      baud = baud_;  // a query
    } else {
      baud_ = baud;
      host_->setBaudRate(baud);
      if (server_.options_.paced) server_.line_->setPacingBaud(baud);
      server_.log("baud rate " + std::to_string(baud) + (server_.options_.paced ? " (paced)" : ""));
    }
    answer = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16), static_cast<uint8_t>(baud >> 8),
              static_cast<uint8_t>(baud)};
  }

  uint8_t control(uint8_t value) {
    switch (value) {
      case telnet::kControlBreakOn:
      case telnet::kControlBreakOff:
        breakOn_ = value == telnet::kControlBreakOn;
        host_->setBreak(breakOn_);
        server_.log(breakOn_ ? "break on" : "break off");
        return value;
      case kControlQueryFlow: return kControlNoFlow;
      case kControlQueryBreak: return breakOn_ ? telnet::kControlBreakOn : telnet::kControlBreakOff;
      case kControlQueryDtr: return kControlDtrOn;
      case kControlQueryRts: return kControlRtsOn;
      default: return value;  // flow control, DTR and RTS settings are taken as asked
    }
  }

  NetworkPortServer& server_;
  NativeSocket* socket_;
  Operation writeOp_;  // outlives the host end, which may complete it when closing
  std::unique_ptr<vel::devices::SerialLine> host_;
  telnet::Parser parser_;
  std::mutex sendLock_;
  std::atomic<bool> ended_{false};
  bool sentDo_[256] = {};
  bool sentWill_[256] = {};
  std::atomic<uint8_t> lineStateMask_{kDefaultLineStateMask};
  std::atomic<uint8_t> modemStateMask_{kDefaultModemStateMask};
  uint32_t baud_ = 115200;
  bool breakOn_ = false;
};

NetworkPortServer::NetworkPortServer(std::shared_ptr<SimSerialLine> line, const std::string& host, uint16_t port,
                                     Options options)
    : line_(std::move(line)), options_(std::move(options)) {
  listener_ = vel::platform::tcpListen(host.c_str(), port);
  if (!listener_) return;
  port_ = vel::platform::socketLocalPort(listener_);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

NetworkPortServer::~NetworkPortServer() {
  running_ = false;
  if (acceptor_.joinable()) acceptor_.join();
  vel::platform::socketClose(listener_);
}

void NetworkPortServer::log(const std::string& text) {
  if (!options_.log) return;
  std::lock_guard<std::mutex> g(logLock_);
  options_.log(text);
}

void NetworkPortServer::acceptLoop() {
  while (running_) {
    NativeSocket* client = vel::platform::tcpAccept(listener_, kSliceMs);
    if (!client) continue;
    drop_ = false;
    auto host = line_->openHost();
    if (!host) {
      log("client refused: the line is in use");
      vel::platform::socketClose(client);
      continue;
    }
    ++sessions_;
    log("client connected");
    Session(*this, client, std::move(host)).run();
    vel::platform::socketClose(client);
    log(drop_ ? "client dropped" : "client disconnected");
  }
}

}  // namespace sim
