// The service commands through the exports against the simulated imager: the
// bytes each sends, the answers, unknown pins, no connection, a failed channel
// and a silent imager; and the terminal-mode quit on simulated COM lines.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ImgEngine.h"
#include "SimulatedImagerFixture.h"
#include "devices/DeviceSim.h"

using simimager::Line;
using simimager::SimulatedImager;

namespace {

struct Sent {
  uint8_t code;
  std::vector<uint8_t> fields;
  bool operator==(const Sent& o) const { return code == o.code && fields == o.fields; }
};

void PrintTo(const Sent& s, std::ostream* os) {
  *os << "code " << int(s.code) << " fields {";
  for (uint8_t b : s.fields) *os << " " << int(b);
  *os << " }";
}

class ServiceExports : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override { ASSERT_EQ(imager_.connect(), 1); }

  // The commands the imager took from the index on.
  std::vector<Sent> sentSince(size_t from) {
    const std::vector<uint8_t> codes = imager_.commands().receivedCodes();
    const std::vector<std::vector<uint8_t>> fields = imager_.commands().receivedFields();
    std::vector<Sent> sent;
    for (size_t i = from; i < codes.size() && i < fields.size(); ++i) sent.push_back({codes[i], fields[i]});
    return sent;
  }
  size_t sentCount() { return imager_.commands().receivedCodes().size(); }

  SimulatedImager imager_{GetParam()};
};

constexpr uint8_t kStatus = 21;

}  // namespace

TEST_P(ServiceExports, EachCommandSendsItsCodeAndLowBytesAndAnswers) {
  sim::ImagerCommands& imager = imager_.commands();
  imager.setCalibrationStatus(0);
  EXPECT_EQ(VelGetCalibrationStatus(), 1);
  imager.setCalibrationStatus(255);
  EXPECT_EQ(VelGetCalibrationStatus(), 256);

  // Each command, then a status query that the imager answers only after taking
  // the command before it (a set command itself is not answered).
  struct Case {
    int (*command)();
    int result;
    Sent sent;
  };
  const Case cases[] = {
      {[] { return VelCalibrateBlackLevels(0x1234); }, 1, {19, {0x34}}},
      {[] { return VelSetDefaultBlackLevels(-1); }, 1, {20, {0xFF}}},
      {[] { return VelSetTerminalModeOutput(); }, 1, {22, {}}},
      {[] { return VelSetIoPinConfiguration(24, 0x100); }, 1, {23, {4, 1}}},
      {[] { return VelSetIoPinConfiguration(16, 5); }, 1, {23, {0, 0}}},
      {[] { return VelSetIoPinValue(17, 0x1AB); }, 1, {25, {1, 0xAB}}},
      {[] { return VelGetIoPinValue(17); }, 0xAB, {24, {1}}},
      {[] { return VelSetIoPinValue(18, 7); }, 1, {25, {2, 7}}},
      {[] { return VelGetIoPinValue(18); }, 7, {24, {2}}},
      {[] { return VelGetIoPinValue(19); }, 0, {24, {3}}},
      {[] { return VelSetSensorRegister(0x105, 0x2FE); }, 1, {8, {5, 0xFE}}},
      {[] { return VelGetSensorRegister(0x305); }, 0xFE, {9, {5}}},
      {[] { return VelSetTargetingLedsStatus(0x100); }, 1, {28, {1}}},
      {[] { return VelSetTargetingLedsStatus(0); }, 1, {28, {0}}},
      {[] { return VelSetTriggerStatusCommand(0x100); }, 1, {30, {1}}},
      {[] { return VelSetTriggerStatusCommand(0); }, 1, {30, {0}}},
      {[] { return VelPutDeviceToSleepCommand(); }, 1, {31, {}}},
      {[] {
         VelExecuteFirmwareErase();
         return 0;
       },
       0, {29, {}}},
  };
  for (const Case& c : cases) {
    const size_t before = sentCount();
    EXPECT_EQ(c.command(), c.result) << "code " << int(c.sent.code);
    ASSERT_GE(VelGetCalibrationStatus(), 1);
    EXPECT_EQ(sentSince(before), (std::vector<Sent>{c.sent, {kStatus, {}}}));
  }
  EXPECT_EQ(imager.ioPinConfiguration(4), 1);
  EXPECT_EQ(imager.ioPinConfiguration(0), 0);
  EXPECT_EQ(imager.sensorRegister(5), 0xFE);
  EXPECT_EQ(imager.targetingLeds(), 0);
  EXPECT_TRUE(simimager::connectionIntact());
}

TEST_P(ServiceExports, PinsWithoutAnIndexSendNothing) {
  const size_t before = sentCount();
  for (int pin : {20, 21, 22, 23, 0, 15, 25, -1, 0x110}) {
    EXPECT_EQ(VelSetIoPinValue(pin, 1), 0) << pin;
    EXPECT_EQ(VelSetIoPinConfiguration(pin, 0), 0) << pin;
    EXPECT_EQ(VelGetIoPinValue(pin), -1) << pin;
  }
  EXPECT_GE(VelGetCalibrationStatus(), 1);
  EXPECT_EQ(sentSince(before), (std::vector<Sent>{{kStatus, {}}})) << "only the status query reached the imager";
}

TEST_P(ServiceExports, ASilentImagerFailsTheQueriesAndTheFailureSticks) {
  VelDeviceDisconnect();
  ASSERT_EQ(imager_.connect(300), 1);
  imager_.commands().setSilent(true);
  EXPECT_EQ(VelGetCalibrationStatus(), 0);
  EXPECT_EQ(VelGetIoPinValue(16), -1);
  EXPECT_EQ(VelGetSensorRegister(3), -1);
  // Every later command fails too, until the next connect.
  imager_.commands().setSilent(false);
  EXPECT_EQ(VelCalibrateBlackLevels(1), 0);
  EXPECT_EQ(VelSetIoPinValue(16, 1), 0);
  EXPECT_EQ(VelSetSensorRegister(1, 1), -1);
  EXPECT_EQ(VelSetTargetingLedsStatus(1), -1);
  EXPECT_EQ(VelPutDeviceToSleepCommand(), -1);
  EXPECT_NE(VelGetCommunicationStatus(), 1);
  ASSERT_EQ(imager_.connect(), 1);
  EXPECT_EQ(VelSetTargetingLedsStatus(1), 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, ServiceExports, ::testing::Values(Line::Serial, Line::Usb), simimager::lineName);

TEST(ServiceExportsUnconnected, AnswerTheirFailureAndSendNothing) {
  VelDeviceDisconnect();
  EXPECT_EQ(VelCalibrateBlackLevels(1), 0);
  EXPECT_EQ(VelSetDefaultBlackLevels(1), 0);
  EXPECT_EQ(VelGetCalibrationStatus(), 0);
  EXPECT_EQ(VelSetTerminalModeOutput(), 0);
  EXPECT_EQ(VelSetIoPinConfiguration(16, 0), 0);
  EXPECT_EQ(VelSetIoPinValue(16, 0), 0);
  EXPECT_EQ(VelGetIoPinValue(16), -1);
  EXPECT_EQ(VelSetSensorRegister(1, 1), -1);
  EXPECT_EQ(VelGetSensorRegister(1), -1);
  EXPECT_EQ(VelSetTargetingLedsStatus(1), -1);
  EXPECT_EQ(VelSetTriggerStatusCommand(1), -1);
  EXPECT_EQ(VelPutDeviceToSleepCommand(), -1);
  VelExecuteFirmwareErase();
}

// Terminal-mode quit on simulated COM lines 1..8, with no imager attached.
class TerminalModeQuit : public ::testing::Test {
 protected:
  void SetUp() override {
    devices_.install();
    for (int port = 1; port <= 8; ++port) lines_.push_back(devices_.addSerialLine(port));
  }
  sim::SimSerialLine& line(int port) { return *lines_[static_cast<size_t>(port - 1)]; }
  std::string received(int port, int timeoutMs = 1000) {
    uint8_t bytes[64];
    const size_t n = line(port).read(bytes, sizeof bytes, timeoutMs);
    return std::string(reinterpret_cast<char*>(bytes), n);
  }

  sim::DeviceSim devices_;
  std::vector<std::shared_ptr<sim::SimSerialLine>> lines_;
};

TEST_F(TerminalModeQuit, WritesQuitAndAZeroByteAt8N1) {
  ASSERT_EQ(VelQuitTerminalModeOutput(3, 9600), 1);
  EXPECT_EQ(received(3), std::string("quit!\0", 6));
  const vel::devices::LineFormat f = line(3).lineFormat();
  EXPECT_EQ(f.baudRate, 9600u);
  EXPECT_EQ(f.dataBits, 8);
  EXPECT_EQ(f.stopBits, 1);
  EXPECT_FALSE(f.parityBit);
  EXPECT_FALSE(f.parityCheck);
  EXPECT_TRUE(f.binary);
  EXPECT_EQ(line(3).purgeCount(), 1);
  EXPECT_EQ(line(3).openCount(), 1);
  EXPECT_FALSE(line(3).hostOpen()) << "the port is closed again";
  ASSERT_EQ(VelQuitTerminalModeOutput(7, 115200), 1);
  EXPECT_EQ(received(7), std::string("quit!\0", 6));
  EXPECT_EQ(line(7).lineFormat().baudRate, 115200u);
}

TEST_F(TerminalModeQuit, PortsOutsideOneToSevenAreNotTouched) {
  for (int port : {0, 8, -1, 100}) EXPECT_EQ(VelQuitTerminalModeOutput(port, 9600), -1) << port;
  EXPECT_EQ(line(8).openCount(), 0);
}

TEST_F(TerminalModeQuit, FailsWhenThePortCannotBeOpenedOrSetOrWritten) {
  line(2).holdByOtherProgram(true);
  EXPECT_EQ(VelQuitTerminalModeOutput(2, 9600), -1);
  EXPECT_EQ(VelQuitTerminalModeOutput(5, 0), -1) << "a baud rate the port refuses";
  EXPECT_EQ(received(5, 100), "") << "nothing is written with settings the port refused";
  EXPECT_FALSE(line(5).hostOpen());
  // A line so slow that the 6 bytes take seconds: the write is given about a second.
  line(6).setPacingBaud(10);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(VelQuitTerminalModeOutput(6, 9600), -1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_FALSE(line(6).hostOpen());
}

TEST(TerminalModeQuitConnected, FailsOnThePortTheConnectionHolds) {
  SimulatedImager imager(Line::Serial);
  ASSERT_EQ(imager.connect(), 1);
  EXPECT_EQ(VelQuitTerminalModeOutput(simimager::kSerialPort, 115200), -1);
  EXPECT_GE(VelGetCalibrationStatus(), 1) << "the connection is not disturbed";
}
