// The host's direct link over the first USB driver's transport, where the
// thread of a port's read reads the line itself: against a hand-driven imager
// on the simulated device.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Eventually.h"
#include "LinkFixture.h"
#include "devices/DeviceSim.h"
#include "transport/UsbTransport.h"

using namespace linktest;

namespace {

struct DirectUsbLinkTest : ::testing::Test {
  sim::DeviceSim devices;
  std::shared_ptr<sim::UsbDevice> device;
  std::unique_ptr<vel::UsbTransport> transport;
  std::unique_ptr<RawImager> imager;
  std::unique_ptr<vel::Link> link;
  int controls = 0;

  void SetUp() override {
    devices.install();
    device = devices.plugUsb(sim::UsbDriver::kFirst, 0);
    transport = std::make_unique<vel::UsbTransport>();
    imager = std::make_unique<RawImager>(*device);
    std::thread answer([&] { EXPECT_TRUE(imager->resync(kImagerToken)); });
    link = vel::createLink(vel::LinkKind::Direct, *transport, kLinkPriority);
    answer.join();
    controls = device->controlCount();
  }
  void TearDown() override {
    link.reset();
    transport.reset();
  }
  static Bytes pattern(size_t n, int seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + size_t(seed) * 13);
    return b;
  }
  // Reads one message's bytes on a pair and answers them.
  static Bytes take(vel::PortPair& pair, size_t n, int timeoutMs = 5000) {
    Bytes got(n, 0);
    pair.read(got.data(), n, timeoutMs);
    return got;
  }
};

}  // namespace

// Each message is sent once its reader asks for it, so the reader mostly finds
// the line its own; the event port's message in between reaches its read.
TEST_F(DirectUsbLinkTest, ReaderAtTheLineGetsItsBytesAndDeliversAnotherPorts) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  Bytes eventGot;
  std::thread eventReader([&] { eventGot = take(*events, 3); });
  std::atomic<int> asked{0};
  std::vector<Bytes> got;
  std::thread reader([&] {
    for (int i = 0; i < 40; ++i) {
      asked = i + 1;
      got.push_back(take(*command, 100 + size_t(i)));
    }
  });
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(eventually([&] { return asked.load() > i; }));
    if (i == 20) imager->send(RawImager::message(2, i, {7, 8, 9}));
    imager->send(RawImager::message(0, i, pattern(100 + size_t(i), i)));
  }
  reader.join();
  eventReader.join();
  ASSERT_EQ(got.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(got[size_t(i)], pattern(100 + size_t(i), i)) << i;
  EXPECT_EQ(eventGot, (Bytes{7, 8, 9}));
  EXPECT_FALSE(command->failed());
  EXPECT_FALSE(events->failed());
  EXPECT_EQ(device->controlCount(), controls) << "no line recovery";
}

// A message for a port without a read is left to the receiver, which holds
// it until that port reads; the line is not faulted.
TEST_F(DirectUsbLinkTest, MessageForAPortWithoutAReadWaitsForThatRead) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  imager->send(RawImager::message(0, 0, {1}));
  EXPECT_EQ(take(*command, 1), Bytes{1});
  Bytes got;
  std::thread reader([&] { got = take(*command, 2); });
  imager->send(RawImager::message(2, 1, {4, 5, 6}));
  imager->send(RawImager::message(0, 2, {2, 3}));
  EXPECT_EQ(take(*events, 3), (Bytes{4, 5, 6}));
  reader.join();
  EXPECT_EQ(got, (Bytes{2, 3}));
  EXPECT_FALSE(command->failed());
  EXPECT_EQ(device->controlCount(), controls);
}

// An abort wakes a reader waiting at the line; only its port fails, and it
// reads again after a reset.
TEST_F(DirectUsbLinkTest, AbortEndsAWaitAtTheLineAndFailsOnlyThatPort) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  imager->send(RawImager::message(0, 0, {1}));
  EXPECT_EQ(take(*command, 1), Bytes{1});
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    uint8_t b = 0;
    command->read(&b, 1, -1);
    returned = true;
  });
  command->abort();
  ASSERT_TRUE(eventually([&] { return returned.load(); }));
  reader.join();
  EXPECT_TRUE(command->failed());
  imager->send(RawImager::message(2, 1, {9}));
  EXPECT_EQ(take(*events, 1), Bytes{9});
  command->reset();
  imager->send(RawImager::message(0, 2, {3}));
  EXPECT_EQ(take(*command, 1), Bytes{3});
  EXPECT_FALSE(command->failed());
  EXPECT_FALSE(events->failed());
  EXPECT_EQ(device->controlCount(), controls);
}

// The read's own time runs out at the line: the port fails, the line does not.
TEST_F(DirectUsbLinkTest, TimeoutAtTheLineFailsThePortNotTheLine) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  uint8_t b = 0;
  command->read(&b, 1, 100);
  EXPECT_TRUE(command->failed());
  imager->send(RawImager::message(2, 0, {5}));
  EXPECT_EQ(take(*events, 1), Bytes{5});
  EXPECT_FALSE(events->failed());
  EXPECT_EQ(device->controlCount(), controls);
}

// A channel that kept the line between its reads goes away: the receiver
// takes the line back and serves the other port.
TEST_F(DirectUsbLinkTest, PortGoingAwayLeavesTheLineToTheReceiver) {
  auto command = link->openPortPair(0, 1);
  auto events = link->openPortPair(2, 3);
  imager->send(RawImager::message(0, 0, {1}));
  EXPECT_EQ(take(*command, 1), Bytes{1});
  command.reset();
  Bytes got;
  std::thread eventReader([&] { got = take(*events, 2); });
  imager->send(RawImager::message(2, 1, {6, 7}));
  eventReader.join();
  EXPECT_EQ(got, (Bytes{6, 7}));
  EXPECT_FALSE(events->failed());
}

// A message no port takes faults the line while a reader is at it: the
// receiver resynchronises and the reader's port fails instead of reading on.
TEST_F(DirectUsbLinkTest, LineFaultFoundByAReaderAtTheLineResynchronisesAndFailsIt) {
  auto command = link->openPortPair(0, 1);
  imager->send(RawImager::message(0, 0, {1}));
  EXPECT_EQ(take(*command, 1), Bytes{1});
  std::thread reader([&] {
    uint8_t b = 0;
    command->read(&b, 1, 5000);
  });
  imager->send(RawImager::message(9, 1, {1, 2, 3}));
  ASSERT_TRUE(imager->awaitResync());
  imager->answer(kImagerToken);
  reader.join();
  EXPECT_TRUE(command->failed());
  EXPECT_GT(device->controlCount(), controls);
  // The line works again for a fresh channel.
  command->reset();
  imager->send(RawImager::message(0, 2, {8}));
  EXPECT_EQ(take(*command, 1), Bytes{8});
}
