// The host's direct link against a hand-driven imager.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "Eventually.h"
#include "LinkFixture.h"
#include "link/DirectLink.h"

using namespace linktest;
using vel::LinkKind;

namespace {

struct DirectLinkTest : RawLinkFixture {
  std::mutex tapLock;
  std::vector<Bytes> hostWrites;

  void SetUp() override {
    start(LinkKind::Direct);
    line.setTap([this](sim::MemoryLine::Direction d, const uint8_t* data, size_t n) {
      if (d != sim::MemoryLine::ToImager) return;
      std::lock_guard<std::mutex> lock(tapLock);
      hostWrites.emplace_back(data, data + n);
    });
  }
  std::vector<Bytes> writes() {
    std::lock_guard<std::mutex> lock(tapLock);
    return hostWrites;
  }
};

int sequenceOf(const Bytes& message) { return (message[0] >> 4) & 3; }

}  // namespace

// The sequence bits number the messages of every direct link in the library,
// from its load on; the tests read where the count stands from the wire.
TEST_F(DirectLinkTest, MessagesCountModuloFourAndTheLinkCheckLeavesAsTwoMessages) {
  auto pair = link->openPortPair(0, 1);
  const uint8_t filler = 0x7E;
  pair->write(&filler, 1);
  Bytes first = imager.read(5);
  ASSERT_EQ(first.size(), 5u);
  int seq = sequenceOf(first);
  EXPECT_EQ(first, RawImager::message(1, seq, {filler}));
  for (int i = 0; i < 4 && seq != 0; ++i) {
    pair->write(&filler, 1);
    seq = (seq + 1) & 3;
    EXPECT_EQ(imager.read(5), RawImager::message(1, seq, {filler})) << "each message counts one on";
  }
  ASSERT_EQ(seq, 0);

  // With the count at 0 (modulo 4) before it, the link check's code and value.
  const uint8_t code = 13;
  const uint32_t value = 13;
  pair->write(&code, 1);
  pair->write(&value, 4);
  EXPECT_EQ(imager.read(13), (Bytes{0x51, 0x00, 0x00, 0x00, 0x0D, 0x21, 0x01, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00}));
}

TEST_F(DirectLinkTest, EveryDirectLinkCountsOnFromTheSameMessageCount) {
  auto pair = link->openPortPair(0, 1);
  sim::MemoryLine otherLine;
  RawImager otherImager{otherLine.imager()};
  auto otherLink = connect(LinkKind::Direct, otherLine, otherImager);
  auto otherPair = otherLink->openPortPair(0, 1);

  const uint8_t b = 0x5C;
  pair->write(&b, 1);
  Bytes m1 = imager.read(5);
  ASSERT_EQ(m1.size(), 5u);
  otherPair->write(&b, 1);
  Bytes m2 = otherImager.read(5);
  ASSERT_EQ(m2.size(), 5u);
  pair->write(&b, 1);
  Bytes m3 = imager.read(5);
  ASSERT_EQ(m3.size(), 5u);
  EXPECT_EQ(sequenceOf(m2), (sequenceOf(m1) + 1) & 3);
  EXPECT_EQ(sequenceOf(m3), (sequenceOf(m1) + 2) & 3);
}

TEST_F(DirectLinkTest, SixtyBytesInOneWriteSixtyOneInTwo) {
  auto pair = link->openPortPair(0, 1);
  Bytes payload(61, 0x42);
  pair->write(payload.data(), 60);
  pair->write(payload.data(), 61);
  Bytes all = imager.read(64 + 65);
  ASSERT_EQ(all.size(), 129u);
  std::vector<Bytes> w = writes();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0].size(), 64u);
  EXPECT_EQ(w[1].size(), 4u);
  EXPECT_EQ(w[2].size(), 61u);
  EXPECT_EQ((w[1][0] | (w[1][1] << 8)) >> 6, 61);
}

TEST_F(DirectLinkTest, HundredByteReadServedByFortyAndSixty) {
  auto pair = link->openPortPair(0, 1);
  Bytes expect(100);
  for (int i = 0; i < 100; ++i) expect[size_t(i)] = uint8_t(i * 3 + 1);
  Bytes got(100, 0);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    pair->read(got.data(), 100, 2000);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  imager.send(RawImager::message(0, 1, Bytes(expect.begin(), expect.begin() + 40)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done.load()) << "60 bytes still wanted";
  imager.send(RawImager::message(0, 2, Bytes(expect.begin() + 40, expect.end())));
  reader.join();
  EXPECT_FALSE(pair->failed());
  EXPECT_EQ(got, expect);
}

TEST_F(DirectLinkTest, MessageForAnUnregisteredPortFaultsTheLine) {
  auto pair = link->openPortPair(0, 1);
  imager.send(RawImager::message(5, 1, {1, 2, 3}));
  ASSERT_TRUE(imager.awaitResync());
  imager.answer(kImagerToken);
  EXPECT_EQ(line.recoveries(), 2u);
}

TEST_F(DirectLinkTest, MessageLongerThanThePendingReadFaultsTheLineAndTheReadFails) {
  auto pair = link->openPortPair(0, 1);
  Bytes got(10, 0);
  std::thread reader([&] { pair->read(got.data(), 10, 3000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  imager.send(RawImager::message(0, 1, Bytes(20, 0x77)));
  ASSERT_TRUE(imager.awaitResync());
  imager.answer(kImagerToken);
  reader.join();
  // The payload never reached the buffer, and the line recovery failed the port
  // rather than let a later message fill the read.
  EXPECT_TRUE(pair->failed());
  EXPECT_EQ(got, Bytes(10, 0));
}

TEST_F(DirectLinkTest, ZeroLengthMessagesAreNeitherSentNorHarmful) {
  auto pair = link->openPortPair(0, 1);
  pair->write("", 0);
  EXPECT_TRUE(imager.read(1, 100).empty());
  imager.send(RawImager::message(0, 1, {}));
  imager.send(RawImager::message(0, 2, {0x33}));
  uint8_t b = 0;
  pair->read(&b, 1, 1000);
  EXPECT_EQ(b, 0x33);
  EXPECT_FALSE(pair->failed());
}

namespace {

vel::LinkPort& inputOf(vel::PortPair& pair) { return static_cast<vel::LinkPortPair&>(pair).input(); }

// Runs the action on its own thread and answers whether it ended in time; one
// that did not is left running (the test has failed).
template <typename Action>
bool endsWithin(Action action, int ms = 5000) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread t([action, done]() mutable {
    action();
    *done = true;
  });
  const bool ended = eventually([&] { return done->load(); }, ms);
  if (ended) t.join(); else t.detach();
  return ended;
}

}  // namespace

// An abort that lands while a port is being reset (a cancel's watchdog, a
// disconnect) leaves it failed and out of the table: messages for it realign the
// line rather than park the receiver, and the pair can still be destroyed.
TEST_F(DirectLinkTest, AnAbortDuringAResetLeavesThePortFailedAndOutOfTheTable) {
  auto pair = link->openPortPair(0, 1);
  vel::LinkPort& input = inputOf(*pair);
  input.abort();
  vel::DirectLinkPort::seams.insideReset = [](vel::DirectLinkPort& port) { port.abort(); };
  input.reset();
  vel::DirectLinkPort::seams.insideReset = nullptr;
  auto& base = static_cast<vel::LinkBase&>(*link);
  EXPECT_TRUE(input.failed());
  EXPECT_FALSE(base.holds(&input)) << "a failed port in the table";

  imager.send(RawImager::message(0, 1, {1}));
  ASSERT_TRUE(imager.awaitResync());
  imager.answer(kImagerToken);
  imager.send(RawImager::message(0, 2, {2}));
  const bool realigned = imager.awaitResync();
  EXPECT_TRUE(realigned) << "the receiver took the second message";
  if (realigned) imager.answer(kImagerToken);
  EXPECT_FALSE(base.holds(&input));
  vel::PortPair* raw = pair.release();
  EXPECT_TRUE(endsWithin([raw] { delete raw; })) << "the port's destruction waits for the receiver forever";
}

// An abort between the messages of one read (the read had its first byte) ends
// the read at once, also one without a time limit.
TEST_F(DirectLinkTest, AnAbortBetweenTheMessagesOfOneReadEndsIt) {
  auto pair = link->openPortPair(0, 1);
  vel::DirectLinkPort::seams.betweenMessages = [](vel::DirectLinkPort& port) { port.abort(); };
  uint8_t got[2] = {};
  vel::PortPair* raw = pair.get();
  imager.send(RawImager::message(0, 1, {0x41}));
  const bool ended = endsWithin([raw, &got] { raw->read(got, 2, -1); });
  vel::DirectLinkPort::seams.betweenMessages = nullptr;
  ASSERT_TRUE(ended) << "the read waits for ever";
  EXPECT_EQ(got[0], 0x41);
  EXPECT_TRUE(pair->failed());
}

// A message for a port that nobody reads yet (an event before the event reader
// starts) does not hold up the answer on another port.
TEST_F(DirectLinkTest, AMessageForAnIdlePortDoesNotHoldUpAnother) {
  auto command = link->openPortPair(0, 1);
  auto event = link->openPortPair(2, 3);
  imager.send(RawImager::message(2, 1, {4}));
  imager.send(RawImager::message(0, 2, {0x26, 0x10}));
  uint8_t answer[2] = {};
  command->read(answer, 2, 2000);
  EXPECT_FALSE(command->failed());
  EXPECT_EQ(answer[1], 0x10);
  uint8_t type = 0;
  event->read(&type, 1, 2000);
  EXPECT_EQ(type, 4) << "the early event is kept for its reader";
  EXPECT_FALSE(event->failed());
}
