// The configuration file reader: any text read into a record and host settings as
// a load does. What the library then writes must read back to the same file.
#include <string>
#include <string_view>

#include "config/ConfigurationFile.h"
#include "config/IniReader.h"

namespace {

std::string loadedAndWritten(std::string_view text, vel::configfile::HostValues& host) {
  vel::ini::Document file;
  file.parse(text);
  vel::DeviceConfiguration record{};
  vel::ApplyFactoryDefaults(record);
  vel::configfile::readDevice(file, record);
  vel::configfile::readHost(file, host);
  return vel::configfile::text(record, host);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vel::configfile::HostValues host;
  const std::string first = loadedAndWritten(std::string_view(reinterpret_cast<const char*>(data), size), host);
  if (host.folder.size() > vel::configfile::kLongestFolder) __builtin_trap();
  // A folder holding both quote marks cannot be written so that it reads back.
  if (host.folder.find('"') != std::string::npos && host.folder.find('\'') != std::string::npos) return 0;
  vel::configfile::HostValues again;
  if (loadedAndWritten(first, again) != first) __builtin_trap();
  return 0;
}
