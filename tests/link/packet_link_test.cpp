// The host's packet link against a hand-driven imager: wire bytes, credits,
// sequence numbers, retransmission and generations.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <stdexcept>

#include "Eventually.h"
#include "LinkFixture.h"
#include "base/Crc16.h"

using namespace linktest;
using vel::LinkKind;

namespace {

struct PacketLinkTest : RawLinkFixture {
  void SetUp() override { start(LinkKind::Packet); }
};

Bytes filled(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
  return b;
}

}  // namespace

TEST(Crc16, WorkedValueAndAgreementWithTheImagersBitwiseCrc) {
  const uint8_t header[2] = {0x01, 0x00};
  EXPECT_EQ(vel::crc16(header, 2), 0x2E3E);
  EXPECT_EQ(sim::wireCrc(header, 2), 0x2E3E);
  const uint8_t check[] = "123456789";
  EXPECT_EQ(vel::crc16(check, 9), 0x29B1);  // the catalogue check value of CCITT-FALSE
  Bytes data = filled(4000, 3);
  for (size_t n : {0u, 1u, 2u, 17u, 1020u, 4000u}) EXPECT_EQ(vel::crc16(data.data(), n), sim::wireCrc(data.data(), n)) << n;
}

TEST(Crc16, SlicedAndByteTablesAgreeWithTheirReferencesOnEveryLengthAlignmentAndSeed) {
  Bytes data(4200);
  uint32_t x = 0x9E3779B9u;
  for (uint8_t& b : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x >> 11);
  }
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 70; ++n) lengths.push_back(n);
  for (size_t n : {127u, 128u, 129u, 255u, 1016u, 1019u, 1020u, 4096u}) lengths.push_back(n);
  for (uint16_t seed : {0xFFFF, 0x0000, 0x1D0F, 0x8001}) {
    for (size_t offset = 0; offset < 8; ++offset) {
      for (size_t n : lengths) {
        const uint8_t* p = data.data() + offset;
        const uint16_t want = vel::crc16Nibble(p, n, seed);
        ASSERT_EQ(vel::crc16(p, n, seed), want) << "seed " << seed << " offset " << offset << " length " << n;
        ASSERT_EQ(sim::wireCrc(p, n, seed), want) << "seed " << seed << " offset " << offset << " length " << n;
        ASSERT_EQ(sim::wireCrcBitwise(p, n, seed), want) << "seed " << seed << " offset " << offset << " length " << n;
        // A CRC carried over a split gives the CRC of the whole.
        const size_t cut = n / 3;
        ASSERT_EQ(vel::crc16(p + cut, n - cut, vel::crc16(p, cut, seed)), want) << "split at " << cut << " of " << n;
      }
    }
  }
}

TEST_F(PacketLinkTest, LinkCheckRequestAndItsAcknowledgementOnTheWire) {
  auto pair = link->openPortPair(0, 1);
  uint8_t code = 13;
  uint32_t value = 13;
  pair->write(&code, 1);
  pair->write(&value, 4);
  uint8_t response = 0;
  std::thread reader([&] { pair->read(&response, 1, 2000); });  // the read pushes the request out
  EXPECT_EQ(imager.readPacket(), (Bytes{0xE9, 0xA7, 0x61, 0x01, 0x0D, 0x0D, 0x00, 0x00, 0x00}));

  imager.send(RawImager::packet(0, 2, {0x11}));
  reader.join();
  EXPECT_EQ(response, 0x11);
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 2, {})) << "the host acknowledges the response";

  // The imager's acknowledgement of the request gives the credit back.
  imager.send({0xD8, 0x28, 0x21, 0x00});
  Bytes big = filled(2 * 1016);
  pair->write(big.data(), big.size(), 500);
  EXPECT_FALSE(pair->failed());
  Bytes a = imager.readPacket(), b = imager.readPacket();
  ASSERT_EQ(a.size(), 1020u);
  ASSERT_EQ(b.size(), 1020u);
  EXPECT_EQ(RawImager::seq(a), 3);
  EXPECT_EQ(RawImager::seq(b), 0);
  EXPECT_TRUE(std::equal(big.begin(), big.begin() + 1016, a.begin() + 4));
}

TEST_F(PacketLinkTest, FullPacketsGoAtOnceAndFlushSendsOnlyTheRest) {
  auto pair = link->openPortPair(0, 1);
  Bytes full = filled(1016);
  pair->write(full.data(), full.size());
  EXPECT_EQ(imager.readPacket().size(), 1020u);
  pair->flush();
  EXPECT_TRUE(imager.read(1, 150).empty()) << "nothing left to flush";

  imager.send(RawImager::packet(1, 2, {}));  // credit back
  Bytes more = filled(1017, 9);
  pair->write(more.data(), more.size());
  pair->flush();
  Bytes a = imager.readPacket(), b = imager.readPacket();
  EXPECT_EQ(RawImager::length(a), 1016u);
  ASSERT_EQ(RawImager::length(b), 1u);
  EXPECT_EQ(b[4], more[1016]);
  EXPECT_EQ(RawImager::seq(a), 3);
  EXPECT_EQ(RawImager::seq(b), 0);
}

TEST_F(PacketLinkTest, ThirdPacketWaitsForACreditAndFailsThePortOnTimeout) {
  auto pair = link->openPortPair(0, 1);
  Bytes full = filled(1016);
  pair->write(full.data(), full.size(), 200);
  pair->write(full.data(), full.size(), 200);
  EXPECT_FALSE(pair->failed());
  auto start = std::chrono::steady_clock::now();
  pair->write(full.data(), 1, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_TRUE(pair->failed());
  EXPECT_EQ(imager.readPacket().size(), 1020u);
  EXPECT_EQ(imager.readPacket().size(), 1020u);
  EXPECT_TRUE(imager.read(1, 150).empty()) << "no third packet without a credit";
}

TEST_F(PacketLinkTest, AcknowledgementWithTheWrongSequenceGivesNoCredit) {
  auto pair = link->openPortPair(0, 1);
  Bytes full = filled(1016);
  pair->write(full.data(), full.size());
  pair->write(full.data(), full.size());
  imager.send(RawImager::packet(1, 3, {}));  // expected: 2
  pair->write(full.data(), full.size(), 200);
  EXPECT_TRUE(pair->failed());

  pair->reset();
  EXPECT_FALSE(pair->failed());
}

TEST_F(PacketLinkTest, ZeroLengthPacketIsAcceptedInSequenceAndAcknowledged) {
  auto pair = link->openPortPair(0, 1);
  imager.send(RawImager::packet(0, 2, {}));
  imager.send(RawImager::packet(0, 3, {'a', 'b', 'c'}));
  char got[3] = {};
  pair->read(got, 3, 1000);
  ASSERT_FALSE(pair->failed());
  EXPECT_EQ(std::string(got, 3), "abc");
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 2, {}));
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 3, {}));
}

// A reader gathers the acknowledgements of the packets it uses up: they go out
// before it waits for more (the imager may need the credit to send it) and when
// the read ends, in order, written by the reader itself when its read may wait
// long enough and by the sender otherwise.
TEST_F(PacketLinkTest, AcknowledgementsGoOutBeforeTheReaderWaitsAndWhenItsReadEnds) {
  auto pair = link->openPortPair(0, 1);
  imager.send(RawImager::packet(0, 2, {'a', 'b', 'c'}));
  char got[6] = {};
  auto reader = std::async(std::launch::async, [&] { pair->read(got, 6, 2000); });
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 2, {})) << "acknowledged while the read waits";
  imager.send(RawImager::packet(0, 3, {'d', 'e', 'f'}));
  reader.get();
  ASSERT_FALSE(pair->failed());
  EXPECT_EQ(std::string(got, 6), "abcdef");
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 3, {})) << "acknowledged as the read ended";

  // A read with too short a timeout to spend on writing (here one that finishes
  // a packet already at hand) leaves the acknowledgement to the sender.
  imager.send(RawImager::packet(0, 0, {'g', 'h'}));
  char c = 0;
  pair->read(&c, 1, 2000);
  EXPECT_EQ(c, 'g');
  EXPECT_TRUE(imager.read(1, 100).empty()) << "the packet is not used up yet";
  pair->read(&c, 1, 0);
  ASSERT_FALSE(pair->failed());
  EXPECT_EQ(c, 'h');
  EXPECT_EQ(imager.readPacket(), RawImager::packet(0, 0, {}));
}

TEST_F(PacketLinkTest, DataWithTheWrongSequenceIsDroppedUnacknowledged) {
  auto pair = link->openPortPair(0, 1);
  imager.send(RawImager::packet(0, 3, {'x'}));
  char c = 0;
  pair->read(&c, 1, 200);
  EXPECT_TRUE(pair->failed());
  EXPECT_EQ(c, 0);
  EXPECT_TRUE(imager.read(1, 100).empty());
}

TEST_F(PacketLinkTest, DamagedPacketIsDroppedAndTheLineStaysUp) {
  auto pair = link->openPortPair(0, 1);
  Bytes bad = RawImager::packet(0, 2, {'x'});
  bad[4] ^= 1;
  imager.send(bad);
  imager.send(RawImager::packet(0, 2, {'y'}));
  char c = 0;
  pair->read(&c, 1, 1000);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(line.recoveries(), 1u) << "only the recovery of the link's construction";
}

TEST_F(PacketLinkTest, OversizeLengthFaultsTheLineInsteadOfOverrunningTheBuffer) {
  auto pair = link->openPortPair(0, 1);
  Bytes huge = RawImager::packet(0, 2, filled(1017));
  imager.send(huge);
  uint32_t token = 0;
  ASSERT_TRUE(imager.awaitResync(&token));
  EXPECT_EQ(line.recoveries(), 2u);
  imager.answer(kImagerToken);  // same imager: the ports stay up
  imager.send(RawImager::packet(0, 2, {'z'}));
  char c = 0;
  pair->read(&c, 1, 1000);
  EXPECT_FALSE(pair->failed());
  EXPECT_EQ(c, 'z');
}

TEST_F(PacketLinkTest, SameImagerAfterResyncGetsUnacknowledgedPacketsFirst) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  Bytes first = filled(1016, 1), second = filled(1016, 2), later = filled(1016, 3);
  command->write(first.data(), first.size());
  command->write(second.data(), second.size());
  EXPECT_EQ(imager.readPacket().size(), 1020u);
  EXPECT_EQ(imager.readPacket().size(), 1020u);

  line.failLine();
  ASSERT_TRUE(imager.awaitResync());
  // Queued while the line is being recovered: must leave after the retransmission.
  events->write(later.data(), later.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  imager.answer(kImagerToken);

  std::vector<Bytes> data;
  for (int i = 0; i < 12 && data.size() < 3; ++i) {
    Bytes p = imager.readPacket(500);
    if (p.size() >= 4 && RawImager::length(p) > 0) data.push_back(p);
  }
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(RawImager::port(data[0]), 1);
  EXPECT_EQ(RawImager::seq(data[0]), 2);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), data[0].begin() + 4));
  EXPECT_EQ(RawImager::seq(data[1]), 3);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), data[1].begin() + 4));
  EXPECT_EQ(RawImager::port(data[2]), 3);
  EXPECT_FALSE(command->failed());
  EXPECT_FALSE(events->failed());
}

TEST_F(PacketLinkTest, NewImagerTokenFailsEveryPortAndDiscardsQueuedPackets) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  Bytes data = filled(1016);
  command->write(data.data(), data.size());
  EXPECT_EQ(imager.readPacket().size(), 1020u);
  line.failLine();
  ASSERT_TRUE(imager.awaitResync());
  events->write(data.data(), data.size());  // queued behind the recovery
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  imager.answer(kImagerToken + 0x100);
  Bytes after = imager.read(1, 300);
  EXPECT_TRUE(after.empty()) << "packets of the old generation die in the sender";
  EXPECT_TRUE(command->failed());
  EXPECT_TRUE(events->failed());

  // A reset brings a port back with fresh credits and sequence numbers.
  command->reset();
  command->write(data.data(), 3);
  command->flush();
  Bytes p = imager.readPacket();
  EXPECT_EQ(RawImager::seq(p), 2);
  EXPECT_EQ(RawImager::length(p), 3u);
}

TEST_F(PacketLinkTest, ImagerThatLostStateFailsEveryPort) {
  auto command = link->openPortPair(0, 1);
  line.failLine();
  ASSERT_TRUE(imager.awaitResync());
  imager.answer(kImagerToken | 1);
  EXPECT_TRUE(eventually([&] { return command->failed(); }));
}

TEST_F(PacketLinkTest, UnansweredResyncLeavesTheLineFailedAndTheNextAnswerResetsPorts) {
  auto command = link->openPortPair(0, 1);
  line.refuseRecovery(true);
  line.failLine();
  EXPECT_TRUE(eventually([&] { return command->failed(); }));
  EXPECT_TRUE(line.host().failed());
  line.refuseRecovery(false);
  uint32_t hostToken = 0;
  ASSERT_TRUE(imager.awaitResync(&hostToken));
  EXPECT_EQ(hostToken & 1, 1u) << "the host says it lost its state";
  imager.answer(kImagerToken);
  // The host resets all ports once it has read the answer, on its own thread: a
  // port reset before that is failed again and sends nothing, so the channel is
  // reset until a request gets through.
  Bytes packet;
  for (int attempt = 0; attempt < 20 && packet.size() < 4; ++attempt) {
    command->reset();
    command->write("q", 1);
    command->flush();
    packet = imager.readPacket(250);
  }
  ASSERT_GE(packet.size(), 4u) << "no request after the answer";
  EXPECT_EQ(RawImager::length(packet), 1u);
}

// The wire has four bits for a port number: a larger one would take over another
// port's registration and traffic, so the link refuses it before making any port.
TEST(LinkPortNumbers, OutOfRangeNumbersAreRefusedAndLeaveOpenPortsAlone) {
  for (LinkKind kind : {LinkKind::Packet, LinkKind::Direct}) {
    sim::MemoryLine line;
    RawImager imager{line.imager()};
    auto link = connect(kind, line, imager);
    auto pair = link->openPortPair(0, 1);
    EXPECT_THROW(link->openPortPair(16, 1), std::out_of_range);
    EXPECT_THROW(link->openPortPair(0, 17), std::out_of_range);
    EXPECT_THROW(link->openPortPair(-1, 1), std::out_of_range);

    imager.send(kind == LinkKind::Packet ? RawImager::packet(0, 2, {'k'}) : RawImager::message(0, 1, {'k'}));
    char c = 0;
    pair->read(&c, 1, 1000);
    EXPECT_FALSE(pair->failed());
    EXPECT_EQ(c, 'k');
    pair.reset();
    link.reset();
  }
}
