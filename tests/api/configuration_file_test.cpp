// Configuration files through the exports: save and load give back every
// setting the file carries and store it in the simulated imager; the reading
// rules of each key; host settings; files that cannot be written or read; and,
// natively, the saved file read by Python's configparser as a second reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ImgEngine.h"
#include "SimulatedImagerFixture.h"
#include "config/ConfigurationFile.h"
#include "config/DeviceConfiguration.h"
#include "config/IniReader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

using vel::DeviceConfiguration;
using vel::deviceConfiguration;

constexpr const char* kFile = "configuration_file_test.ini";

// An empty per-machine store for the host settings, removed afterwards.
class HostStore {
 public:
#ifdef _WIN32
  HostStore() {
    HKEY key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
  }
  ~HostStore() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }

 private:
  static constexpr const char* kKey = "Software\\Velmora";
#else
  HostStore() {
    char dir[] = "/tmp/velconfigXXXXXX";
    if (mkdtemp(dir)) dir_ = dir;
    path_ = dir_ + "/host-settings";
    setenv("VEL_HOST_SETTINGS", path_.c_str(), 1);
    std::ofstream{path_};
  }
  ~HostStore() {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }

 private:
  std::string dir_, path_;
#endif
};

std::string fileText(const char* path = kFile) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& text, const char* path = kFile) {
  std::ofstream(path, std::ios::binary) << text;
}

// Loads a CorvidConfig section of the given lines; answers the record.
const DeviceConfiguration& loadDevice(const std::string& lines) {
  writeFile("[CorvidConfig]\n" + lines);
  EXPECT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
  return deviceConfiguration();
}

class ConfigurationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    VelDeviceDisconnect();
    vel::ApplyFactoryDefaults(deviceConfiguration());
  }
  void TearDown() override { std::remove(kFile); }
  HostStore store_;
};

// A record in which every field the file carries is off its factory value.
DeviceConfiguration changedRecord() {
  DeviceConfiguration r;
  vel::ApplyFactoryDefaults(r);
  r.windowX = 16;
  r.windowY = 8;
  r.windowWidth = 640;
  r.windowHeight = 480;
  r.integrationTime = 1234;
  r.gain = 4321;
  r.log2SubsamplingFactor = 2;
  r.illuminationSetting = 3;
  r.noiseLevel = 40;
  r.lowExtremeIndex = 10;
  r.highExtremeIndex = 20;
  r.thresholdBias = -17;
  r.optionFlags = static_cast<uint16_t>(~0x0D69 & 0x3FEF);  // every file bit flipped, bit 4 off
  r.presentationModeCycleTime = 9;
  r.aeRegionX = 100;
  r.aeRegionY = 200;
  r.aeRegionWidth = 300;
  r.aeRegionHeight = 400;
  r.maximumAutoExposureGain = 5000;
  r.maximumAutoExposureIntegrationTime = 6000;
  r.maximumAutoExposureIlluminationLevel = 4;
  r.maxNumberOfBarcodes = 5;
  r.numberOfBarcodesMustDecode = 2;
  r.maxNumberOfCapturesOnTriggerDown = 7;
  r.decoderTimeout = 900;
  r.imageRotationDegree = 270;
  r.imageSoftwareSubsampling = 250;
  r.barcodeEnableLow = ~0x9100220Cu;
  r.barcodeEnableHigh = (~0x10u & 0x800000EFu) | 0x10u | (1u << 7);  // bit 36 stays on, perspective on
  r.perspectiveCorrectionEnabled = 1;
  r.imageCorrectionFlags = 0x31;
  r.noiseFilterPass1Threshold = 21;
  r.noiseFilterPass2Threshold = 6;
  r.gaussWidth = 91;
  r.gaussFlatArea = 92;
  r.gammaFactor = 18;
  r.sharpenImageWeight = 71;
  r.histogramMode = 3;
  r.histogramLowBound = 1;
  r.histogramHighBound = 254;
  r.histogramBrightness = 100;
  r.histogramContrast = 110;
  r.hsvHueAdjust = -300;
  r.hsvSaturationAdjust = 300;
  r.hsvValueAdjust = 310;
  r.fwImageCompressedEnabled = 1;
  r.imageCompressedQuality = 60;
  r.timestampEnabled = 1;
  r.timestampColor = 2;
  r.timestampDateOnly = 1;
  r.timestampDateFormat = 3;
  vel::SetTimestampLocation(r, 2);
  // Not in the file: these come back at their factory values.
  r.orderingFlags = 0x21;
  r.barcodeTypeOrderList[0] = 5;
  r.prefixSuffix[3].prefixLength = 1;
  r.prefixSuffix[3].prefix[0] = '>';
  r.timestampOption = 1;
  r.timestampParameter = 9;
  return r;
}

void expectCarriedFields(const DeviceConfiguration& got, const DeviceConfiguration& want) {
  vel::configfile::HostValues host;
  EXPECT_EQ(vel::configfile::text(got, host), vel::configfile::text(want, host));
  EXPECT_EQ(got.gain, want.gain);
  EXPECT_EQ(got.integrationTime, want.integrationTime);
  EXPECT_EQ(got.thresholdBias, want.thresholdBias);
  EXPECT_EQ(got.hsvHueAdjust, want.hsvHueAdjust);
  EXPECT_EQ(got.optionFlags, want.optionFlags);
  EXPECT_EQ(got.barcodeEnableLow, want.barcodeEnableLow);
  EXPECT_EQ(got.barcodeEnableHigh, want.barcodeEnableHigh);
  EXPECT_EQ(got.imageCorrectionFlags, want.imageCorrectionFlags);
  EXPECT_EQ(got.histogramMode, want.histogramMode);
  EXPECT_EQ(got.sharpenImageWeight, want.sharpenImageWeight);
  EXPECT_EQ(got.timestampLocation, want.timestampLocation);
  EXPECT_EQ(got.timestampAnchorX, want.timestampAnchorX);
  EXPECT_EQ(got.timestampAnchorY, want.timestampAnchorY);
  EXPECT_EQ(got.perspectiveCorrectionEnabled, 1);
}

void expectFactoryOutsideTheFile(const DeviceConfiguration& got) {
  DeviceConfiguration factory;
  vel::ApplyFactoryDefaults(factory);
  EXPECT_EQ(got.orderingFlags, factory.orderingFlags);
  EXPECT_EQ(0, std::memcmp(got.barcodeTypeOrderList, factory.barcodeTypeOrderList, sizeof got.barcodeTypeOrderList));
  EXPECT_EQ(0, std::memcmp(got.prefixSuffix, factory.prefixSuffix, sizeof got.prefixSuffix));
  EXPECT_EQ(got.timestampOption, factory.timestampOption);
  EXPECT_EQ(got.timestampParameter, factory.timestampParameter);
  EXPECT_TRUE(vel::testBit(got.barcodeEnableHigh, 36 - 32));
}

class ConfigurationFileRoundTrip : public ::testing::TestWithParam<uint32_t> {
 protected:
  void TearDown() override { std::remove(kFile); }
  HostStore store_;
};

TEST_P(ConfigurationFileRoundTrip, SaveThenLoadGivesBackEverySettingAndStoresItInTheImager) {
  sim::ImagerIdentity id;
  id.linkLevel = GetParam();
  simimager::SimulatedImager imager(simimager::Line::Serial, id);
  ASSERT_EQ(imager.connect(), 1);

  const DeviceConfiguration original = changedRecord();
  deviceConfiguration() = original;
  ASSERT_EQ(VelSetAutoSaveEnabled(1), 0);
  ASSERT_EQ(VelSetImageSourceFolder("D:\\scans\\today", 0), 1);
  ASSERT_EQ(VelSetHostPerspectiveCorrectionEnabled(1), 0);
  ASSERT_EQ(VelSetPerspectiveDisplay(1), 0);
  ASSERT_EQ(VelSaveCurrentConfigurations(kFile), 0);
  EXPECT_EQ(imager.commands().permanentWrites(), 0) << "save reads and writes nothing on the link";

  vel::ApplyFactoryDefaults(deviceConfiguration());
  VelSetAutoSaveEnabled(0);
  VelSetImageSourceFolder("C:\\elsewhere", 0);
  VelSetHostPerspectiveCorrectionEnabled(0);
  VelSetPerspectiveDisplay(0);

  ASSERT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
  const DeviceConfiguration& got = deviceConfiguration();
  expectCarriedFields(got, original);
  expectFactoryOutsideTheFile(got);
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
  EXPECT_STREQ(VelGetImageSourceFolder(), "D:\\scans\\today\\");
  EXPECT_EQ(VelGetHostPerspectiveCorrectionEnabled(), 1);
  EXPECT_EQ(VelGetPerspectiveDisplay(), 1);
  EXPECT_EQ(got.autoSaveEnabled, 1);
  EXPECT_STREQ(got.imageSourceFolder, "D:\\scans\\today\\");
  EXPECT_EQ(got.hostPerspectiveCorrectionEnabled, 1);
  EXPECT_EQ(got.hostPerspectiveDisplayPopUp, 1);

  // The imager's permanent store holds the loaded settings (the fixed block of
  // level 17 carries fewer of them). The write is not answered: a query after it is.
  EXPECT_GE(VelGetCalibrationStatus(), 1);
  EXPECT_EQ(imager.commands().permanentWrites(), 1);
  const sim::ImagerSettings& s = imager.store().settings();
  EXPECT_EQ(s.window, (std::array<uint16_t, 4>{16, 8, 640, 480}));
  EXPECT_EQ(s.integration, 1234);
  EXPECT_EQ(s.gain, 4321);
  EXPECT_EQ(s.threshold, -17);
  EXPECT_EQ(s.symbologies, vel::symbologyFlags(original));
  EXPECT_EQ(s.ordering, (std::array<bool, 6>{}));
  EXPECT_EQ(s.option[vel::kOptBeeper], vel::testBit(original.optionFlags, vel::kOptBeeper));
  if (GetParam() == 18) {
    EXPECT_EQ(s.hue, -300);
    EXPECT_EQ(s.rotation, 270);
    EXPECT_EQ(s.histogramMode, 3);
    EXPECT_EQ(s.stampLocation, 2);
    EXPECT_TRUE(s.perspective);
  }
}

INSTANTIATE_TEST_SUITE_P(LinkLevels, ConfigurationFileRoundTrip, ::testing::Values(17u, 18u));

TEST_F(ConfigurationFile, SavedTextHasTheSectionsKeysAndLineEnds) {
  ASSERT_EQ(VelSetImageSourceFolder(".\\", 0), 1);
  ASSERT_EQ(VelSaveCurrentConfigurations(kFile), 0);
  const std::string text = fileText();
#ifdef _WIN32
  const std::string nl = "\r\n";
#else
  const std::string nl = "\n";
#endif
  EXPECT_EQ(text.rfind("[ConfigDescriptor]" + nl + "Comments=" + nl + "[CorvidConfig]" + nl + "WindowX=0" + nl +
                           "WindowY=0" + nl + "WindowWidth=1280" + nl + "WindowHeight=1024" + nl +
                           "IntergationTime=26169" + nl + "Gain=5120" + nl + "log2SubsamplingFactor=1" + nl,
                       0),
            0u);
  for (const char* line : {"DataMatrixSmallPhysicalSizEnabled=0", "HsvAdjustementEnabled=0", "PostalKix=0",
                           "All1dCodesStrongRecoveryEnabled=0", "ImageCorrectionHistogramAutomatic=1",
                           "ImageCorrectionHistogramUsesBounds=0", "TimestampLocation=4", "CaptureBinaryImage=0"}) {
    EXPECT_NE(text.find(nl + line + nl), std::string::npos) << line;
  }
  // The folder goes without its trailing backslash, so that no reader joins lines.
  EXPECT_NE(text.find(nl + "[HostConfig]" + nl + "AutoSaveEnabled=0" + nl + "ImageSourceFolder=." + nl +
                      "HostPerspectiveCorrectionEnabled=0" + nl + "HostPerspectiveDisplayPopUp=0" + nl),
            std::string::npos);
  EXPECT_EQ(text.size() - text.rfind("HostPerspectiveDisplayPopUp=0" + nl), std::strlen("HostPerspectiveDisplayPopUp=0") + nl.size());
}

TEST_F(ConfigurationFile, EachKeyIsReadByItsRule) {
  const DeviceConfiguration& r = loadDevice(
      "log2SubsamplingFactor=4\nImageRotationDegree=45\nTimestampLocation=7\n"
      "ImageCorrectionHistogramAutomatic=1\nImageCorrectionHistogramUsesBounds=1\n"
      "CaptureBinaryImage=1\nWINDOWX=10\nGain = 300 ; the sensor gain\nBeeperEnabled=0\n"
      "ThresholdBias=200\nHsvHueAdjust=-300\nWindowY=65537\nDecoderTimeout=abc\n"
      "VelmoraPerspectiveLiftEnabled=5\nTimestampEnabled=2\nImageCorrectionSharpenImageWeight=300\n");
  EXPECT_EQ(r.log2SubsamplingFactor, 2);
  EXPECT_EQ(r.imageRotationDegree, 0);
  EXPECT_EQ(r.timestampLocation, 4);
  EXPECT_EQ(r.timestampAnchorX, 0xFFFF);
  EXPECT_EQ(r.timestampAnchorY, 0);
  EXPECT_EQ(r.histogramMode, 2);
  EXPECT_FALSE(vel::testBit(r.optionFlags, vel::kOptCaptureBinaryImage));
  EXPECT_EQ(r.windowX, 10);
  EXPECT_EQ(r.gain, 300);
  EXPECT_FALSE(vel::testBit(r.optionFlags, vel::kOptBeeper)) << "0 clears a switch that is on by default";
  EXPECT_EQ(r.thresholdBias, -56);
  EXPECT_EQ(r.hsvHueAdjust, -300);
  EXPECT_EQ(r.windowY, 1);
  EXPECT_EQ(r.decoderTimeout, 0);
  EXPECT_TRUE(vel::testBit(r.barcodeEnableHigh, vel::kSymbologyPerspectiveBit - 32));
  EXPECT_EQ(r.perspectiveCorrectionEnabled, 1);
  EXPECT_EQ(r.timestampEnabled, 1);
  EXPECT_EQ(r.sharpenImageWeight, 44u);

  // The factor's low byte, and the range rules on the full value read.
  struct Case {
    const char* line;
    int subsampling, rotation, location;
  } cases[] = {
      {"log2SubsamplingFactor=3\nImageRotationDegree=180\nTimestampLocation=3\n", 0, 180, 3},
      {"log2SubsamplingFactor=8\nImageRotationDegree=65626\nTimestampLocation=258\n", 3, 0, 4},
      {"log2SubsamplingFactor=264\nImageRotationDegree=90\nTimestampLocation=1\n", 3, 90, 1},
      {"log2SubsamplingFactor=2\nImageRotationDegree=-90\nTimestampLocation=0\n", 1, 0, 4},
  };
  for (const Case& c : cases) {
    loadDevice(c.line);
    EXPECT_EQ(r.log2SubsamplingFactor, c.subsampling) << c.line;
    EXPECT_EQ(r.imageRotationDegree, c.rotation) << c.line;
    EXPECT_EQ(r.timestampLocation, c.location) << c.line;
  }
  loadDevice("ImageCorrectionHistogramAutomatic=0\nImageCorrectionHistogramUsesBounds=0\n");
  EXPECT_EQ(r.histogramMode, 1);
  loadDevice("ImageCorrectionHistogramUsesBrightnessContrast=1\nImageCorrectionHistogramAutomatic=1\n");
  EXPECT_EQ(r.histogramMode, 3) << "read in the key order, whatever the line order";
}

TEST_F(ConfigurationFile, SubsamplingFactorsAreWrittenForEveryFieldValue) {
  for (int field = 0; field < 256; ++field) {
    deviceConfiguration().log2SubsamplingFactor = static_cast<uint8_t>(field);
    ASSERT_EQ(VelSaveCurrentConfigurations(kFile), 0);
    ASSERT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
    EXPECT_EQ(deviceConfiguration().log2SubsamplingFactor, field < 3 ? field : 3) << field;
  }
}

TEST_F(ConfigurationFile, HostSettingsMissingFromTheFileKeepTheirCurrentValues) {
  ASSERT_EQ(VelSetImageSourceFolder("E:\\keep", 0), 1);
  ASSERT_EQ(VelSetAutoSaveEnabled(1), 0);
  ASSERT_EQ(VelSetPerspectiveDisplay(1), 0);
  loadDevice("Gain=77\n");
  EXPECT_EQ(deviceConfiguration().gain, 77);
  EXPECT_STREQ(VelGetImageSourceFolder(), "E:\\keep\\");
  EXPECT_STREQ(deviceConfiguration().imageSourceFolder, "E:\\keep\\");
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
  EXPECT_EQ(deviceConfiguration().autoSaveEnabled, 1);
  EXPECT_EQ(VelGetPerspectiveDisplay(), 1);

  writeFile("[HostConfig]\nAutoSaveEnabled=0\n");
  ASSERT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
  EXPECT_EQ(VelGetAutoSaveEnabled(), 0);
  EXPECT_EQ(VelGetPerspectiveDisplay(), 1);
  EXPECT_STREQ(VelGetImageSourceFolder(), "E:\\keep\\");
}

TEST_F(ConfigurationFile, FoldersRoundTripThroughAnyReader) {
  for (const char* folder : {"D:\\a;b#c  \\", " lead\\", "'quoted\\", "C:\\plain\\", "\\", ".\\", "C:\\two\\\\",
                             "\\\\", "tab\t\\"}) {
    ASSERT_EQ(VelSetImageSourceFolder(folder, 0), 1);
    ASSERT_EQ(VelSaveCurrentConfigurations(kFile), 0);
    ASSERT_EQ(VelSetImageSourceFolder("X:\\other", 0), 1);
    ASSERT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
    EXPECT_STREQ(VelGetImageSourceFolder(), folder);
    EXPECT_STREQ(deviceConfiguration().imageSourceFolder, folder);
  }
  // One limit for the record and the host setting: a folder of up to 260
  // characters with its backslash loads into both; a longer one is ignored by
  // both, and the rest of the file still loads.
  for (size_t length : {259u, 260u, 261u, 265u, 266u}) {
    ASSERT_EQ(VelSetImageSourceFolder("C:\\current", 0), 1);
    ASSERT_EQ(VelSetAutoSaveEnabled(0), 0);
    const std::string folder(length - 1, 'f');
    writeFile("[CorvidConfig]\nGain=9\n[HostConfig]\nImageSourceFolder=" + folder + "\nAutoSaveEnabled=1\n");
    ASSERT_EQ(VelLoadAndDeployConfigurations(kFile), 1);
    const std::string loaded = length <= 260 ? folder + "\\" : "C:\\current\\";
    EXPECT_EQ(VelGetImageSourceFolder(), loaded) << length;
    EXPECT_EQ(deviceConfiguration().imageSourceFolder, loaded) << length;
    EXPECT_EQ(deviceConfiguration().gain, 9);
    EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
  }
}

TEST_F(ConfigurationFile, FilesThatCannotBeWrittenOrReadChangeNothing) {
  EXPECT_EQ(VelSaveCurrentConfigurations(nullptr), -1);
  EXPECT_EQ(VelSaveCurrentConfigurations("no-such-directory/file.ini"), -1);
  EXPECT_EQ(VelSaveCurrentConfigurations(""), -1);
  deviceConfiguration().gain = 1234;
  ASSERT_EQ(VelSetAutoSaveEnabled(1), 0);
  EXPECT_EQ(VelLoadAndDeployConfigurations(nullptr), 0);
  EXPECT_EQ(VelLoadAndDeployConfigurations("no-such-directory/file.ini"), 0);
  EXPECT_EQ(deviceConfiguration().gain, 1234) << "a mistyped path keeps the configuration";
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
  // Without a connection the file is loaded and nothing reaches an imager.
  loadDevice("");
  EXPECT_EQ(deviceConfiguration().gain, 5120);
}

#ifndef _WIN32
// A save whose write comes back short answers -1 and leaves the previous file as
// it was, with nothing else beside it; the next save replaces it.
TEST_F(ConfigurationFile, AFailedSaveKeepsThePreviousFile) {
  char dir[] = "/tmp/velsaveXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/saved.ini";
  ASSERT_EQ(VelSaveCurrentConfigurations(path.c_str()), 0);
  const std::string previous = fileText(path.c_str());
  deviceConfiguration().gain = 77;
  const std::vector<int> results = childprocess::run([&] {
    if (!childprocess::limitFileSize(1024)) return std::vector<int>{};
    return std::vector<int>{VelSaveCurrentConfigurations(path.c_str())};
  });
  EXPECT_EQ(results, std::vector<int>{-1});
  EXPECT_EQ(fileText(path.c_str()), previous);
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) found.push_back(entry.path().filename());
    return found;
  };
  EXPECT_EQ(names(), std::vector<std::string>{"saved.ini"});
  ASSERT_EQ(VelSaveCurrentConfigurations(path.c_str()), 0);
  EXPECT_NE(fileText(path.c_str()).find("\nGain=77\n"), std::string::npos);
  EXPECT_EQ(names(), std::vector<std::string>{"saved.ini"});
  std::filesystem::remove_all(dir);
}

// Python's configparser reads the saved file to the same entries as our reader.
TEST_F(ConfigurationFile, PythonConfigparserReadsTheSavedFileAlike) {
  deviceConfiguration() = changedRecord();
  ASSERT_EQ(VelSetImageSourceFolder("/srv/images", 0), 1);
  ASSERT_EQ(VelSaveCurrentConfigurations(kFile), 0);
  const std::string command = std::string("python3 -c \"import configparser,sys\n"
                                          "p=configparser.RawConfigParser()\n"
                                          "p.optionxform=str\n"
                                          "p.read(sys.argv[1])\n"
                                          "[print(s+'|'+k+'|'+v) for s in p.sections() for k,v in p[s].items()]\" ") +
                              kFile;
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  vel::ini::Document ours;
  ASSERT_TRUE(ours.load(kFile));
  std::map<std::string, std::string> theirs;
  char line[1100];
  int entries = 0;
  while (std::fgets(line, sizeof line, out)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t a = text.find('|'), b = text.find('|', a + 1);
    ASSERT_NE(b, std::string::npos) << text;
    const std::string section = text.substr(0, a), key = text.substr(a + 1, b - a - 1), value = text.substr(b + 1);
    const std::string* mine = ours.find(section, key);
    EXPECT_TRUE(mine && *mine == value) << section << ":" << key << " configparser '" << value << "'";
    theirs[key] = value;
    ++entries;
  }
  EXPECT_EQ(pclose(out), 0);
  EXPECT_EQ(entries, 1 + 109 + 4);  // Comments, the device keys, the host keys
  EXPECT_EQ(theirs["IntergationTime"], "1234");
  EXPECT_EQ(theirs["ThresholdBias"], "-17");
  EXPECT_EQ(theirs["HsvHueAdjust"], "-300");
  EXPECT_EQ(theirs["log2SubsamplingFactor"], "4");
  EXPECT_EQ(theirs["ImageCorrectionHistogramUsesBrightnessContrast"], "1");
  EXPECT_EQ(theirs["VelmoraPerspectiveLiftEnabled"], "1");
  EXPECT_EQ(theirs["TimestampLocation"], "2");
  EXPECT_EQ(theirs["ImageSourceFolder"], "/srv/images");
  EXPECT_EQ(theirs["Comments"], "");
}
#endif

}  // namespace
