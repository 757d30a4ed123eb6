// The timestamp record: a snapshot of the image options and of the local time,
// taken before captures and at the start of an auto-save. It gives the capture
// timestamp string, the auto-save path and what drawing the timestamp needs.
#pragma once

#include <cstdint>

#include "base/Sync.h"
#include "config/DeviceConfiguration.h"
#include "platform/LocalTime.h"

namespace vel {

constexpr size_t kTimestampStringBytes = 48;
constexpr size_t kAutoSavePathBytes = 256;
constexpr uint16_t kPlacementFar = 0xFFFF;  // bottom, or right

struct TimestampRecord {
  // Local time in binary-coded decimal: century, year, month, day, hour, minute, second.
  uint8_t timeDigits[7];
  char timestamp[kTimestampStringBytes];  // "2005-09-14 10-20-30"
  uint8_t dateFormat;
  uint8_t fixedValue;  // always 3
  uint8_t color;       // 0: black digits on white; other: white on black
  uint8_t compressionQuality;
  uint8_t location;
  uint8_t subsamplingFactor;
  uint16_t verticalPlacement;    // 0 top, kPlacementFar bottom
  uint16_t horizontalPlacement;  // 0 left, kPlacementFar right
  // The auto-save folder followed by the timestamp string, without extension;
  // empty when the two do not fit (a cut name would be another file's).
  char autoSavePath[kAutoSavePathBytes];
  uint8_t timestampEnabled;
  uint8_t dateOnly;
  uint8_t perspectiveCorrectionEnabled;
  uint8_t imageCompressionEnabled;
  uint8_t autoSaveEnabled;
  uint8_t refreshArgument;
  uint8_t triggerCameraModeEnabled;
  uint8_t hostPerspectiveCorrection;
};

// The host-side options a record copies besides the configuration record.
struct HostImageOptions {
  bool autoSaveEnabled;
  bool hostPerspectiveCorrection;
  const char* autoSaveFolder;  // ends in a backslash
};

// A new record from the options, the refresh argument and a time.
TimestampRecord makeTimestampRecord(const DeviceConfiguration& configuration, const HostImageOptions& host,
                                    uint8_t argument, const platform::LocalTime& time);

// The library's record. A refresh builds a new record and swaps it in under the
// lock, so a reader never sees one half cleared; the string and path pointers
// stay valid and show the latest record.
class TimestampStore {
 public:
  void publish(const TimestampRecord& record);
  TimestampRecord snapshot();
  const char* timestampString() const { return record_.timestamp; }
  const char* autoSavePath() const { return record_.autoSavePath; }

 private:
  Mutex lock_;
  TimestampRecord record_{};
};

TimestampStore& timestampStore();  // one per library (core/LibraryStatics.cpp)

// Refreshes the library's record from the live options and the local time.
void refreshTimestampRecord(uint8_t argument);

}  // namespace vel
