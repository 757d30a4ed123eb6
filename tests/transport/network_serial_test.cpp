// The network serial transport against the stand-alone simulator's server on the
// loopback interface: the port map choosing it, the break handshake and the line
// settings as com port commands, every byte value through IAC doubling, line
// events, a lost connection made again by reset; hostile servers; and the exports
// reaching a simulated imager over it.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "ImgEngine.h"
#include "platform/Sockets.h"
#include "platform/Time.h"
#include "transport/NetworkSerialLine.h"
#include "transport/SerialTransport.h"
#include "transport/Telnet.h"
#include "Eventually.h"
#include "NetworkPortFixture.h"

namespace {

using netport::EchoLine;
using netport::kMappedPort;
using netport::Served;
using vel::SerialTransport;
namespace p = vel::platform;
namespace t = vel::telnet;

// Writes every byte value (0xFF, the IAC, among them) and reads them back from the echo line.
void expectEcho(SerialTransport& transport) {
  std::vector<uint8_t> out(1024), in(1024);
  std::iota(out.begin(), out.end(), 0);
  transport.write(out.data(), out.size(), 2000);
  transport.read(in.data(), in.size(), 2000);
  ASSERT_FALSE(transport.failed());
  EXPECT_EQ(in, out);
}

TEST(NetworkSerial, TheBreakHandshakeRecoversTheLineAndEveryByteValueGoesThrough) {
  EchoLine echo;
  Served served(echo.line());
  SerialTransport transport(kMappedPort);
  ASSERT_TRUE(transport.opened());
  EXPECT_TRUE(transport.failed()) << "a fresh line waits for its first reset";
  transport.reset();
  ASSERT_FALSE(transport.failed());
  // The server takes the client's commands on its own thread: the break-off comes after the answer.
  EXPECT_TRUE(eventually([&] { return !served.line().breakOn(); }));
  EXPECT_EQ(served.line().breakCount(), 1);
  EXPECT_TRUE(transport.setBaudRate(57600));
  EXPECT_TRUE(eventually([&] { return served.line().lastBaudRate() == 57600; }));
  expectEcho(transport);
}

// COM7 over the network to an echo line, opened and recovered.
class EchoPort : public ::testing::Test {
 protected:
  void SetUp() override {
    transport.reset();
    ASSERT_FALSE(transport.failed());
  }
  EchoLine echo;
  Served served{echo.line()};
  SerialTransport transport{kMappedPort};
};

TEST_F(EchoPort, LineEventsFailTheTransportAsOnAComPort) {
  served.line().injectLineEvent(vel::devices::kLineError);
  ASSERT_TRUE(eventually([&] { return transport.failed(); }));
  EXPECT_EQ(transport.lineState(), SerialTransport::kLineBreakOrError);
  transport.reset();
  ASSERT_FALSE(transport.failed());

  served.line().injectLineEvent(vel::devices::kLineDsr);
  ASSERT_TRUE(eventually([&] { return transport.failed(); }));
  EXPECT_EQ(transport.lineState(), SerialTransport::kLineModemChange);
  transport.reset();
  expectEcho(transport);
}

TEST_F(EchoPort, ALostConnectionFailsTheTransportAndResetConnectsAgain) {
  served.server().dropClient();
  ASSERT_TRUE(eventually([&] { return transport.failed(); })) << "no read was pending: the watcher saw the loss";
  transport.reset();
  ASSERT_FALSE(transport.failed());
  EXPECT_EQ(served.server().sessions(), 2);
  EXPECT_TRUE(eventually([&] { return served.line().lastBaudRate() == 115200u; })) << "the settings were sent again";
  expectEcho(transport);
}

TEST(NetworkSerial, AnUnansweredBreakLeavesTheTransportFailed) {
  EchoLine echo;
  Served served(echo.line());
  served.line().setAnswerBreaks(false);
  SerialTransport transport(kMappedPort);
  transport.reset();
  EXPECT_TRUE(transport.failed());
  EXPECT_TRUE(eventually([&] { return served.line().breakRequests() >= 3; }));
}

TEST(NetworkSerial, NoServerOrABadMappingLeavesThePortClosed) {
  // A port that was free a moment ago: nothing listens there.
  p::NativeSocket* probe = p::tcpListen("127.0.0.1", 0);
  ASSERT_NE(probe, nullptr);
  const uint16_t freePort = p::socketLocalPort(probe);
  p::socketClose(probe);
  for (const std::string& mapping : {"rfc2217://127.0.0.1:" + std::to_string(freePort), std::string("rfc2217://x")}) {
    netport::mapPort(mapping);
    SerialTransport transport(kMappedPort);
    EXPECT_FALSE(transport.opened()) << mapping;
  }
  netport::unsetEnv("VEL_SERIAL_PORT_7");
}

// A server written by the test: it answers the option negotiation as told, then
// sends what the test gives it, and keeps the connection open until the test ends.
class HostileServer {
 public:
  static constexpr uint32_t kAfterHelloMs = 100;
  HostileServer(bool agree, std::vector<uint8_t> stream, size_t repeat = 1)
      : listener_(p::tcpListen("127.0.0.1", 0)) {
    thread_ = std::thread([this, agree, stream, repeat] {
      p::NativeSocket* s = nullptr;
      while (!s && !done_) s = p::tcpAccept(listener_, 20);
      if (!s) return;
      std::vector<uint8_t> hello = {t::kIac, agree ? t::kDo : t::kDont, t::kOptionComPort};
      send(s, hello);
      // The client's open ends with the answer; what follows meets an open line.
      p::sleepMs(kAfterHelloMs);
      for (size_t i = 0; i < repeat && !done_; ++i) send(s, stream);
      while (!done_) {
        uint8_t sink[4096];
        p::socketWait(s, false, 20);
        if (p::socketReceive(s, sink, sizeof sink) < 0) break;
      }
      p::socketClose(s);
    });
  }
  ~HostileServer() {
    done_ = true;
    thread_.join();
    p::socketClose(listener_);
  }
  uint16_t port() const { return p::socketLocalPort(listener_); }
  std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port()); }
  uint64_t sent() const { return sent_; }

 private:
  void send(p::NativeSocket* s, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size() && !done_) {
      const long n = p::socketSend(s, bytes.data() + done, bytes.size() - done);
      if (n < 0) return;
      if (n == 0) p::socketWait(s, true, 20);
      done += static_cast<size_t>(n);
      sent_ += static_cast<uint64_t>(n);
    }
  }
  p::NativeSocket* listener_;
  std::atomic<bool> done_{false};
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

TEST(NetworkSerialHostile, ARefusedComPortOptionFailsTheOpenAtOnce) {
  HostileServer server(false, {});
  netport::mapPort(server.url());
  const uint32_t start = p::tickCount();
  SerialTransport transport(kMappedPort);
  EXPECT_FALSE(transport.opened());
  EXPECT_LT(p::tickCount() - start, vel::NetworkSerialLine::kNegotiationTimeoutMs);
  netport::unsetEnv("VEL_SERIAL_PORT_7");
}

TEST(NetworkSerialHostile, EndlessSubnegotiationsAndIacEverywhereMakeReadsTimeOutNotHang) {
  std::vector<uint8_t> endless = {t::kIac, t::kSb, t::kOptionComPort};
  endless.insert(endless.end(), 64 * 1024, 0x55);
  std::vector<uint8_t> iacs;
  for (int i = 0; i < 32 * 1024; ++i) iacs.insert(iacs.end(), {t::kIac, static_cast<uint8_t>(i % 250 + 1)});
  for (const auto& stream : {endless, iacs}) {
    HostileServer server(true, stream, 64);
    auto line = vel::NetworkSerialLine::open("127.0.0.1", server.port());
    ASSERT_NE(line, nullptr);
    vel::devices::Operation op;
    uint8_t buffer[16];
    const uint32_t start = p::tickCount();
    const auto started = line->read(buffer, sizeof buffer, op);
    EXPECT_NE(started, vel::devices::IoStart::kFailed);
    EXPECT_FALSE(op.event().wait(300)) << "no data came, only commands";
    line->cancel(op);
    EXPECT_LT(p::tickCount() - start, 2000u);
    uint32_t n = 0;
    EXPECT_FALSE(line->result(op, &n));
  }
}

TEST(NetworkSerialHostile, DataNobodyReadsEndsTheConnectionInsteadOfGrowingWithoutBound) {
  std::vector<uint8_t> flood(256 * 1024, 0x42);
  HostileServer server(true, flood, 16);  // 4 MiB, four times the limit
  auto line = vel::NetworkSerialLine::open("127.0.0.1", server.port());
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(eventually([&] { return !line->connected(); }, 10000));
  EXPECT_LE(server.sent(), 4u * 1024 * 1024 + 3);
}

// The exports over COM7 mapped to a network port with a simulated imager behind it.
TEST(NetworkSerialExports, ConnectCaptureResynchroniseAfterALostConnectionAndTrigger) {
  netport::ServedImager served;
  ASSERT_EQ(VelDeviceConnectEx(kMappedPort, 3000, 115200), 1);
  char firmware[16] = {};
  EXPECT_EQ(std::string(firmware, VelGetFirmwareVersion(sizeof firmware, firmware)), "SIM 1.00");
  // Exchanges within the channel timeout judge the connection: the status export's
  // 200 ms link check fails it for good when a loaded machine answers late.
  EXPECT_EQ(VelGetDeviceConfiguration(), 1);
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_TRUE(eventually([] { return VelGetHostInitiatedOperationStatus() >> 8 == VEL_EVENT_DONE; }, 5000));
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 4);

  served.served().server().dropClient();
  // The link resynchronises on its next exchange: reset connects again.
  EXPECT_EQ(VelGetDeviceConfiguration(), 1);
  EXPECT_EQ(served.served().server().sessions(), 2);
  const sim::TransferReport trigger = served.imager().pullTrigger(0x01);
  EXPECT_EQ(trigger.end, sim::TransferEnd::Completed);
  // The run ends with done, or with done-with-grey-image when the trigger reads the grey image.
  EXPECT_TRUE(eventually(
      [] {
        const int event = VelGetTriggerOperationStatus() >> 8;
        return event == VEL_EVENT_DONE || event == VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE;
      },
      5000));
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 4);
  VelDeviceDisconnect();
}

}  // namespace
