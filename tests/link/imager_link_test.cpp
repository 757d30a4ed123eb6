// The simulated imager's end of the links: pinned wire bytes against a raw host,
// then against the host's own links.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "devices/DeviceSim.h"
#include "imager/ImagerLink.h"
#include "Eventually.h"
#include "LinkFixture.h"
#include "transport/UsbTransport.h"

using namespace linktest;

namespace {

constexpr uint32_t kSimToken = 0x13572468;

// The host end of a MemoryLine driven by hand.
struct RawHost : ::testing::Test {
  sim::MemoryLine line;
  std::unique_ptr<sim::ImagerLink> imager;
  vel::ByteStream& host = line.host();

  void start(sim::Framing framing) { imager = std::make_unique<sim::ImagerLink>(line.imager(), framing, kSimToken); }
  void TearDown() override { imager.reset(); }

  // Line recovery and token exchange; answers the imager's token (0 when none came).
  uint32_t resync(uint32_t token = 0x100) {
    host.reset();
    const uint8_t intro[7] = {0, 0, 0xFF, uint8_t(token), uint8_t(token >> 8), uint8_t(token >> 16), uint8_t(token >> 24)};
    host.write(intro, 7, 100);
    uint8_t b = 0;
    do host.read(&b, 1, 200);
    while (!host.failed() && b == 0);
    uint8_t t[4] = {};
    host.read(t, 4, 200);
    if (host.failed()) return 0;
    return t[0] | (t[1] << 8) | (t[2] << 16) | (uint32_t(t[3]) << 24);
  }
  Bytes read(size_t n, int timeoutMs = 1000) {
    Bytes b(n);
    host.read(b.data(), n, timeoutMs);
    return b;
  }
  void send(const Bytes& b) { host.write(b.data(), b.size(), 100); }
};

}  // namespace

TEST_F(RawHost, AnswersResyncWithItsTokenAndAcknowledgesTheLinkCheck) {
  start(sim::Framing::Packet);
  EXPECT_EQ(resync(), kSimToken | 1);
  send({0xE9, 0xA7, 0x61, 0x01, 0x0D, 0x0D, 0x00, 0x00, 0x00});
  uint8_t got[5] = {};
  EXPECT_EQ(imager->port(1).read(got, 5, 1000), 5u);
  EXPECT_EQ(Bytes(got, got + 5), (Bytes{0x0D, 0x0D, 0x00, 0x00, 0x00}));
  EXPECT_EQ(read(4), (Bytes{0xD8, 0x28, 0x21, 0x00}));
  EXPECT_FALSE(host.failed());
}

TEST_F(RawHost, LostStateIsAnnouncedOnceAndRefusalLeavesTheHostUnanswered) {
  start(sim::Framing::Packet);
  EXPECT_EQ(resync(), kSimToken | 1) << "a new host finds the imager's ports fresh";
  EXPECT_EQ(resync(), kSimToken);
  imager->loseState();
  EXPECT_EQ(resync(), kSimToken | 1);
  EXPECT_EQ(resync(), kSimToken);
  imager->refuseResync(true);
  EXPECT_EQ(resync(), 0u);
  EXPECT_TRUE(host.failed());
  imager->refuseResync(false);
  EXPECT_EQ(resync(), kSimToken);
}

TEST_F(RawHost, SendsTwoPacketsPerCreditWindowAndDropsWrongSequences) {
  start(sim::Framing::Packet);
  ASSERT_EQ(resync(), kSimToken | 1);
  Bytes data(3 * 1016);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  std::thread app([&] { imager->port(0).write(data.data(), data.size()); });
  Bytes a = read(1020), b = read(1020);
  EXPECT_EQ(RawImager::seq(a), 2);
  EXPECT_EQ(RawImager::seq(b), 3);
  EXPECT_EQ(a, RawImager::packet(0, 2, Bytes(data.begin(), data.begin() + 1016)));
  uint8_t x;
  host.read(&x, 1, 150);
  EXPECT_TRUE(host.failed()) << "no third packet before an acknowledgement";
  ASSERT_EQ(resync(), kSimToken);  // same host: both packets come again
  EXPECT_EQ(read(1020), a);
  EXPECT_EQ(read(1020), b);
  send(RawImager::packet(0, 3, {}));  // wrong: 2 is owed first
  host.read(&x, 1, 150);
  EXPECT_TRUE(host.failed());
  ASSERT_EQ(resync(), kSimToken);
  read(2 * 1020);
  send(RawImager::packet(0, 2, {}));
  Bytes c = read(1020);
  EXPECT_EQ(RawImager::seq(c), 0);
  app.join();

  send(RawImager::packet(1, 3, {'n'}));  // imager expects 2
  uint8_t got = 0;
  EXPECT_EQ(imager->port(1).read(&got, 1, 150), 0u);
}

TEST_F(RawHost, DamagedOrOversizeFrameRaisesALineEvent) {
  start(sim::Framing::Packet);
  std::atomic<int> events{0};
  imager->setLineEventHandler([&] { ++events; });
  ASSERT_EQ(resync(), kSimToken | 1);
  Bytes bad = RawImager::packet(1, 2, {'a'});
  bad[4] ^= 0x40;
  send(bad);
  EXPECT_TRUE(eventually([&] { return events > 0; }));
  EXPECT_EQ(events.load(), 1);
  ASSERT_EQ(resync(), kSimToken);
  send(RawImager::packet(1, 2, {}));  // a sound zero-length packet
  send({0x00, 0x00, 0x41, 0xFE});                        // announces 1,017 bytes
  EXPECT_TRUE(eventually([&] { return events > 1; }));
  EXPECT_EQ(events.load(), 2);
  EXPECT_EQ(imager->damagedFrames(), 2u);
}

TEST_F(RawHost, DirectFramingOneMessagePerWrite) {
  start(sim::Framing::Direct);
  ASSERT_EQ(resync(), kSimToken | 1);
  EXPECT_EQ(resync(), kSimToken | 1) << "direct framing forgets its ports at every recovery";
  send({0x51, 0x00, 0x00, 0x00, 0x0D, 0x21, 0x01, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00});
  uint8_t got[5] = {};
  EXPECT_EQ(imager->port(1).read(got, 5, 1000), 5u);
  EXPECT_EQ(Bytes(got, got + 5), (Bytes{0x0D, 0x0D, 0x00, 0x00, 0x00}));
  imager->port(0).write(got, 3);
  Bytes m = read(7);
  uint32_t h = m[0] | (m[1] << 8) | (m[2] << 16) | (uint32_t(m[3]) << 24);
  EXPECT_EQ(h >> 6, 3u);
  EXPECT_EQ(h & 0xF, 0u);
  EXPECT_EQ(Bytes(m.begin() + 4, m.end()), (Bytes{0x0D, 0x0D, 0x00}));
}

// The imager's link against the host's links: worked examples from the imager's seat.
TEST(ImagerAndHostLinks, LinkCheckRoundTripOnBothKinds) {
  for (vel::LinkKind kind : {vel::LinkKind::Packet, vel::LinkKind::Direct}) {
    sim::MemoryLine line;
    std::mutex lock;
    Bytes toHost;
    line.setTap([&](sim::MemoryLine::Direction d, const uint8_t* p, size_t n) {
      std::lock_guard<std::mutex> g(lock);
      if (d == sim::MemoryLine::ToHost) toHost.assign(p, p + n);
    });
    sim::ImagerLink imager(line.imager(), kind == vel::LinkKind::Packet ? sim::Framing::Packet : sim::Framing::Direct,
                           kSimToken);
    auto link = vel::createLink(kind, line.host(), kLinkPriority);
    auto pair = link->openPortPair(0, 1);
    uint8_t code = 13;
    uint32_t value = 13;
    pair->write(&code, 1);
    pair->write(&value, 4);
    pair->flush();
    uint8_t got[5] = {};
    ASSERT_EQ(imager.port(1).read(got, 5, 2000), 5u);
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{0x0D, 0x0D, 0x00, 0x00, 0x00}));
    if (kind == vel::LinkKind::Packet) {
      for (int i = 0; i < 100; ++i) {
        {
          std::lock_guard<std::mutex> g(lock);
          if (toHost == Bytes{0xD8, 0x28, 0x21, 0x00}) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::lock_guard<std::mutex> g(lock);
      EXPECT_EQ(toHost, (Bytes{0xD8, 0x28, 0x21, 0x00})) << "the imager's acknowledgement is its last write";
    }
    const uint8_t answer[2] = {17, 1};
    imager.port(0).write(answer, 1);
    imager.port(0).write(answer + 1, 1);
    imager.port(0).flush();
    uint8_t level = 0, flag = 0;
    pair->read(&level, 1, 2000);
    pair->read(&flag, 1, 2000);
    EXPECT_FALSE(pair->failed());
    EXPECT_EQ(level, 17);
    EXPECT_EQ(flag, 1);
    pair.reset();
    link.reset();
  }
}

TEST(ImagerAndHostLinks, DroppedAndDamagedImagerPacketsComeAgainAfterAStall) {
  sim::MemoryLine line;
  sim::ImagerLink imager(line.imager(), sim::Framing::Packet, kSimToken);
  imager.setLineEventHandler([&line] { line.failLine(); }, 50);
  auto link = vel::createLink(vel::LinkKind::Packet, line.host(), kLinkPriority);
  auto pair = link->openPortPair(0, 1);
  Bytes data(5 * 1016);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
  imager.dropOutgoingPackets(1);
  std::thread app([&] {
    imager.port(0).write(data.data(), 2 * 1016);
    imager.corruptOutgoingPackets(1);
    imager.port(0).write(data.data() + 2 * 1016, 3 * 1016);
  });
  Bytes got(data.size());
  pair->read(got.data(), got.size(), 3000);
  app.join();
  EXPECT_FALSE(pair->failed());
  EXPECT_EQ(got, data);
  EXPECT_GE(imager.resyncsAnswered(), 3u) << "construction and at least two stalls";
}

// Over the second USB driver every host read takes at most one imager write and
// drops what it did not ask for: the imager's answer and its direct messages must
// come in the pieces the host reads (zero, mark, token; header, payload).
TEST(ImagerOverUsb, AnswerAndMessagesComeInThePiecesTheHostReads) {
  sim::DeviceSim devices;
  devices.install();
  auto dev = devices.plugUsb(sim::UsbDriver::kSecond, 0);
  vel::Usb2Transport host;
  sim::ImagerLink imager(*dev, sim::Framing::Direct, kSimToken);
  host.reset();
  ASSERT_FALSE(host.failed());
  const uint8_t intro[7] = {0, 0, 0xFF, 0x00, 0x01, 0x00, 0x00};
  host.write(intro, sizeof intro, 100);
  uint8_t b = 0;
  host.read(&b, 1, 1000);
  EXPECT_EQ(b, 0x00);
  host.read(&b, 1, 1000);
  EXPECT_NE(b, 0x00);
  uint8_t t[4] = {};
  host.read(t, 4, 1000);
  ASSERT_FALSE(host.failed());
  EXPECT_EQ(t[0] | (t[1] << 8) | (t[2] << 16) | (uint32_t(t[3]) << 24), kSimToken | 1);

  const Bytes payload{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  imager.port(0).write(payload.data(), payload.size());
  uint8_t h[4] = {};
  host.read(h, 4, 1000);
  ASSERT_FALSE(host.failed());
  const uint32_t header = h[0] | (h[1] << 8) | (h[2] << 16) | (uint32_t(h[3]) << 24);
  EXPECT_EQ(header >> 6, payload.size());
  EXPECT_EQ(header & 0xF, 0u);
  Bytes got(payload.size());
  host.read(got.data(), got.size(), 1000);
  ASSERT_FALSE(host.failed());
  EXPECT_EQ(got, payload);
  imager.shutdown();
}

// One thread writes and flushes a channel while another reads it (and so flushes
// first): each packet being filled still goes out exactly once, the echoed
// stream comes back whole.
TEST(ImagerAndHostLinks, ChannelWrittenAndReadOnTwoThreadsSendsEachPacketOnce) {
  sim::MemoryLine line;
  sim::ImagerLink imager(line.imager(), sim::Framing::Packet, kSimToken);
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    uint8_t buffer[500];
    while (!stop) {
      const size_t n = imager.port(5).read(buffer, sizeof buffer, 20);
      if (n == 0) continue;
      imager.port(4).write(buffer, n);
      imager.port(4).flush();
    }
  });
  auto link = vel::createLink(vel::LinkKind::Packet, line.host(), kLinkPriority);
  auto pair = link->openPortPair(4, 5);
  pair->setDefaultTimeout(3000);
  const size_t pieces = 200, piece = 500;
  auto at = [](size_t i) { return static_cast<uint8_t>(i * 13 + i / 256); };
  std::thread writer([&] {
    Bytes out(piece);
    for (size_t k = 0; k < pieces && !pair->failed(); ++k) {
      for (size_t i = 0; i < piece; ++i) out[i] = at(k * piece + i);
      pair->write(out.data(), piece);
      pair->flush();
    }
  });
  Bytes in(piece);
  size_t received = 0, wrong = 0;
  for (size_t k = 0; k < pieces; ++k) {
    pair->read(in.data(), piece);
    if (pair->failed()) break;
    for (size_t i = 0; i < piece; ++i) wrong += in[i] != at(received + i);
    received += piece;
  }
  pair->abort();
  writer.join();
  stop = true;
  echo.join();
  EXPECT_EQ(received, pieces * piece);
  EXPECT_EQ(wrong, 0u);
  pair.reset();
  link.reset();
}
