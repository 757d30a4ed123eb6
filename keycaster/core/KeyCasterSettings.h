// The wedge's settings file: a binary record of 64 bytes despite its ".ini" name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keycaster {

constexpr size_t kSettingsBytes = 64;
constexpr const char* kSettingsFileName = "KeyCaster.ini";

struct KeyCasterSettings {
  uint8_t sourceIndex = 6;            // 0-5 COM1-COM6, 6 USB Ver 1.0, 7 USB Ver 2.0
  uint8_t sendReturn = 0;
  uint8_t windowModeCrLf = 0;
  uint8_t shiftCodePage = 0;
  uint8_t autoRun = 0;
  uint8_t forceUpcAToEan13 = 0;
  uint8_t delayIndex = 0;             // 0-5
  uint8_t controlCodeDelayIndex = 2;  // 0-6 (2 = 100 ms)
  uint8_t reserved[56] = {};          // written back as read

  void toBytes(uint8_t out[kSettingsBytes]) const;
  // Overlays the first n bytes (at most 64) onto the record; the rest keeps its value.
  void overlay(const uint8_t* bytes, size_t n);
  // Values the dialog can show: out-of-range indices fall back to their defaults,
  // switches become 0 or 1. Reserved bytes are untouched.
  KeyCasterSettings sanitized() const;
};

// Reads the file; a missing file is created at once with the defaults. A file shorter
// than 64 bytes is read as far as it goes.
KeyCasterSettings LoadSettings(const std::string& path);
// Creates or truncates the file and writes the 64 bytes; false when it cannot.
bool SaveSettings(const std::string& path, const KeyCasterSettings& settings);

}  // namespace keycaster
