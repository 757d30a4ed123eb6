// The four host settings in the per-machine store: a missing store reads as the
// defaults and refuses writes without being created; a present one round-trips.
// Windows: the real registry key (created and deleted by the test).
// Elsewhere: the settings file named by VEL_HOST_SETTINGS.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ImgEngine.h"
#include "config/DeviceConfiguration.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#endif

namespace {

#ifdef _WIN32
constexpr const char* kKey = "Software\\Velmora";

class HostSettings : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  static bool storeExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  static void createStore() {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  // Type and bytes of a value as stored.
  static bool rawValue(const char* name, DWORD* type, std::string* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char buffer[1024];
    DWORD size = sizeof buffer;
    const LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    data->assign(buffer, size);
    return true;
  }
  static void putRawString(const char* name, const std::string& text) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
    RegCloseKey(key);
  }
};
#else
class HostSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velhostXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/host-settings";
    setenv("VEL_HOST_SETTINGS", path_.c_str(), 1);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  bool storeExists() const { return access(path_.c_str(), F_OK) == 0; }
  void createStore(const std::string& content = "") const { std::ofstream(path_) << content; }
  std::string storeText() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_, path_;
};
#endif

}  // namespace

TEST_F(HostSettings, MissingStoreReadsDefaultsAndRefusesWrites) {
  EXPECT_EQ(VelGetAutoSaveEnabled(), 0);
  EXPECT_EQ(VelGetHostPerspectiveCorrectionEnabled(), 0);
  EXPECT_EQ(VelGetPerspectiveDisplay(), 0);
  EXPECT_STREQ(VelGetImageSourceFolder(), ".\\");
  EXPECT_EQ(VelSetAutoSaveEnabled(1), 2);
  EXPECT_EQ(VelSetHostPerspectiveCorrectionEnabled(1), 2);
  EXPECT_EQ(VelSetPerspectiveDisplay(1), 2);
  EXPECT_EQ(VelSetImageSourceFolder("C:\\images", 0), 0);
  EXPECT_STREQ(VelGetImageSourceFolder(), ".\\");
  VelSetFactoryDefaultConfiguration();
  EXPECT_FALSE(storeExists()) << "neither reads nor writes create the store";
}

TEST_F(HostSettings, SwitchesRoundTripAsTheLowByte) {
  createStore();
  EXPECT_EQ(VelSetAutoSaveEnabled(1), 0);
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
  EXPECT_EQ(VelSetHostPerspectiveCorrectionEnabled(256), 0);
  EXPECT_EQ(VelGetHostPerspectiveCorrectionEnabled(), 0);
  EXPECT_EQ(VelSetHostPerspectiveCorrectionEnabled(0x1FF), 0);
  EXPECT_EQ(VelGetHostPerspectiveCorrectionEnabled(), 1);
  EXPECT_EQ(VelSetPerspectiveDisplay(7), 0);
  EXPECT_EQ(VelGetPerspectiveDisplay(), 1);
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1) << "values are independent";
#ifdef _WIN32
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(rawValue("PerspectiveDisplay", &type, &data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0], 7);
  ASSERT_TRUE(rawValue("HostPerspectiveCorrection", &type, &data));
  EXPECT_EQ(static_cast<uint8_t>(data[0]), 0xFF);
#endif
}

TEST_F(HostSettings, FolderKeepsExactlyOneTrailingBackslash) {
  createStore();
  EXPECT_EQ(VelSetImageSourceFolder("C:\\images", 12345), 1);
  EXPECT_STREQ(VelGetImageSourceFolder(), "C:\\images\\");
  EXPECT_EQ(VelSetImageSourceFolder("D:\\scans\\", 0), 1);
  EXPECT_STREQ(VelGetImageSourceFolder(), "D:\\scans\\");
#ifdef _WIN32
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(rawValue("AutoSaveFolder", &type, &data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  // The library passes the text without its NUL; Wine's registry appends one
  // itself, Windows stores the bytes as given.
  if (!data.empty() && data.back() == '\0') data.pop_back();
  EXPECT_EQ(data, std::string("D:\\scans\\"));
  // A value written by someone else with its NUL reads the same.
  putRawString("AutoSaveFolder", std::string("E:\\x", 5));
  EXPECT_STREQ(VelGetImageSourceFolder(), "E:\\x\\");
#else
  EXPECT_NE(storeText().find("AutoSaveFolder=S:D:\\scans\\\n"), std::string::npos) << storeText();
#endif
}

TEST_F(HostSettings, OverlongFoldersStayInsideTheBuffer) {
  createStore();
  const std::string longPath(400, 'p');
  ASSERT_EQ(VelSetImageSourceFolder(longPath.c_str(), 0), 1);
  const std::string got = VelGetImageSourceFolder();
  EXPECT_EQ(got.size(), 260u);
  EXPECT_EQ(got, std::string(259, 'p') + "\\");
  // A stored text of exactly 260 characters without a backslash gets one appended.
#ifdef _WIN32
  putRawString("AutoSaveFolder", std::string(260, 'q'));
#else
  createStore("AutoSaveFolder=S:" + std::string(260, 'q') + "\n");
#endif
  EXPECT_EQ(std::string(VelGetImageSourceFolder()), std::string(260, 'q') + "\\");
  // Longer than the 260 bytes read: it cannot be read and counts as missing.
#ifdef _WIN32
  putRawString("AutoSaveFolder", std::string(300, 'r'));
#else
  createStore("AutoSaveFolder=S:" + std::string(300, 'r') + "\n");
#endif
  EXPECT_STREQ(VelGetImageSourceFolder(), ".\\");
}

TEST_F(HostSettings, FactoryDefaultsAndPreMovieUseTheStore) {
#ifndef _WIN32
  createStore("Unrelated=D:5\n");
#else
  createStore();
#endif
  VelSetAutoSaveEnabled(1);
  VelSetImageSourceFolder("/srv/img", 0);
  VelSetPerspectiveDisplay(1);
  VelSetFactoryDefaultConfiguration();
  EXPECT_EQ(VelGetAutoSaveEnabled(), 0);
  EXPECT_STREQ(VelGetImageSourceFolder(), ".\\");
  EXPECT_EQ(VelGetPerspectiveDisplay(), 0);
#ifndef _WIN32
  EXPECT_NE(storeText().find("Unrelated=D:5\n"), std::string::npos) << "other lines are kept";
#endif

  VelSetAutoSaveEnabled(1);
  VelSavePreMovieSettings();
  EXPECT_EQ(VelGetAutoSaveEnabled(), 0);
  VelRestorePreMovieSettings();
  EXPECT_EQ(VelGetAutoSaveEnabled(), 1);
}
