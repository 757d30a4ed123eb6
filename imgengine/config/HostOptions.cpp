#include "config/HostOptions.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/HostSettings.h"

namespace vel::hostoptions {

const char* const kAutoSaved = "AutoSaved";
const char* const kHostPerspectiveCorrection = "HostPerspectiveCorrection";
const char* const kPerspectiveDisplay = "PerspectiveDisplay";

namespace {

constexpr const char* kAutoSaveFolder = "AutoSaveFolder";
// Up to kLongestFolder bytes are read from the store; the buffer also has room
// for the backslash that may be appended and the terminating NUL.
constexpr size_t kFolderReadBytes = kLongestFolder;
char g_folder[kFolderReadBytes + 2] = ".\\";

}  // namespace

int readSwitch(const char* name) {
  uint32_t value = 0;
  return platform::hostSettingsReadDword(name, &value) && value != 0 ? 1 : 0;
}

int writeSwitch(const char* name, int value) {
  return platform::hostSettingsWriteDword(name, static_cast<uint32_t>(value & 0xFF));
}

std::string readImageSourceFolder() {
  char read[kFolderReadBytes];
  const int n = platform::hostSettingsReadString(kAutoSaveFolder, read, sizeof read);
  if (n < 0) return ".\\";
  // The stored text may or may not carry its own terminating NUL.
  std::string folder(read, strnlen(read, static_cast<size_t>(n)));
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

const char* imageSourceFolder() {
  const std::string folder = readImageSourceFolder();
  std::memcpy(g_folder, folder.c_str(), folder.size() + 1);
  return g_folder;
}

bool setImageSourceFolder(const char* path) {
  if (!path) return false;
  // Keep room for the backslash so that the stored text reads back whole.
  char text[kFolderReadBytes + 2];
  size_t length = strnlen(path, kFolderReadBytes - 1);
  std::memcpy(text, path, length);
  if (length == 0 || text[length - 1] != '\\') text[length++] = '\\';
  text[length] = '\0';
  if (platform::hostSettingsWriteString(kAutoSaveFolder, text, length) != 0) return false;
  std::memcpy(g_folder, text, length + 1);
  return true;
}

}  // namespace vel::hostoptions
