#include "KeyCasterSettings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace keycaster {

void KeyCasterSettings::toBytes(uint8_t out[kSettingsBytes]) const {
  const uint8_t fields[8] = {sourceIndex, sendReturn, windowModeCrLf, shiftCodePage,
                             autoRun, forceUpcAToEan13, delayIndex, controlCodeDelayIndex};
  std::memcpy(out, fields, 8);
  std::memcpy(out + 8, reserved, sizeof reserved);
}

void KeyCasterSettings::overlay(const uint8_t* bytes, size_t n) {
  uint8_t all[kSettingsBytes];
  toBytes(all);
  if (n > kSettingsBytes) n = kSettingsBytes;
  if (n > 0) std::memcpy(all, bytes, n);
  sourceIndex = all[0];
  sendReturn = all[1];
  windowModeCrLf = all[2];
  shiftCodePage = all[3];
  autoRun = all[4];
  forceUpcAToEan13 = all[5];
  delayIndex = all[6];
  controlCodeDelayIndex = all[7];
  std::memcpy(reserved, all + 8, sizeof reserved);
}

KeyCasterSettings KeyCasterSettings::sanitized() const {
  const KeyCasterSettings defaults;
  KeyCasterSettings s = *this;
  if (s.sourceIndex > 7) s.sourceIndex = defaults.sourceIndex;
  if (s.delayIndex > 5) s.delayIndex = defaults.delayIndex;
  if (s.controlCodeDelayIndex > 6) s.controlCodeDelayIndex = defaults.controlCodeDelayIndex;
  s.sendReturn = s.sendReturn != 0;
  s.windowModeCrLf = s.windowModeCrLf != 0;
  s.shiftCodePage = s.shiftCodePage != 0;
  s.autoRun = s.autoRun != 0;
  s.forceUpcAToEan13 = s.forceUpcAToEan13 != 0;
  return s;
}

KeyCasterSettings LoadSettings(const std::string& path) {
  KeyCasterSettings settings;
  errno = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t bytes[kSettingsBytes];
    const size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    settings.overlay(bytes, n);
  } else if (errno == ENOENT) {
    // Only a missing file is created; one that exists but cannot be read is left alone.
    SaveSettings(path, settings);
  }
  return settings;
}

bool SaveSettings(const std::string& path, const KeyCasterSettings& settings) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  uint8_t bytes[kSettingsBytes];
  settings.toBytes(bytes);
  const bool written = std::fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
  return std::fclose(f) == 0 && written;
}

}  // namespace keycaster
