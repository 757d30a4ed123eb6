// The device connection's channels and commands against the simulated imager,
// over both link kinds.
#include <atomic>
#include <cstring>
#include <vector>

#include "ConnectionFixture.h"
#include "Eventually.h"
#include "core/LibraryState.h"
#include "platform/Time.h"

using conntest::ConnectionTest;
using vel::LinkKind;

namespace {

// Records trigger transfers: reads n bytes of the response it is handed.
class RecordingSink : public vel::OperationSink {
 public:
  explicit RecordingSink(size_t responseBytes) : responseBytes_(responseBytes) {}
  void beginCapture(vel::ByteStream& s, uint8_t flags, int32_t blockSize) override {
    std::vector<uint8_t> bytes(responseBytes_);
    s.read(bytes.data(), bytes.size());
    flags_.push_back(flags);
    blockSize_ = blockSize;
    received_ = bytes;
    ++captures_;
  }
  void beginPreviousBinary(vel::ByteStream&, int32_t) override {}
  void beginPreviousGrey(vel::ByteStream&, int32_t) override {}
  void beginPreviousGreyEx(vel::ByteStream&, int32_t, bool) override {}

  std::atomic<int> captures_{0};
  std::vector<uint8_t> flags_;
  std::vector<uint8_t> received_;
  int32_t blockSize_ = 0;

 private:
  size_t responseBytes_;
};

}  // namespace

TEST_P(ConnectionTest, ConstructionAsksTheBlockSizeAndCloseIsSentAtTheEnd) {
  sim::ImagerIdentity id;
  id.blockSize = 8192;
  connect(id);
  EXPECT_FALSE(connection->errorFlag());
  EXPECT_EQ(connection->blockSize(), 8192);
  connection.reset();
  EXPECT_TRUE(eventually([&] { return imager->commands.closed(); }));
  const auto codes = imager->commands.receivedCodes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes.front(), vel::kCmdGetBlockSize);
  EXPECT_EQ(codes.back(), vel::kCmdClose);
}

TEST_P(ConnectionTest, LinkCheckLevelsAndTheFixedConfigurationSwitch) {
  struct Case {
    uint32_t level;
    uint8_t flag;
    bool passes;
    bool fixed;
  } cases[] = {{18, 0, true, false}, {17, 0, true, true}, {16, 0, false, false}, {16, 1, true, false}};
  for (const Case& c : cases) {
    sim::ImagerIdentity id;
    id.linkLevel = c.level;
    id.linkFlag = c.flag;
    connect(id);
    bool passed = !c.passes;
    EXPECT_TRUE(connection->checkLink(passed));
    EXPECT_EQ(passed, c.passes) << "level " << c.level;
    EXPECT_EQ(connection->fixedConfiguration(), c.fixed) << "level " << c.level;
    EXPECT_FALSE(connection->errorFlag()) << "a refused check on content leaves the flag clear";
    TearDown();
  }
}

TEST_P(ConnectionTest, VersionsArriveFieldByField) {
  sim::ImagerIdentity id;
  id.visionProcessor = 0;
  id.imageSensor = 0x7FA29645;
  id.illuminationBoard = 0x01020304;
  id.reserved = 0xAABBCCDD;
  id.firmware = "Imager FW 4.2.1";
  connect(id);
  vel::VersionRecord v;
  EXPECT_TRUE(connection->getVersions(v));
  EXPECT_EQ(v.visionProcessor, 0u);
  EXPECT_EQ(v.imageSensor, 0x7FA29645u);
  EXPECT_EQ(v.illuminationBoard, 0x01020304u);
  EXPECT_EQ(v.reserved, 0xAABBCCDDu);
  EXPECT_EQ(std::string(v.firmware, v.firmwareLength), "Imager FW 4.2.1");
}

TEST_P(ConnectionTest, ShortCommandsCarryTheirFieldsAndAnswers) {
  connect();
  EXPECT_TRUE(connection->setSensorRegister(0x21, 0x7E));
  uint8_t value = 0;
  EXPECT_TRUE(connection->getSensorRegister(0x21, value));
  EXPECT_EQ(value, 0x7E);
  EXPECT_EQ(imager->commands.sensorRegister(0x21), 0x7E);

  EXPECT_TRUE(connection->setIoPinConfiguration(4, 1));
  EXPECT_TRUE(connection->setIoPinValue(2, 0x55));
  EXPECT_TRUE(connection->getIoPinValue(2, value));
  EXPECT_EQ(value, 0x55);
  EXPECT_EQ(imager->commands.ioPinConfiguration(4), 1);

  imager->commands.setCalibrationStatus(9);
  EXPECT_TRUE(connection->getCalibrationStatus(value));
  EXPECT_EQ(value, 9);
  imager->commands.setStandardDeviation(12345);
  int32_t sd = 0;
  EXPECT_TRUE(connection->imageStandardDeviation(sd));
  EXPECT_EQ(sd, 12345);

  EXPECT_TRUE(connection->setTargetingLeds(1));
  EXPECT_TRUE(connection->triggerStatus(1));
  EXPECT_TRUE(connection->calibrateBlackLevels(3));
  EXPECT_TRUE(connection->setDefaultBlackLevels(4));
  EXPECT_TRUE(connection->setTerminalModeOutput());
  EXPECT_TRUE(connection->sleep());
  EXPECT_TRUE(connection->firmwareErase());
  // The flushed commands reach the imager in order; a query after them proves they arrived.
  EXPECT_TRUE(connection->getCalibrationStatus(value));
  EXPECT_EQ(imager->commands.targetingLeds(), 1);
  EXPECT_EQ(imager->commands.triggerStatus(), 1);
  const auto codes = imager->commands.receivedCodes();
  const std::vector<uint8_t> tail(codes.end() - 8, codes.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{28, 30, 19, 20, 22, 31, 29, 21}));
  EXPECT_FALSE(connection->errorFlag());
}

TEST_P(ConnectionTest, MultiByteFieldsGoOutLittleEndian) {
  connect();
  bool passed = false;
  EXPECT_TRUE(connection->checkLink(passed));
  EXPECT_EQ(imager->commands.lastFields(), (std::vector<uint8_t>{13, 0, 0, 0}));

  RecordingSink sink(0);
  const uint16_t window[4] = {0x0102, 0x0304, 0x0500, 0xFF06};
  EXPECT_TRUE(connection->windowedPreviousGreyImage(0x5A, window, sink));
  connection->commandChannel().flush();  // the sink read nothing that would send the request
  const std::vector<uint8_t> expected{0x5A, 0x02, 0x01, 0x04, 0x03, 0x00, 0x05, 0x06, 0xFF};
  EXPECT_TRUE(eventually([&] { return imager->commands.lastFields() == expected; }));
}

TEST_P(ConnectionTest, ASilentImagerFailsTheCheckAfterTheTimeoutAndTheFlagSticks) {
  connect();
  imager->commands.setSilent(true);
  connection->setChannelTimeouts(200);
  bool passed = true;
  const uint32_t start = vel::platform::tickCount();
  EXPECT_FALSE(connection->checkLink(passed));
  const uint32_t elapsed = vel::platform::tickCount() - start;
  EXPECT_FALSE(passed);
  EXPECT_GE(elapsed, 190u);
  EXPECT_TRUE(connection->errorFlag());
  imager->commands.setSilent(false);
  uint8_t value = 0;
  connection->getIoPinValue(0, value);
  EXPECT_TRUE(connection->errorFlag()) << "the error flag only goes from clear to set";
}

TEST_P(ConnectionTest, AnUnansweredQueryReturnsAfterTheChannelTimeout) {
  connect();
  imager->commands.setSilent(true);
  connection->setChannelTimeouts(300);
  uint8_t value = 0xEE;
  const uint32_t start = vel::platform::tickCount();
  EXPECT_FALSE(connection->getIoPinValue(1, value));
  EXPECT_GE(vel::platform::tickCount() - start, 290u);
  EXPECT_TRUE(connection->errorFlag());
  int32_t sd = 0;
  EXPECT_FALSE(connection->imageStandardDeviation(sd));
  EXPECT_EQ(sd, -1);
}

TEST_P(ConnectionTest, EventChannelSkipsOtherTypesAndHandsOverAnOperation) {
  RecordingSink sink(5);
  sim::ImagerIdentity id;
  id.blockSize = 2048;
  connect(id, &sink);
  // Each byte is its own message, as the host reads the type byte by byte.
  for (uint8_t type : {0, 1, 2, 3, 5, 255}) imager->commands.sendEvent({type});
  imager->commands.sendEvent({4});
  imager->commands.sendEvent({0x07});
  imager->commands.sendEvent({10, 20, 30, 40, 50});
  ASSERT_TRUE(eventually([&] { return sink.captures_.load() == 1; }));
  EXPECT_EQ(sink.flags_, std::vector<uint8_t>{0x07});
  EXPECT_EQ(sink.received_, (std::vector<uint8_t>{10, 20, 30, 40, 50}));
  EXPECT_EQ(sink.blockSize_, 2048);
  // Commands run on their own channel while events are handled.
  bool passed = false;
  EXPECT_TRUE(connection->checkLink(passed));
  EXPECT_TRUE(passed);
}

TEST_P(ConnectionTest, DestroyingWithTheEventReaderBlockedReturnsPromptly) {
  connect();
  vel::platform::sleepMs(50);  // the reader is now blocked in its first read, with no limit
  const uint32_t start = vel::platform::tickCount();
  connection.reset();
  EXPECT_LT(vel::platform::tickCount() - start, 1000u);
}

TEST_P(ConnectionTest, NoImagerMeansNoBlockSizeAndAnErrorFlag) {
  sim::ImagerIdentity id;
  connect(id);
  TearDown();
  imager = std::make_unique<conntest::Imager>(line, GetParam(), id);
  imager->commands.setSilent(true);
  // The block-size query waits its 5,000 ms before the connection gives up.
  connection = std::make_unique<vel::DeviceConnection>(line.host(), nullptr, GetParam());
  EXPECT_EQ(connection->blockSize(), -1);
  EXPECT_TRUE(connection->errorFlag());
}

INSTANTIATE_TEST_SUITE_P(BothLinks, ConnectionTest, ::testing::Values(LinkKind::Packet, LinkKind::Direct),
                         conntest::kindName);
