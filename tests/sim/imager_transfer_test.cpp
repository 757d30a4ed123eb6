// The simulated imager's trigger transfers on the event channel, alone and while
// a host capture runs, and the faults it injects into transfers: stalls, small
// pieces, a record cut short, a host that never acknowledges.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "ImagerFixture.h"

using namespace simtest;
using vel::LinkKind;

namespace {

using Clock = std::chrono::steady_clock;

sim::SceneImage greyImage(uint16_t width, uint16_t height) {
  sim::SceneImage image;
  image.width = width;
  image.height = height;
  for (size_t i = 0; i < size_t{width} * height; ++i) image.grey.push_back(static_cast<uint8_t>(i * 5 + 1));
  return image;
}

sim::SceneBarcode barcode(uint8_t type, uint8_t datum) {
  sim::SceneBarcode b;
  b.type = type;
  b.data = {datum};
  return b;
}

// A barcode(type, datum) record (short head, zero corners and ticks) and its acknowledgement.
void barcodeSteps(Script& s, uint8_t type, uint8_t datum, uint8_t ack = 1) {
  s.read({0x02}).read({25}).read({type}).read({0x00});
  for (int i = 0; i < 8; ++i) s.read({0x00, 0x00});
  s.read({0, 0, 0, 0}).read({0x01, 0x00}).read({datum}).ack(ack);
}

void timingSteps(Script& s) {
  s.read({0x01}).read({0x10});
  for (int i = 0; i < 4; ++i) s.read({0, 0, 0, 0});
  s.ack();
}

// The grey capture of greyImage(16, 8) with block size 50: status, size and the
// first piece, which the host has not acknowledged yet.
Script greyCaptureHead(const sim::Scene& scene) {
  Script s;
  s.read({0x00}).read({0x10, 0x00}).read({0x08, 0x00}).read(slice(scene.image.grey, 0, 50));
  return s;
}

Script greyCaptureRest(const sim::Scene& scene) {
  Script s;
  s.ack().read(slice(scene.image.grey, 50, 50)).ack().read(slice(scene.image.grey, 100, 28)).ack();
  return s;
}

struct Transfers : ImagerTest {
  sim::Scene scene;

  void SetUp() override {
    start(50);
    scene.image = greyImage(16, 8);
    scene.records = {barcode(3, 'a'), barcode(4, 'b')};
    ops->setScene(scene);
  }

  // Pulls the trigger on a thread of its own.
  std::shared_future<sim::TransferReport> pull(uint8_t flags) {
    triggers.push_back(std::async(std::launch::async, [this, flags] { return ops->pullTrigger(flags); }).share());
    return triggers.back();
  }

  void TearDown() override {
    // A trigger left waiting by a failed check ends once the imager shuts down.
    ops->control().shutDown();
    imagerLink->shutdown();
    triggers.clear();
    ImagerTest::TearDown();
  }

 private:
  std::vector<std::shared_future<sim::TransferReport>> triggers;
};

}  // namespace

TEST_P(Transfers, TriggerSendsTheEventMessageAndAFullResponse) {
  scene.exposure = sim::ExposureReport{0x0010, 0x0020, 0x03};
  ops->setScene(scene);
  auto trigger = pull(0x05);
  Script s;
  s.read({0x04}).read({0x05});  // the event message: type, operation flags
  s.read({0x01}).read({0x10, 0x00}).read({0x20, 0x00}).read({0x03}).read({0x10, 0x00}).read({0x08, 0x00});
  barcodeSteps(s, 3, 'a');
  barcodeSteps(s, 4, 'b');
  timingSteps(s);
  s.read(slice(scene.image.grey, 0, 50)).ack().read(slice(scene.image.grey, 50, 50)).ack();
  s.read(slice(scene.image.grey, 100, 28)).ack();
  EXPECT_TRUE(follows(*event, s));
  const sim::TransferReport report = trigger.get();
  EXPECT_EQ(report.channel, sim::Channel::Event);
  EXPECT_EQ(report.code, 4);
  EXPECT_EQ(report.flags, 0x05);
  EXPECT_EQ(report.end, sim::TransferEnd::Completed);
  EXPECT_EQ(report.acks, (Bytes{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(report.bytes, 6u + 4u + 2u * 27u + 18u + 128u);
  EXPECT_TRUE(channelIsClear(50)) << "the command channel stays untouched";
}

TEST_P(Transfers, TriggerDuringAHostCaptureBothComplete) {
  request(6);
  ASSERT_TRUE(follows(*command, greyCaptureHead(scene)));
  auto trigger = pull(0x01);
  Script s;
  s.read({0x04}).read({0x01}).read({0x00});
  barcodeSteps(s, 3, 'a');
  barcodeSteps(s, 4, 'b');
  timingSteps(s);
  EXPECT_TRUE(follows(*event, s));
  const sim::TransferReport triggerReport = trigger.get();
  EXPECT_EQ(triggerReport.end, sim::TransferEnd::Completed);
  EXPECT_TRUE(ops->transfers().size() == 1 && ops->transfers()[0].channel == sim::Channel::Event)
      << "the host capture is still waiting for its acknowledgement";
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
  const sim::TransferReport hostReport = lastTransfer(2);
  EXPECT_EQ(hostReport.channel, sim::Channel::Command);
  EXPECT_EQ(hostReport.end, sim::TransferEnd::Completed);
}

TEST_P(Transfers, TriggerStoppedByTheHostWhileItsCaptureGoesOn) {
  request(6);
  ASSERT_TRUE(follows(*command, greyCaptureHead(scene)));
  auto trigger = pull(0x01);
  Script s;
  s.read({0x04}).read({0x01}).read({0x00});
  barcodeSteps(s, 3, 'a', 0);  // the host yields the trigger to its capture
  EXPECT_TRUE(follows(*event, s));
  const sim::TransferReport triggerReport = trigger.get();
  EXPECT_EQ(triggerReport.end, sim::TransferEnd::StoppedByHost);
  EXPECT_EQ(triggerReport.acks, (Bytes{0}));
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
  EXPECT_EQ(lastTransfer(2).end, sim::TransferEnd::Completed);

  auto again = pull(0x00);  // the event channel carries the next trigger cleanly
  EXPECT_TRUE(follows(*event, Script().read({0x04}).read({0x00}).read({0x00})));
  EXPECT_EQ(again.get().end, sim::TransferEnd::Completed);
}

TEST_P(Transfers, StallHoldsTheRestOfAPieceUntilReleased) {
  ops->control().stall(sim::Channel::Command, 5 + 20, -1);  // 20 bytes into the first grey piece
  request(6);
  ASSERT_TRUE(follows(*command, Script().read({0x00}).read({0x10, 0x00}).read({0x08, 0x00})));
  EXPECT_EQ(readBytes(*command, 20), slice(scene.image.grey, 0, 20)) << "what precedes the stall arrives";
  std::atomic<bool> done{false};
  Bytes rest;
  std::thread reader([&] {
    rest = readBytes(*command, 30, 5000);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(done.load()) << "nothing moves while stalled";
  ops->control().releaseStall();
  reader.join();
  EXPECT_EQ(rest, slice(scene.image.grey, 20, 30));
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
  EXPECT_EQ(lastTransfer(1).end, sim::TransferEnd::Completed);

  request(6);  // a stall fires once
  EXPECT_TRUE(follows(*command, greyCaptureHead(scene)));
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
}

TEST_P(Transfers, TimedStallEndsByItself) {
  ops->control().stall(sim::Channel::Command, 1, 300);
  request(6);
  ASSERT_TRUE(follows(*command, Script().read({0x00})));
  const auto start = Clock::now();
  ASSERT_TRUE(follows(*command, Script().read({0x10, 0x00})));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_TRUE(follows(*command, Script().read({0x08, 0x00}).read(slice(scene.image.grey, 0, 50))));
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
}

TEST_P(Transfers, PiecesNoLargerThanAskedStillFillTheHostReads) {
  std::mutex lock;
  std::vector<Bytes> writes;
  line.setTap([&](sim::MemoryLine::Direction d, const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> g(lock);
    if (d == sim::MemoryLine::ToHost) writes.emplace_back(p, p + n);
  });
  ops->control().setPieceSize(3);
  request(6);
  EXPECT_TRUE(follows(*command, greyCaptureHead(scene)));
  EXPECT_TRUE(follows(*command, greyCaptureRest(scene)));
  EXPECT_EQ(lastTransfer(1).end, sim::TransferEnd::Completed);

  std::lock_guard<std::mutex> g(lock);
  size_t payloads = 0;
  for (const Bytes& w : writes) {
    ASSERT_GE(w.size(), 1u);
    if (GetParam() == LinkKind::Direct && w.size() != 4) {
      EXPECT_LE(w.size(), 3u);  // a message's payload, written apart from its header
      ++payloads;
    } else if (GetParam() == LinkKind::Packet) {
      ASSERT_GE(w.size(), 4u);
      const size_t length = (w[2] | (w[3] << 8)) >> 6;
      EXPECT_LE(length, 3u);
      payloads += length > 0;
    }
  }
  EXPECT_GE(payloads, 133u / 3) << "the 133 response bytes went in pieces";
}

TEST_P(Transfers, RecordCutAfterItsTypeByte) {
  std::atomic<int> cuts{0};
  ops->control().cutBarcodeRecord(sim::Channel::Command, 1, [&] { ++cuts; });
  request(4, {{0x01}});
  Script s;
  s.read({0x00});
  barcodeSteps(s, 3, 'a');
  s.read({0x02}).read({25}).read({4});
  EXPECT_TRUE(follows(*command, s));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::Cut);
  EXPECT_EQ(report.acks, (Bytes{1}));
  EXPECT_EQ(cuts.load(), 1);
  EXPECT_TRUE(readBytes(*command, 1, 300).empty()) << "nothing follows the type byte";
}

TEST_P(Transfers, AHostThatNeverAcknowledgesIsGivenUp) {
  ops->control().setAckTimeout(200);
  request(6);
  EXPECT_TRUE(follows(*command, greyCaptureHead(scene)));
  const sim::TransferReport report = lastTransfer(1);
  EXPECT_EQ(report.end, sim::TransferEnd::NoAcknowledgement);
  EXPECT_TRUE(report.acks.empty());
  EXPECT_EQ(report.bytes, 55u);
}

TEST_P(Transfers, ShuttingDownEndsAStalledTransfer) {
  ops->control().stall(sim::Channel::Event, 0, -1);
  auto trigger = pull(0x01);
  EXPECT_TRUE(follows(*event, Script().read({0x04}).read({0x01})));
  ops->control().shutDown();
  EXPECT_EQ(trigger.get().end, sim::TransferEnd::ShutDown);
}

INSTANTIATE_TEST_SUITE_P(BothLinks, Transfers, ::testing::Values(LinkKind::Packet, LinkKind::Direct), kindName);
