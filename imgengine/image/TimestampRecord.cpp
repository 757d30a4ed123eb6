#include "image/TimestampRecord.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/HostOptions.h"
#include "platform/Files.h"

namespace vel {

namespace {

uint8_t bcd(int value) { return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10)); }
uint8_t bit0(uint8_t value) { return value & 1; }

// The stored folder ends in a backslash; where paths join with another separator
// the library's own names use that one (".\" is "./" there).
std::string withPathSeparator(std::string folder) {
  if (platform::kPathSeparator == '\\' || folder.empty() || folder.back() != '\\') return folder;
  folder.pop_back();
  if (folder.empty() || folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
  return folder;
}

}  // namespace

TimestampRecord makeTimestampRecord(const DeviceConfiguration& c, const HostImageOptions& host, uint8_t argument,
                                    const platform::LocalTime& t) {
  TimestampRecord r{};
  r.dateFormat = c.timestampDateFormat;
  r.fixedValue = 3;
  r.color = c.timestampColor;
  r.compressionQuality = c.imageCompressedQuality;
  r.location = c.timestampLocation;
  r.subsamplingFactor = c.imageSoftwareSubsampling;
  r.timestampEnabled = bit0(c.timestampEnabled);
  r.dateOnly = bit0(c.timestampDateOnly);
  r.perspectiveCorrectionEnabled = bit0(c.perspectiveCorrectionEnabled);
  r.imageCompressionEnabled = bit0(c.fwImageCompressedEnabled);
  r.autoSaveEnabled = host.autoSaveEnabled ? 1 : 0;
  r.refreshArgument = argument;
  r.triggerCameraModeEnabled = (c.optionFlags >> kOptTriggerCameraMode) & 1;
  r.hostPerspectiveCorrection = host.hostPerspectiveCorrection ? 1 : 0;

  switch (r.location) {
    case 1: r.verticalPlacement = 0, r.horizontalPlacement = 0; break;
    case 2: r.verticalPlacement = 0, r.horizontalPlacement = kPlacementFar; break;
    case 4: r.verticalPlacement = kPlacementFar, r.horizontalPlacement = 0; break;
    default: r.verticalPlacement = kPlacementFar, r.horizontalPlacement = kPlacementFar; break;
  }

  std::snprintf(r.timestamp, sizeof r.timestamp, "%d-%02d-%02d %02d-%02d-%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  const char* folder = host.autoSaveFolder ? host.autoSaveFolder : "";
  const size_t folderLength = std::strlen(folder), stampLength = std::strlen(r.timestamp);
  if (folderLength + stampLength < sizeof r.autoSavePath) {
    std::memcpy(r.autoSavePath, folder, folderLength);
    std::memcpy(r.autoSavePath + folderLength, r.timestamp, stampLength + 1);
  }
  const int fields[7] = {t.year / 100, t.year % 100, t.month, t.day, t.hour, t.minute, t.second};
  for (int i = 0; i < 7; ++i) r.timeDigits[i] = bcd(fields[i]);
  return r;
}

void TimestampStore::publish(const TimestampRecord& record) {
  ScopedLock guard(lock_);
  record_ = record;
}

TimestampRecord TimestampStore::snapshot() {
  ScopedLock guard(lock_);
  return record_;
}

void refreshTimestampRecord(uint8_t argument) {
  // A folder of its own: the export's shared buffer belongs to the caller's thread.
  const std::string folder = withPathSeparator(hostoptions::readImageSourceFolder());
  const HostImageOptions host{hostoptions::readSwitch(hostoptions::kAutoSaved) != 0,
                              hostoptions::readSwitch(hostoptions::kHostPerspectiveCorrection) != 0,
                              folder.c_str()};
  // The operations' workers refresh too: the record is read under its lock, as connect
  // and the configuration exports write it under that lock from other threads.
  DeviceConfiguration configuration;
  {
    ScopedLock hold(configurationLock());
    configuration = deviceConfiguration();
  }
  timestampStore().publish(makeTimestampRecord(configuration, host, argument, platform::localTimeNow()));
}

}  // namespace vel
