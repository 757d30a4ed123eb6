// The three configuration exchange exports against the simulated imager's
// configuration store, in both wire forms and over both link kinds.
#include <cstring>
#include <vector>

#include "ConnectionFixture.h"
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "config/DeviceConfiguration.h"

namespace {

struct Form {
  vel::LinkKind kind;
  uint32_t level;
};

std::vector<uint8_t> carried(const vel::DeviceConfiguration& r, uint32_t level) {
  std::vector<uint8_t> bytes;
  if (level == 17) {
    bytes.resize(vel::kFixedBlockBytes);
    vel::ToFixedBlock(r, bytes.data());
    return bytes;
  }
  uint8_t payload[1024];
  for (int tag = 0; tag <= 25; ++tag) {
    const size_t n = vel::EncodeTag(r, tag, payload);
    bytes.push_back(static_cast<uint8_t>(tag));
    bytes.insert(bytes.end(), payload, payload + n);
  }
  return bytes;
}

class ExchangeTest : public ::testing::TestWithParam<Form> {
 protected:
  sim::MemoryLine line;
  sim::ImagerConfigStore store;
  std::unique_ptr<conntest::Imager> imager;

  void SetUp() override {
    sim::ImagerIdentity id;
    id.linkLevel = GetParam().level;
    imager = std::make_unique<conntest::Imager>(line, GetParam().kind, id, &store);
    auto connection = std::make_unique<vel::DeviceConnection>(line.host(), nullptr, GetParam().kind);
    connection->setChannelTimeouts(2000);
    bool passed = false;
    ASSERT_TRUE(connection->checkLink(passed));
    ASSERT_TRUE(passed);
    vel::library().attachConnection(std::move(connection), nullptr);  // the line is the test's
    vel::ApplyFactoryDefaults(vel::deviceConfiguration());
  }
  // Waits until the imager has taken everything sent so far: a set is flushed
  // without an answer, a query after it is answered only once the set was read.
  void sync() {
    uint8_t status = 0;
    ASSERT_TRUE(vel::library().connection()->getCalibrationStatus(status));
  }
  void TearDown() override {
    vel::library().closeConnection();
    imager.reset();
  }
};

}  // namespace

TEST_P(ExchangeTest, ARecordSentAndReadBackIsEqualInEveryCarriedField) {
  vel::DeviceConfiguration& record = vel::deviceConfiguration();
  VelSetWindowX(64);
  VelSetWindowWidth(640);
  VelSetGain(4321);
  VelSetThresholdBias(-7);
  VelSetBeeperEnabled(0);
  VelSetQRCodeEnabled(1);
  VelSetAll1dCodesStrongRecoveryEnabled(1);
  VelSetImageCorrectionGammaEnabled(0);
  VelSetOrderByTypeEnabled(1);
  const unsigned char order[] = {16, 3, 6};
  VelSetBarcodeTypeOrderList(3, order);
  const unsigned char prefix[] = {'<', '#'};
  VelSetPrefixBarcodeList(3, 2, prefix);
  const std::vector<uint8_t> sent = carried(record, GetParam().level);

  ASSERT_EQ(VelSetPermanentDeviceConfiguration(), 1);
  ASSERT_EQ(VelSetTemporaryDeviceConfiguration(), 1);
  vel::ApplyFactoryDefaults(record);
  ASSERT_NE(carried(record, GetParam().level), sent);
  ASSERT_EQ(VelGetDeviceConfiguration(), 1);
  EXPECT_EQ(carried(record, GetParam().level), sent);
  EXPECT_EQ(imager->commands.permanentWrites(), 1);
  EXPECT_EQ(imager->commands.temporaryWrites(), 1);
  EXPECT_EQ(store.settings().gain, 4321);
  EXPECT_EQ(store.settings().window[0], 64);
  EXPECT_EQ(store.settings().window[2], 640);
}

TEST_P(ExchangeTest, TheImagersOwnChangesReachTheRecord) {
  store.settings().gain = 999;
  store.settings().window[3] = 480;
  ASSERT_EQ(VelGetDeviceConfiguration(), 1);
  EXPECT_EQ(VelGetGain(), 999);
  EXPECT_EQ(VelGetWindowHeight(), 480);
}

TEST_P(ExchangeTest, AFailedExchangeAnswersZeroFromThenOn) {
  imager->commands.setSilent(true);
  vel::library().connection()->setChannelTimeouts(200);
  const int gain = VelGetGain();
  EXPECT_EQ(VelGetDeviceConfiguration(), 0);
  EXPECT_EQ(VelGetGain(), gain) << "nothing arrived, nothing changed";
  imager->commands.setSilent(false);
  EXPECT_EQ(VelSetTemporaryDeviceConfiguration(), 0) << "the error flag of the failed read stays set";
}

TEST_P(ExchangeTest, PreMovieSettingsReachThePermanentConfigurationAndComeBack) {
  VelSetIlluminationLevel(6);
  vel::deviceConfiguration().timestampEnabled = 1;
  ASSERT_EQ(VelSavePreMovieSettings(), 1);
  sync();
  EXPECT_FALSE(store.settings().option[6]) << "beeper";
  EXPECT_FALSE(store.settings().option[8]) << "aiming LEDs";
  EXPECT_EQ(store.settings().illumination, 0);
  EXPECT_FALSE(store.settings().stampEnabled);
  EXPECT_EQ(imager->commands.permanentWrites(), 1);
  ASSERT_EQ(VelRestorePreMovieSettings(), 1);
  sync();
  EXPECT_TRUE(store.settings().option[6]);
  EXPECT_TRUE(store.settings().option[8]);
  EXPECT_EQ(store.settings().illumination, 6);
  // The fixed block carries no timestamp settings.
  EXPECT_EQ(store.settings().stampEnabled, GetParam().level != 17);
}

INSTANTIATE_TEST_SUITE_P(Forms, ExchangeTest,
                         ::testing::Values(Form{vel::LinkKind::Packet, 18}, Form{vel::LinkKind::Packet, 17},
                                           Form{vel::LinkKind::Direct, 18}, Form{vel::LinkKind::Direct, 17}),
                         [](const ::testing::TestParamInfo<Form>& info) {
                           return std::string(info.param.kind == vel::LinkKind::Packet ? "Packet" : "Direct") +
                                  (info.param.level == 17 ? "Fixed" : "Tagged");
                         });

TEST(ExchangeWithoutConnection, AllThreeAnswerZeroAndLeaveTheRecord) {
  ASSERT_EQ(vel::library().connection(), nullptr);
  vel::ApplyFactoryDefaults(vel::deviceConfiguration());
  VelSetGain(1234);
  EXPECT_EQ(VelGetDeviceConfiguration(), 0);
  EXPECT_EQ(VelSetTemporaryDeviceConfiguration(), 0);
  EXPECT_EQ(VelSetPermanentDeviceConfiguration(), 0);
  EXPECT_EQ(VelGetGain(), 1234);
}
