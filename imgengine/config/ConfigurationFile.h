// Configuration files: the host copy of the record and the host settings as INI
// text in three sections, "ConfigDescriptor" (an empty Comments key),
// "CorvidConfig" (the device settings, key by key in a fixed order and spelling,
// misspellings included: they are part of the format) and "HostConfig" (the four
// host settings).
#pragma once

#include <string>

#include "config/DeviceConfiguration.h"
#include "config/HostOptions.h"
#include "config/IniReader.h"

namespace vel::configfile {

// The four host settings as the file carries them; the folder ends in a backslash.
struct HostValues {
  int autoSave = 0;
  std::string folder = ".\\";
  int hostPerspectiveCorrection = 0;
  int perspectiveDisplay = 0;
};

// The longest folder a file may carry, its trailing backslash included: what the
// host settings keep whole, so that the record and the host setting agree (the
// record's field would hold a few more).
constexpr size_t kLongestFolder = hostoptions::kLongestFolder;
static_assert(kLongestFolder < kImageSourceFolderBytes, "the record holds every folder a file may carry");

// The whole file as text, each line ended by "\n".
std::string text(const DeviceConfiguration& record, const HostValues& host);
// Writes text() with the platform's line ends (CR LF on Windows) to a new file
// beside path and moves it over path. 0 when written and in place; -1 when it
// cannot be created, written, closed or moved, and path is then unchanged.
int write(const char* path, const DeviceConfiguration& record, const HostValues& host);

// Reads the CorvidConfig keys into record; a missing key leaves its field as it
// was (the caller starts from the factory defaults). CaptureBinaryImage is not read.
void readDevice(const ini::Document& file, DeviceConfiguration& record);
// Reads the HostConfig keys over host: a missing key, or a folder longer than
// the field, keeps what host holds. A folder read gets its trailing backslash.
void readHost(const ini::Document& file, HostValues& host);

// Held by a save or a load for its whole run: one at a time, library-wide.
Mutex& fileLock();

}  // namespace vel::configfile
