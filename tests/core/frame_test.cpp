// Library frame: classification, version copies and the library-wide state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ImgEngine.h"
#include "core/LibraryState.h"

using namespace vel;

TEST(Classification, SensorVersions) {
  EXPECT_EQ(classifySensor(0x7FA29645u), kSensorOv9640);
  EXPECT_EQ(classifySensor(0x7FA2965Fu), kSensorOv9650);
  EXPECT_EQ(classifySensor(0x01ABCDEFu), kSensorPicocam);
  EXPECT_EQ(classifySensor(0x7FA29660u), kSensorStandard);
  EXPECT_EQ(classifySensor(0x7FA29630u), kSensorStandard);
  EXPECT_EQ(classifySensor(0x01A29645u), kSensorPicocam) << "the Picocam row is tested first";
  EXPECT_EQ(classifySensor(0), kSensorStandard);
}

TEST(Classification, ProcessorVersions) {
  EXPECT_EQ(classifyProcessor(0), kProcessorMx1);
  EXPECT_EQ(classifyProcessor(1), kProcessorSa1110);
  EXPECT_EQ(classifyProcessor(0xFFFFFFFFu), kProcessorSa1110);
}

TEST(Classification, QueriesReadTheLibraryState) {
  LibraryState& s = library();
  const int savedSensor = s.sensorType, savedProcessor = s.processorType;
  s.sensorType = kSensorOv9650;
  s.processorType = kProcessorSa1110;
  EXPECT_EQ(VelIsColorSensor(), 1);
  EXPECT_EQ(VelIsSensorTypeOv9650(), 1);
  EXPECT_EQ(VelIsSensorTypeOv9640(), 0);
  EXPECT_EQ(VelIsSensorTypeStandard(), 0);
  EXPECT_EQ(VelIsProcessorTypeSa1110(), 1);
  EXPECT_EQ(VelIsProcessorTypeMx1(), 0);
  s.sensorType = kSensorPicocam;
  EXPECT_EQ(VelIsColorSensor(), 0);
  EXPECT_EQ(VelIsSensorTypePicocam(), 1);
  s.sensorType = savedSensor;
  s.processorType = savedProcessor;
}

TEST(HostVersion, CopiesUpToTheMaximumWithTheTerminatingZero) {
  char buf[100];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(VelGetHostVersion(10, buf), 10);
  EXPECT_EQ(std::string(buf, 10), "V10.0 Buil");
  EXPECT_EQ(buf[10], '#') << "nothing beyond the count is written";

  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(VelGetHostVersion(100, buf), 37);
  EXPECT_STREQ(buf, "V10.0 Build 15, 13:00:26 Sep 14 2005");
  EXPECT_EQ(buf[37], '#');
}

TEST(HostVersion, ZeroOrNegativeMaximumCopiesNothing) {
  char buf[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(VelGetHostVersion(0, buf), 0);
  EXPECT_EQ(VelGetHostVersion(-1, buf), 0);
  EXPECT_EQ(VelGetHostVersion(-2147483647 - 1, buf), 0);
  EXPECT_EQ(std::string(buf, 4), "####");
}

TEST(FirmwareVersion, CopiesTheStoredTextWithoutTerminator) {
  VersionRecord& v = library().versions;
  const VersionRecord saved = v;
  std::memcpy(v.firmware, "FW 2.31", 7);
  v.firmwareLength = 7;
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(VelGetFirmwareVersion(0, buf), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(VelGetFirmwareVersion(-5, buf), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(VelGetFirmwareVersion(4, buf), 4);
  EXPECT_EQ(std::string(buf, 5), "FW 2#");
  EXPECT_EQ(VelGetFirmwareVersion(16, buf), 7);
  EXPECT_EQ(std::string(buf, 8), "FW 2.31#") << "no terminating zero is appended";
  v = saved;
}

TEST(LibraryState, VersionGettersAnswerZeroBeforeAConnect) {
  EXPECT_EQ(VelGetVisionProcessorVersion(), 0u);
  EXPECT_EQ(VelGetImageSensorVersion(), 0u);
  EXPECT_EQ(VelGetIlluminationBoardVersion(), 0u);
}
