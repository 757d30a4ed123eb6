// The host and trigger operations through the exports, against the simulated
// imager: the notifications of a run, cancel and its watchdog, a trigger transfer
// yielding to a host transfer, configuration reports and barcodes, disconnect
// during a stalled transfer, the wait for a progress message, and exports used
// while another thread connects and disconnects.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "SimulatedImagerFixture.h"
#include "core/LibraryState.h"
#include "image/TimestampRecord.h"
#include "operations/CancelWatchdog.h"

using simimager::configurationChanged;
using simimager::Line;
using simimager::Note;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;
using Notes = std::vector<Note>;

namespace {

constexpr uint8_t kDecodeFirst = 0x01;

sim::SceneBarcode barcode(uint8_t type, const std::string& data) {
  sim::SceneBarcode b;
  b.type = type;
  b.corners = {1, 2, 3, 4, 5, 6, 7, 8};
  b.ticks = 400;
  b.data.assign(data.begin(), data.end());
  return b;
}

sim::Scene resultsScene(const std::vector<std::string>& data) {
  sim::Scene scene;
  uint8_t type = 3;
  for (const std::string& d : data) scene.records.push_back(barcode(type++, d));
  scene.timing = {1000, 5000, 3000, 8000};
  return scene;
}

// Response bytes up to the end of the first barcode record: status, then the
// record head (kind, length), type, flag, corners, ticks, data length and data.
size_t afterFirstBarcode(const std::string& data) { return 1 + 2 + 1 + 1 + 16 + 4 + 2 + data.size(); }

// Takes count messages (progress or configuration change) of the calling thread.
Notes takeNotes(size_t count, uint32_t timeoutMs = 10000) {
  Notes notes;
  const uint32_t start = vel::platform::tickCount();
  while (notes.size() < count) {
    const uint32_t elapsed = vel::platform::tickCount() - start;
    vel::platform::Message m;
    if (elapsed >= timeoutMs) break;
    if (!vel::platform::messageTake(&m, timeoutMs - elapsed)) continue;
    if (m.message == simimager::kProgress || m.message == simimager::kConfigurationChanged)
      notes.push_back(Note{m.message, m.wParam, m.lParam});
  }
  return notes;
}

// The worker acknowledged the first barcode record once the imager holds at its
// stall after it; a cancel or disconnect made then reaches the transfer's next poll.
void letTheWorkerAcknowledge(SimulatedImager& imager, sim::Channel channel = sim::Channel::Command) {
  ASSERT_TRUE(imager.operations().control().waitUntilStalled(channel, 10000));
}

// A host capture whose imager stalls after the first barcode, on a connection with
// no channel timeout: only the cancel's watchdog ends the wait.
void startACaptureThatStalls(SimulatedImager& imager) {
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(-1), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"), -1);
  VelCaptureImage(1, 0, 0, 0);
}

std::string barcodeData(int index) {
  char text[64] = {};
  const int n = VelGetBarcodeData(index, sizeof text, reinterpret_cast<unsigned char*>(text));
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0u);
}

const Notes kTwoBarcodeRun = {progress(0, 3), progress(0, 3), progress(0, 3), progress(0, 6), progress(100, 1)};

// Where the notifications of an operation go: the test thread or a window of it.
enum class Target { Thread, Window };

struct OperationTest : ::testing::TestWithParam<Target> {
  vel::platform::Window window = nullptr;

  void SetUp() override {
    thisThreadWithQueue();
    if (GetParam() == Target::Window) window = vel::platform::messageWindowCreate();
  }
  void TearDown() override { vel::platform::messageWindowDestroy(window); }

  void registerHost() {
    if (window)
      VelRegisterHostOperationProgressWindow(static_cast<VelWindow>(window));
    else
      VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  }
};

std::string targetName(const ::testing::TestParamInfo<Target>& info) {
  return info.param == Target::Thread ? "Thread" : "Window";
}

}  // namespace

TEST_P(OperationTest, AHostCaptureOfResultsPostsItsProgressAndPublishesTheResults) {
  SimulatedImager imager(Line::Usb2);
  imager.operations().setScene(resultsScene({"alpha", "beta"}));
  ASSERT_EQ(imager.connect(), 1);
  registerHost();
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_EQ(takeRun(), kTwoBarcodeRun);
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0x0164);
  ASSERT_EQ(VelGetNumberOfDecodedBarcodes(), 2);
  EXPECT_EQ(barcodeData(0), "alpha");
  EXPECT_EQ(barcodeData(1), "beta");
  EXPECT_EQ(VelGetBarcodeType(1), 4);
  EXPECT_EQ(VelGetImageCaptureTime(), 542) << "SA-1110 ticks";
  ASSERT_TRUE(imager.operations().waitForTransfers(1, 3000));
  const auto transfers = imager.operations().transfers();
  EXPECT_EQ(transfers[0].flags, kDecodeFirst);
  EXPECT_EQ(transfers[0].end, sim::TransferEnd::Completed);
  EXPECT_TRUE(simimager::connectionIntact());
}

// A cancel reaches the transfer at its next acknowledgement: the results received
// are not published. The watchdog armed by the cancel was disarmed by that
// acknowledgement: when its timer fires during the next transfer, which stalls
// longer than the watchdog's time, it does nothing.
TEST_P(OperationTest, ACancelledHostCaptureEndsAbortedAndLeavesTheEarlierResults) {
  SimulatedImager imager(Line::Serial);
  imager.operations().setScene(resultsScene({"kept"}));
  // A channel timeout well beyond the last stall, so that only the watchdog could end it.
  ASSERT_EQ(imager.connect(4 * static_cast<int>(vel::CancelWatchdog::kTimeoutMs) + 3000), 1);
  registerHost();
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeRun().back(), progress(100, 1));

  imager.operations().setScene(resultsScene({"first", "second", "third"}));
  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"), -1);
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeNotes(2), (Notes{progress(0, 3), progress(0, 3)}));
  ASSERT_NO_FATAL_FAILURE(letTheWorkerAcknowledge(imager));
  VelCancelHostInitiatedOperation();
  imager.operations().control().releaseStall();
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(100, 2)}));
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0x0264);
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 1);
  EXPECT_EQ(barcodeData(0), "kept");
  ASSERT_TRUE(imager.operations().waitForTransfers(2, 3000));
  EXPECT_EQ(imager.operations().transfers()[1].end, sim::TransferEnd::StoppedByHost);

  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"),
                                      static_cast<int>(vel::CancelWatchdog::kTimeoutMs) + 750);
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(0, 3), progress(0, 3), progress(0, 3), progress(0, 6),
                              progress(100, 1)}));
  EXPECT_TRUE(simimager::connectionIntact());
  EXPECT_EQ(barcodeData(2), "third");
}

INSTANTIATE_TEST_SUITE_P(Targets, OperationTest, ::testing::Values(Target::Thread, Target::Window), targetName);

TEST(HostOperation, ACancelWithoutATransferDoesNothing) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(resultsScene({"one"}));
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCancelHostInitiatedOperation();
  // The status check would add nothing here but its 200 ms deadline, which a
  // loaded machine running Wine can miss; the capture shows the connection intact.
  EXPECT_TRUE(takeNotes(1, vel::CancelWatchdog::kTimeoutMs + 500).empty()) << "the timer had nothing to do";
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_EQ(takeRun().back(), progress(100, 1)) << "the run is not stopped";
}

// A stalled imager sends no block after the cancel: the watchdog, run by the
// cancelling thread's message loop, aborts the transfer.
TEST(HostOperation, TheWatchdogAbortsATransferStalledAfterACancel) {
  SimulatedImager imager(Line::Usb2);
  ASSERT_NO_FATAL_FAILURE(startACaptureThatStalls(imager));
  ASSERT_EQ(takeNotes(2), (Notes{progress(0, 3), progress(0, 3)}));
  ASSERT_NO_FATAL_FAILURE(letTheWorkerAcknowledge(imager));
  const uint32_t cancelled = vel::platform::tickCount();
  VelCancelHostInitiatedOperation();
  EXPECT_EQ(takeRun(), (Notes{progress(100, 2)}));
  EXPECT_GE(vel::platform::tickCount() - cancelled, vel::CancelWatchdog::kTimeoutMs - 50) << "not before its time";
  EXPECT_EQ(VelGetCommunicationStatus(), -3) << "the broken transfer marks the connection failed";
  EXPECT_NE(barcodeData(0), "first") << "nothing of the stopped run was published";
}

// A cancel made as soon as the capture export returns, before the worker has read
// a byte, reaches the transfer: it stops at its first acknowledgement. When the
// imager never answers, the watchdog armed by that cancel aborts the transfer.
TEST(HostOperation, ACancelRightAfterTheRequestStopsTheTransfer) {
  SimulatedImager imager(Line::Usb2);
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(-1), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  // The worker is kept from beginning the transfer until after the cancel, as a
  // busy machine may keep it.
  auto captureAndCancel = [] {
    vel::ScopedLock worker(vel::library().transferLock);
    VelCaptureImage(1, 0, 0, 0);
    VelCancelHostInitiatedOperation();
  };
  imager.operations().control().stall(sim::Channel::Command, 0, -1);
  captureAndCancel();
  imager.operations().control().releaseStall();
  EXPECT_EQ(takeRun().back(), progress(100, 2));
  ASSERT_TRUE(imager.operations().waitForTransfers(1, 3000));
  EXPECT_EQ(imager.operations().transfers()[0].end, sim::TransferEnd::StoppedByHost);

  imager.operations().control().stall(sim::Channel::Command, 0, -1);
  captureAndCancel();
  EXPECT_EQ(takeRun(), (Notes{progress(100, 2)}));
  EXPECT_EQ(VelGetCommunicationStatus(), -3);
}

TEST(HostOperation, DisconnectDuringAStalledTransferReturns) {
  SimulatedImager imager(Line::Serial);
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(-1), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"), -1);
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeNotes(2), (Notes{progress(0, 3), progress(0, 3)}));
  ASSERT_NO_FATAL_FAILURE(letTheWorkerAcknowledge(imager));
  auto disconnected = std::async(std::launch::async, [] { VelDeviceDisconnect(); });
  ASSERT_EQ(disconnected.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "disconnect hangs";
  // A section cut off by a broken stream publishes what it received; the run is aborted.
  EXPECT_EQ(takeRun(), (Notes{progress(0, 6), progress(100, 2)}));
  EXPECT_EQ(barcodeData(0), "first");
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0);
}

// A transfer that breaks off (no answer within the channel timeout) publishes
// the results it received; the run ends Aborted and the connection is failed.
TEST(HostOperation, ABrokenTransferPublishesWhatItReceivedAndFailsTheConnection) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(500), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"), -1);
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(0, 3), progress(0, 6), progress(100, 2)}));
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 1);
  EXPECT_EQ(barcodeData(0), "first");
  EXPECT_EQ(VelGetCommunicationStatus(), -3);
}

// Each argument of VelCaptureImage counts by its low byte; the flags byte the
// imager receives carries the compressed bit.
TEST(HostOperation, CaptureArgumentsCountByTheirLowByte) {
  SimulatedImager imager(Line::Usb2);  // an SA-1110, which sends binary images
  sim::Scene scene = resultsScene({"a"});
  scene.image.width = 16;
  scene.image.height = 8;
  imager.operations().setScene(scene);
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  struct Case {
    int decode, binary, grey, compressed;
    uint8_t flags;
  };
  const Case cases[] = {{0x100, 0x200, 0x300, 0x10000, 0x00}, {0x101, 0x1FF, 0x10002, 0x7FFFFF01, 0x17},
                        {0, 0, 0x104, 0x100, 0x04}, {0, 0, 1, 1, 0x14}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    VelCaptureImage(c.decode, c.binary, c.grey, c.compressed);
    EXPECT_EQ(takeRun().back(), progress(100, 1)) << "case " << i;
    ASSERT_TRUE(imager.operations().waitForTransfers(i + 1, 3000));
    EXPECT_EQ(imager.operations().transfers()[i].flags, c.flags) << "case " << i;
  }
}

// An export that follows a capture at once waits for the capture's transfer: the
// command channel is the worker's from the hand-off on.
TEST(HostOperation, ACommandRightAfterACaptureWaitsForItsTransfer) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(resultsScene({"a", "b"}));
  imager.store().settings().gain = 1357;
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  for (int round = 0; round < 10; ++round) {
    VelCaptureImage(1, 0, 0, 0);
    ASSERT_EQ(VelGetDeviceConfiguration(), 1) << "round " << round;
    EXPECT_EQ(VelGetGain(), 1357);
    ASSERT_EQ(takeRun(), kTwoBarcodeRun) << "round " << round;
  }
  EXPECT_TRUE(simimager::connectionIntact());
}

// A capture with an image reads the image section to its end: the grey image
// is published after the results, and the connection stays in step.
TEST(HostOperation, ACaptureWithAnImageSectionReadsItToTheEnd) {
  SimulatedImager imager(Line::Usb2);
  sim::Scene scene = resultsScene({"x"});
  scene.image.width = 16;
  scene.image.height = 8;
  imager.operations().setScene(scene);
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelCaptureImage(1, 0, 1, 0);
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(0, 3), progress(0, 6), progress(0, 5), progress(100, 5),
                              progress(100, 8), progress(100, 1)}));
  EXPECT_EQ(VelGetGreyImageWidth(), 16);
  EXPECT_TRUE(simimager::connectionIntact());
}

// Images saved after a capture carry its time: the timestamp record is taken
// before host captures (argument 1) and before trigger transfers (argument: the
// trigger grey-image-read setting).
TEST(Operations, CapturesRefreshTheTimestampRecord) {
  SimulatedImager imager(Line::Usb2);
  imager.operations().setScene(resultsScene({"t"}));
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  VelSetTriggerGrayImageReadEnabled(0);
  vel::timestampStore().publish(vel::TimestampRecord{});
  VelCaptureImage(1, 0, 0, 0);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  vel::TimestampRecord record = vel::timestampStore().snapshot();
  EXPECT_EQ(std::strlen(record.timestamp), 19u) << record.timestamp;
  EXPECT_EQ(record.refreshArgument, 1);
  EXPECT_EQ(record.fixedValue, 3);

  vel::timestampStore().publish(vel::TimestampRecord{});
  imager.operations().pullTrigger(kDecodeFirst);
  ASSERT_EQ(takeRun().back(), progress(100, 1));
  record = vel::timestampStore().snapshot();
  EXPECT_EQ(std::strlen(record.timestamp), 19u) << record.timestamp;
  EXPECT_EQ(record.refreshArgument, 0);
}

TEST(TriggerOperation, ATriggerTransferPostsToTheRegisteredThread) {
  SimulatedImager imager(Line::Serial);
  imager.operations().setScene(resultsScene({"trig", "ger"}));
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  VelSetTriggerGrayImageReadEnabled(0);
  imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun(), kTwoBarcodeRun);
  EXPECT_EQ(VelGetTriggerOperationStatus(), 0x0164);
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0);
  EXPECT_EQ(barcodeData(1), "ger");

  // With the trigger grey-image-read setting on, the run ends with event 9.
  VelSetTriggerGrayImageReadEnabled(1);
  imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun().back(), progress(100, 9));
  EXPECT_EQ(VelGetTriggerOperationStatus(), 0x0964);
}

TEST(TriggerOperation, ATriggerTransferYieldsToAHostTransfer) {
  SimulatedImager imager(Line::Serial);
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  imager.operations().control().stall(sim::Channel::Command, afterFirstBarcode("first"), -1);
  VelCaptureImage(1, 0, 0, 0);
  // The host transfer holds the transfer lock from its first byte on.
  for (int i = 0; i < 400 && VelGetHostInitiatedOperationStatus() == 0; ++i) vel::platform::sleepMs(5);
  ASSERT_EQ(VelGetHostInitiatedOperationStatus(), 0x0300);

  const sim::TransferReport trigger = imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(0, 3), progress(100, 2)}));
  EXPECT_EQ(trigger.end, sim::TransferEnd::StoppedByHost);
  EXPECT_EQ(trigger.acks, (std::vector<uint8_t>{0}));
  EXPECT_EQ(VelGetTriggerOperationStatus(), 0x0264);

  imager.operations().control().releaseStall();
  ASSERT_TRUE(imager.operations().waitForTransfers(2, 5000));
  for (int i = 0; i < 400 && VelGetHostInitiatedOperationStatus() != 0x0164; ++i) vel::platform::sleepMs(5);
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0x0164) << "the host transfer went on to its end";
}

// A status check shortens only the command channel's timeout: a trigger read
// that begins while the check waits for its answer keeps the channel timeout and
// rides out a pause of the imager longer than the check's 200 ms.
TEST(TriggerOperation, AStatusCheckLeavesTheEventChannelsTimeoutAlone) {
  // The imager must reach its pause within the check's own 200 ms. A round in which
  // a loaded machine kept it from that tests nothing and is run again.
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    SimulatedImager imager(Line::Usb2);
    sim::Scene scene = resultsScene({"first", "second"});
    scene.image.width = 16;
    scene.image.height = 8;
    imager.operations().setScene(scene);
    ASSERT_EQ(imager.connect(5000), 1);
    VelRegisterTriggerProgressThread(thisThreadWithQueue());
    VelSetTriggerGrayImageReadEnabled(0);
    // After the image size (4 bytes) and the first barcode, which the host
    // acknowledges and then reads on, the imager pauses.
    imager.operations().control().stall(sim::Channel::Event, afterFirstBarcode("first") + 4, 600);
    // The imager takes the status check's link check, then sends the trigger
    // transfer and answers the check once the pause has begun.
    std::future<sim::TransferReport> trigger;
    std::atomic<bool> held{false};
    std::atomic<bool> heldInTime{false};
    imager.commands().setGate([&](uint8_t code) {
      if (code != 13 || trigger.valid()) return true;
      const auto asked = std::chrono::steady_clock::now();
      trigger = std::async(std::launch::async, [&] { return imager.operations().pullTrigger(kDecodeFirst | 0x04); });
      heldInTime = imager.operations().control().waitUntilStalled(sim::Channel::Event, 2000) &&
                   std::chrono::steady_clock::now() - asked < std::chrono::milliseconds(150);
      held = true;
      return true;
    });
    const int status = VelGetCommunicationStatus();
    ASSERT_TRUE(eventually([&] { return held.load(); }));
    imager.commands().setGate({});
    if (!heldInTime) {
      VelDeviceDisconnect();  // ends the imager's transfer before the next round
      continue;
    }
    EXPECT_EQ(status, 1);
    const Notes run = takeRun();
    EXPECT_EQ(run.back(), progress(100, 1));
    EXPECT_EQ(std::count(run.begin(), run.end(), progress(100, 8)), 1) << "the grey image was published";
    EXPECT_EQ(trigger.get().end, sim::TransferEnd::Completed);
    EXPECT_EQ(VelGetCommunicationStatus(), 1);
    return;
  }
  FAIL() << "in none of " << kRounds << " rounds did the imager reach its pause within the check's time";
}

TEST(TriggerOperation, ExposureAndPresentationModeReportsChangeTheRecord) {
  SimulatedImager imager(Line::Usb);
  sim::Scene scene = resultsScene({});
  scene.exposure = sim::ExposureReport{300, 1200, 9};
  scene.presentationMode = true;
  imager.operations().setScene(scene);
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  VelSetTriggerGrayImageReadEnabled(0);
  VelSetPresentationModeEnabled(0);
  imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun(), (Notes{configurationChanged(1), configurationChanged(2), progress(0, 3), progress(0, 6),
                              progress(100, 1)}));
  EXPECT_EQ(VelGetGain(), 300);
  EXPECT_EQ(VelGetIntegrationTime(), 1200);
  EXPECT_EQ(VelGetIlluminationLevel(), 9);
  EXPECT_EQ(VelGetPresentationModeEnabled(), 1);

  // The same presentation mode again: no change to announce.
  imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun(), (Notes{configurationChanged(1), progress(0, 3), progress(0, 6), progress(100, 1)}));
}

TEST(TriggerOperation, ConfigurationBarcodesWithAGoodCheckAreApplied) {
  SimulatedImager imager(Line::Usb2);
  const sim::Bytes rotation = sim::configurationPayload(sim::ConfigurationForm::Tagged, sim::taggedItem(17, {90, 0}));
  const sim::Bytes gain = sim::configurationPayload(sim::ConfigurationForm::Tagged,
                                                    sim::taggedItem(4, {0x10, 0x00, 0x20, 0x00, 0x05}));
  sim::Scene scene;
  scene.records.push_back(sim::configurationBarcode(3, sim::configurationData(gain, /*goodCheck=*/false)));
  scene.records.push_back(sim::configurationBarcode(3, sim::configurationData(rotation, /*goodCheck=*/true)));
  imager.operations().setScene(scene);
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  VelSetImageRotationDegrees(180);
  VelSetGain(4444);
  VelSetTriggerGrayImageReadEnabled(0);
  imager.operations().pullTrigger(kDecodeFirst);
  EXPECT_EQ(takeRun(), (Notes{progress(0, 3), progress(0, 3), configurationChanged(2), progress(0, 3),
                              progress(0, 6), progress(100, 1)}));
  EXPECT_EQ(VelGetImageRotationDegrees(), 90);
  EXPECT_NE(VelGetGain(), 0x10) << "the barcode with the bad check changed nothing";
  EXPECT_EQ(VelGetNumberOfDecodedBarcodes(), 2) << "both are results all the same";
}

TEST(TriggerOperation, DisconnectDuringAStalledTriggerTransferReturns) {
  SimulatedImager imager(Line::Usb);
  imager.operations().setScene(resultsScene({"first", "second"}));
  ASSERT_EQ(imager.connect(-1), 1);
  VelRegisterTriggerProgressThread(thisThreadWithQueue());
  imager.operations().control().stall(sim::Channel::Event, afterFirstBarcode("first"), -1);
  auto pulled = std::async(std::launch::async, [&] { return imager.operations().pullTrigger(kDecodeFirst); });
  ASSERT_EQ(takeNotes(2), (Notes{progress(0, 3), progress(0, 3)}));
  ASSERT_NO_FATAL_FAILURE(letTheWorkerAcknowledge(imager, sim::Channel::Event));
  auto disconnected = std::async(std::launch::async, [] { VelDeviceDisconnect(); });
  ASSERT_EQ(disconnected.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "disconnect hangs";
  EXPECT_EQ(takeRun(), (Notes{progress(0, 6), progress(100, 2)}));
  imager.shutDown();
  pulled.wait();
}

TEST(OutputProgress, WaitsForAReportableProgressMessageOfTheCallingThread) {
  const unsigned int me = thisThreadWithQueue();
  EXPECT_EQ(VelOutputProgress(0, 0), -1);
  EXPECT_EQ(VelOutputProgress(0, -5), -1) << "a negative timeout polls once";
  EXPECT_EQ(VelOutputProgress(0, -2147483647 - 1), -1) << "no overflow";

  ASSERT_TRUE(vel::platform::postThreadMessage(me, WM_CONFIGURATION_CHANGED, 2, 0));
  ASSERT_TRUE(vel::platform::postThreadMessage(me, WM_OPERATION_PROGRESS, 100, 1));
  ASSERT_TRUE(vel::platform::postThreadMessage(me, WM_OPERATION_PROGRESS, 0, 6));
  EXPECT_EQ(VelOutputProgress(12345, 2), 6) << "the done message is passed over";
  EXPECT_EQ(VelOutputProgress(0, 0), -1) << "both progress messages were taken";
  vel::platform::Message left;
  ASSERT_TRUE(vel::platform::messageTake(&left, 0));
  EXPECT_EQ(left.message, static_cast<uint32_t>(WM_CONFIGURATION_CHANGED)) << "other messages stay";

  SimulatedImager imager(Line::Usb2);
  imager.operations().setScene(resultsScene({"one"}));
  ASSERT_EQ(imager.connect(), 1);
  VelRegisterHostOperationProgressThread(me);
  VelCaptureImage(1, 0, 0, 0);
  EXPECT_EQ(VelOutputProgress(0, 5), 3);
  EXPECT_EQ(VelOutputProgress(0, 5), 3);
  EXPECT_EQ(VelOutputProgress(0, 5), 6);
  EXPECT_EQ(VelOutputProgress(0, 0), -1);
}

// A thread that cancels and then waits in VelOutputProgress, with no message loop
// of its own, still has the watchdog abort a stalled transfer.
TEST(OutputProgress, RunsTheWatchdogOfACancelMadeOnTheWaitingThread) {
  SimulatedImager imager(Line::Usb2);
  ASSERT_NO_FATAL_FAILURE(startACaptureThatStalls(imager));
  ASSERT_EQ(VelOutputProgress(0, 10), 3);
  ASSERT_EQ(VelOutputProgress(0, 10), 3);
  ASSERT_NO_FATAL_FAILURE(letTheWorkerAcknowledge(imager));
  const uint32_t cancelled = vel::platform::tickCount();
  VelCancelHostInitiatedOperation();
  while ((VelGetHostInitiatedOperationStatus() >> 8) != 2 && vel::platform::tickCount() - cancelled < 10000)
    EXPECT_EQ(VelOutputProgress(0, 0), -1) << "the stopped run reports no progress";
  EXPECT_EQ(VelGetHostInitiatedOperationStatus() >> 8, 2) << "not aborted by the watchdog";
  EXPECT_GE(vel::platform::tickCount() - cancelled, vel::CancelWatchdog::kTimeoutMs - 50) << "not before its time";
}

// Exports called from several threads while another connects and disconnects:
// none may touch a connection or operation being torn down.
TEST(Concurrency, ExportsDuringConnectAndDisconnect) {
  SimulatedImager imager(Line::Usb2);
  imager.operations().setScene(resultsScene({"c"}));
  std::atomic<bool> stop{false};
  auto hammer = [&](int which) {
    int target = 0;
    const VelWindow window = reinterpret_cast<VelWindow>(&target);  // no window: posts to it fail
    while (!stop) {
      switch (which) {
        case 0:
          VelGetCommunicationStatus();
          SetCommunicationError();
          break;
        case 1:
          VelCaptureImage(1, 0, 0, 0);
          VelCancelHostInitiatedOperation();
          VelGetHostInitiatedOperationStatus();
          break;
        default:
          VelRegisterHostOperationProgressWindow(window);
          VelRegisterTriggerProgressThread(0);
          VelCancelTriggerOperation();
          VelGetTriggerOperationStatus();
          VelGetDeviceConfiguration();
          break;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back(hammer, i);
  int connected = 0;
  for (int round = 0; round < 6; ++round) {
    connected += imager.connect(1000) == 1;
    vel::platform::sleepMs(20);
    VelDeviceDisconnect();
  }
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_GT(connected, 0);
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
}
