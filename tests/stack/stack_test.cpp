// The whole imager link from the device connection down to the real serial and
// USB transports, which open simulated devices through the device seam; at the
// other end the simulated imager's link and command set.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "devices/DeviceSim.h"
#include "imager/ImagerCommands.h"
#include "imager/ImagerLink.h"
#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"
#include "transport/SerialTransport.h"
#include "transport/UsbTransport.h"

namespace {

enum class Line { Serial, Usb, UsbPacket, Usb2 };

struct Stack {
  explicit Stack(Line kind) : kind(kind) {
    devices.install();
    sim::ImagerLine* imagerLine = nullptr;
    if (kind == Line::Serial) {
      serial = devices.addSerialLine(4);
      imagerLine = serial.get();
      transport = std::make_unique<vel::SerialTransport>(4);
    } else {
      usb = devices.plugUsb(kind == Line::Usb2 ? sim::UsbDriver::kSecond : sim::UsbDriver::kFirst, 0);
      imagerLine = usb.get();
      if (kind == Line::Usb2)
        transport = std::make_unique<vel::Usb2Transport>();
      else
        transport = std::make_unique<vel::UsbTransport>();
    }
    const bool packet = kind == Line::Serial || kind == Line::UsbPacket;
    imagerLink = std::make_unique<sim::ImagerLink>(*imagerLine, packet ? sim::Framing::Packet : sim::Framing::Direct,
                                                   0x2468ACE0);
    if (serial) imagerLink->setLineEventHandler([this] { serial->injectLineEvent(vel::devices::kLineBreak); });
    commands = std::make_unique<sim::ImagerCommands>(*imagerLink, sim::ImagerIdentity{});
    connection = std::make_unique<vel::DeviceConnection>(*transport, nullptr,
                                                          packet ? vel::LinkKind::Packet : vel::LinkKind::Direct);
    connection->setChannelTimeouts(3000);
  }
  ~Stack() {
    connection.reset();
    imagerLink->shutdown();
    commands.reset();
    imagerLink.reset();
    transport.reset();
  }

  Line kind;
  sim::DeviceSim devices;
  std::shared_ptr<sim::SimSerialLine> serial;
  std::shared_ptr<sim::UsbDevice> usb;
  std::unique_ptr<vel::ByteStream> transport;
  std::unique_ptr<sim::ImagerLink> imagerLink;
  std::unique_ptr<sim::ImagerCommands> commands;
  std::unique_ptr<vel::DeviceConnection> connection;
};

class StackTest : public ::testing::TestWithParam<Line> {};

// Echo on the imager's side: what the host writes on port 5 comes back on port 4.
void echo(sim::ImagerPorts& ports, const std::atomic<bool>& stop) {
  std::vector<uint8_t> buffer(500);
  while (!stop) {
    const size_t n = ports.port(5).read(buffer.data(), buffer.size(), 20);
    if (n == 0) continue;
    ports.port(4).write(buffer.data(), n);
    ports.port(4).flush();
  }
}

uint8_t pattern(size_t i) { return static_cast<uint8_t>((i * 131u) ^ (i >> 9)); }

}  // namespace

TEST_P(StackTest, ConnectionChecksTheLinkAndReadsVersionsOverTheRealTransport) {
  Stack s(GetParam());
  ASSERT_FALSE(s.connection->errorFlag());
  EXPECT_EQ(s.connection->blockSize(), 4096);
  bool passed = false;
  EXPECT_TRUE(s.connection->checkLink(passed));
  EXPECT_TRUE(passed);
  vel::VersionRecord v;
  EXPECT_TRUE(s.connection->getVersions(v));
  EXPECT_EQ(std::string(v.firmware, v.firmwareLength), "SIM 1.00");
  EXPECT_FALSE(s.transport->failed());
}

// A stream echoed by the imager through line failures in the middle of the
// transfer: it arrives complete and in order, or the channel reports the failure;
// what arrived is never corrupt.
TEST_P(StackTest, AnEchoedStreamArrivesIntactThroughLineFailures) {
  Stack s(GetParam());
  ASSERT_FALSE(s.connection->errorFlag());
  std::atomic<bool> stop{false};
  std::thread imagerEcho([&] { echo(*s.imagerLink, stop); });
  vel::Link& link = s.connection->link();
  std::unique_ptr<vel::PortPair> channel = link.openPortPair(4, 5);
  channel->setDefaultTimeout(5000);

  const size_t total = 1000 * 1000, piece = 500;
  // Line failures at two points of the transfer (piece boundaries, so that both happen).
  const size_t firstFailure = total / 3 / piece * piece, secondFailure = 2 * firstFailure;
  std::atomic<bool> writerFailed{false};
  std::thread writer([&] {
    std::vector<uint8_t> out(piece);
    for (size_t sent = 0; sent < total && !channel->failed(); sent += piece) {
      for (size_t i = 0; i < piece; ++i) out[i] = pattern(sent + i);
      channel->write(out.data(), piece);
      channel->flush();
      // The transport fails and the link resynchronises with the same imager.
      if (sent == firstFailure || sent == secondFailure) s.transport->abort();
    }
    writerFailed = channel->failed();
  });

  std::vector<uint8_t> in(piece);
  size_t received = 0, corrupt = 0;
  while (received < total) {
    in.assign(piece, 0);
    channel->read(in.data(), piece);
    if (channel->failed()) break;
    for (size_t i = 0; i < piece; ++i) corrupt += in[i] != pattern(received + i);
    received += piece;
  }
  const bool reported = channel->failed();
  channel->abort();
  writer.join();
  // A stream cut short may leave the echo waiting for acknowledgements that no
  // longer come: the imager goes away so that the test ends.
  if (received < total) s.imagerLink->shutdown();
  stop = true;
  imagerEcho.join();
  channel.reset();

  EXPECT_EQ(corrupt, 0u);
  if (received < total) {
    EXPECT_TRUE(reported) << "a stream cut short must be reported";
  }
  // The packet link retransmits after a resynchronisation with the same imager.
  if (s.kind == Line::Serial || s.kind == Line::UsbPacket) {
    EXPECT_EQ(received, total);
  }
  if (received == total) {
    // The connection's own resynchronisation and one for each line failure.
    EXPECT_GE(s.imagerLink->resyncsAnswered(), 3u) << "the line failures did not happen";
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, StackTest, ::testing::Values(Line::Serial, Line::Usb, Line::UsbPacket, Line::Usb2),
                         [](const ::testing::TestParamInfo<Line>& info) {
                           switch (info.param) {
                             case Line::Serial: return "Serial";
                             case Line::Usb: return "UsbDirect";
                             case Line::UsbPacket: return "UsbPacket";
                             default: return "Usb2Direct";
                           }
                         });
