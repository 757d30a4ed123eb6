// Connect, disconnect and the communication status through the exports, against
// the simulated imager on serial and USB lines over both link kinds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Eventually.h"
#include "SimulatedImagerFixture.h"
#include "config/DeviceConfiguration.h"

using simimager::Line;
using simimager::SimulatedImager;

namespace {

std::string firmware() {
  char text[64] = {};
  const int n = VelGetFirmwareVersion(sizeof text, text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0u);
}

class ConnectTest : public ::testing::TestWithParam<Line> {};

}  // namespace

TEST(Connect, WithoutADeviceEveryPortAnswersMinusTwoAndNothingIsConnected) {
  sim::DeviceSim devices;
  devices.install();
  for (int port : {0, 100, simimager::kSerialPort, 1, 99, 101, -1}) {
    EXPECT_EQ(VelDeviceConnectEx(port, 1000, 115200), -2) << "port " << port;
    EXPECT_EQ(VelGetCommunicationStatus(), -4) << "port " << port;
  }
  EXPECT_EQ(VelDeviceConnect(simimager::kSerialPort, 1000), -2);
}

TEST(Connect, BeforeAnyConnectionTheOperationExportsDoNothing) {
  VelDeviceDisconnect();
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  SetCommunicationError();
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  int target = 0;
  const VelWindow window = reinterpret_cast<VelWindow>(&target);
  EXPECT_EQ(VelRegisterHostOperationProgressWindow(window), window);
  EXPECT_EQ(VelRegisterTriggerProgressWindow(window), window);
  EXPECT_EQ(VelRegisterHostOperationProgressThread(1234u), 1234u);
  EXPECT_EQ(VelRegisterTriggerProgressThread(4321u), 4321u);
  VelCancelHostInitiatedOperation();
  VelCancelTriggerOperation();
  EXPECT_EQ(VelGetHostInitiatedOperationStatus(), 0);
  EXPECT_EQ(VelGetTriggerOperationStatus(), 0);
  VelCaptureImage(1, 0, 0, 0);
  VelDeviceDisconnect();
}

TEST_P(ConnectTest, ConnectsReadsTheImagerAndDisconnects) {
  sim::ImagerIdentity id;
  id.visionProcessor = 0;
  id.imageSensor = 0x7FA29652;  // OV9650
  id.firmware = "SIM 2.31";
  SimulatedImager imager(GetParam(), id);
  imager.store().settings().gain = 777;
  ASSERT_EQ(imager.connect(), 1);

  EXPECT_EQ(firmware(), "SIM 2.31");
  EXPECT_EQ(VelGetVisionProcessorVersion(), 0u);
  EXPECT_EQ(VelGetImageSensorVersion(), 0x7FA29652u);
  EXPECT_EQ(VelIsProcessorTypeMx1(), 1);
  EXPECT_EQ(VelIsSensorTypeOv9650(), 1);
  EXPECT_EQ(VelIsColorSensor(), 1);
  EXPECT_EQ(VelGetGain(), 777) << "the imager's configuration was read";
  EXPECT_EQ(VelGetCommunicationStatus(), 1);

  SetCommunicationError();
  EXPECT_EQ(VelGetCommunicationStatus(), -3);
  VelDeviceDisconnect();
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  VelDeviceDisconnect();  // harmless
  EXPECT_TRUE(eventually([&] { return imager.commands().closed(); })) << "the imager takes the close on its own thread";
  EXPECT_EQ(firmware(), "SIM 2.31") << "versions stay after disconnect";
  EXPECT_EQ(VelIsColorSensor(), 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, ConnectTest, ::testing::Values(Line::Serial, Line::Usb, Line::UsbPacket, Line::Usb2),
                         simimager::lineName);

TEST(Connect, ASecondConnectReplacesTheFirstConnection) {
  sim::ImagerIdentity id;
  id.visionProcessor = 7;
  id.imageSensor = 0x01000003;  // Picocam
  SimulatedImager imager(Line::Usb2, id);
  ASSERT_EQ(imager.connect(), 1);
  EXPECT_EQ(VelIsProcessorTypeSa1110(), 1);
  EXPECT_EQ(VelIsSensorTypePicocam(), 1);
  ASSERT_EQ(imager.connect(), 1);
  EXPECT_TRUE(imager.commands().closed()) << "the first connection sent its close";
  EXPECT_EQ(VelGetCommunicationStatus(), 1);
}

TEST(Connect, TheSerialLineRunsAtTheBaudRateAsked) {
  SimulatedImager imager(Line::Serial);
  ASSERT_EQ(VelDeviceConnectEx(simimager::kSerialPort, 2000, 57600), 1);
  EXPECT_EQ(imager.serialLine()->lastBaudRate(), 57600u);
  ASSERT_EQ(VelDeviceConnect(simimager::kSerialPort, 2000), 1);
  EXPECT_EQ(imager.serialLine()->lastBaudRate(), 115200u);
}

TEST(Connect, TheConfigurationIsReadInTheFormTheLinkLevelChooses) {
  for (uint32_t level : {17u, 18u}) {
    sim::ImagerIdentity id;
    id.linkLevel = level;
    SimulatedImager imager(Line::Serial, id);
    imager.store().settings().gain = static_cast<uint16_t>(400 + level);
    imager.store().settings().window = {16, 8, 320, 240};
    imager.store().settings().stampEnabled = true;
    ASSERT_EQ(imager.connect(), 1) << "level " << level;
    EXPECT_EQ(VelGetGain(), static_cast<int>(400 + level));
    EXPECT_EQ(VelGetWindowWidth(), 320);
    EXPECT_EQ(VelGetWindowHeight(), 240);
    // The fixed block carries no timestamp settings: the factory default stays.
    EXPECT_EQ(vel::deviceConfiguration().timestampEnabled != 0, level == 18) << "level " << level;
  }
}

TEST(Connect, ARefusedLinkCheckAnswersMinusOne) {
  sim::ImagerIdentity id;
  id.linkLevel = 16;
  id.linkFlag = 0;
  SimulatedImager imager(Line::Serial, id);
  EXPECT_EQ(imager.connect(), -1);
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
}

TEST(Connect, ABlockSizeThatIsNotPositiveAnswersZero) {
  for (int32_t blockSize : {0, -5}) {
    sim::ImagerIdentity id;
    id.blockSize = blockSize;
    SimulatedImager imager(Line::Serial, id);
    EXPECT_EQ(imager.connectOnce(), 0) << "block size " << blockSize;
    EXPECT_EQ(VelGetCommunicationStatus(), -4);
  }
}

TEST(Connect, ASilentImagerAnswersZero) {
  SimulatedImager imager(Line::Serial);
  imager.commands().setSilent(true);
  EXPECT_EQ(imager.connectOnce(500), 0);
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
}

// An imager that answers the block size but not the link check.
TEST(Connect, NoAnswerToTheLinkCheckAnswersZero) {
  sim::DeviceSim devices;
  devices.install();
  auto line = devices.addSerialLine(simimager::kSerialPort);
  sim::ImagerLink link(*line, sim::Framing::Packet, 0x0BADF00D);
  link.setLineEventHandler([line] { line->injectLineEvent(vel::devices::kLineBreak); });
  std::atomic<bool> stop{false};
  std::thread imager([&] {
    while (!stop) {
      uint8_t code = 0;
      if (link.port(1).read(&code, 1, 20) != 1 || code != 26) continue;
      const uint8_t blockSize[4] = {0x00, 0x10, 0x00, 0x00};
      link.port(0).write(blockSize, sizeof blockSize);
      link.port(0).flush();
    }
  });
  EXPECT_EQ(VelDeviceConnectEx(simimager::kSerialPort, 300, 115200), 0);
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
  stop = true;
  imager.join();
  link.shutdown();
}

TEST(Connect, TheSecondUsbDriverNeverFallsBackToThePacketLink) {
  SimulatedImager imager(Line::Usb2, {}, /*packetFraming=*/true);
  EXPECT_EQ(imager.connectOnce(500), 0);
  EXPECT_EQ(VelGetCommunicationStatus(), -4);
}

// The link check passes, but the version or configuration query then gets no
// answer: the connection is not set up.
TEST(Connect, AFailedQueryAfterThePassedLinkCheckAnswersZero) {
  for (uint8_t unanswered : {5, 1}) {
    SimulatedImager imager(Line::Usb2);
    imager.commands().setGate([unanswered](uint8_t code) { return code != unanswered; });
    EXPECT_EQ(imager.connectOnce(300), 0) << "code " << int(unanswered);
    EXPECT_EQ(VelGetCommunicationStatus(), -4);
  }
}

// An event message that comes before the event reader starts does not hold up
// the block size answer behind it.
TEST(Connect, AnEventBeforeTheEventReaderStartsDoesNotHoldUpTheConnect) {
  SimulatedImager imager(Line::Usb);
  sim::ImagerCommands& commands = imager.commands();
  commands.setGate([&commands](uint8_t code) {
    if (code == 26) commands.sendEvent({0x01});
    return true;
  });
  EXPECT_EQ(imager.connectOnce(3000), 1);
}

// A link check refused on its answer's content fails the status check but
// leaves the connection usable.
TEST(Connect, AStatusCheckRefusedOnContentLeavesTheConnectionIntact) {
  SimulatedImager imager(Line::Usb);
  ASSERT_EQ(imager.connect(), 1);
  imager.commands().setLinkCheckAnswer(16, 0);
  EXPECT_EQ(VelGetCommunicationStatus(), -3);
  imager.commands().setLinkCheckAnswer(18, 1);
  EXPECT_EQ(VelGetCommunicationStatus(), 1);
}

TEST(Connect, AStatusCheckThatGetsNoAnswerMarksTheConnectionFailed) {
  SimulatedImager imager(Line::Usb);
  ASSERT_EQ(imager.connect(), 1);
  imager.commands().setSilent(true);
  EXPECT_EQ(VelGetCommunicationStatus(), -3);
  imager.commands().setSilent(false);
  EXPECT_EQ(VelGetCommunicationStatus(), -3) << "the failure is sticky";
  EXPECT_EQ(VelGetDeviceConfiguration(), 0);
}

#if GTEST_HAS_DEATH_TEST
// A process that ends while connected, with a trigger transfer stalled, tears
// the connection down on its way out: the imager gets the close command and the
// process ends rather than hanging on the transfer (no channel timeout).
TEST(ConnectDeathTest, EndingTheProcessWhileConnectedClosesTheConnection) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto* imager = new SimulatedImager(Line::Usb2);  // outlives the library's own teardown
        imager->operations().setScene(sim::Scene{});
        if (imager->connect(-1) != 1) std::_Exit(3);
        imager->operations().control().stall(sim::Channel::Event, 1, -1);
        std::thread([imager] { imager->operations().pullTrigger(0x01); }).detach();
        // The transfer announces its result section, then waits on the stall.
        for (int i = 0; i < 5000 && VelGetTriggerOperationStatus() == 0; ++i) vel::platform::sleepMs(1);
        if (VelGetTriggerOperationStatus() != 0x0300) std::_Exit(4);
        std::thread([imager] {
          for (int i = 0; i < 20000 && !imager->commands().closed(); ++i) vel::platform::sleepMs(1);
          if (imager->commands().closed()) std::fprintf(stderr, "the imager was closed\n");
          std::fflush(stderr);
        }).detach();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "the imager was closed");
}
#endif
