// The host settings file as a machine may hold it (any bytes, written by hand or by
// another program) read and written through the settings store, and the port map's
// mapping texts it (or the environment) gives. The first byte chooses which.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzCursor.h"
#include "platform/HostSettings.h"
#include "transport/PortMap.h"

namespace {

// A settings file of this process only, named to the store once.
const std::string& settingsFile() {
  static const std::string path = [] {
    std::string p = "/tmp/vel-settings-fuzz-" + std::to_string(getpid());
    setenv("VEL_HOST_SETTINGS", p.c_str(), 1);
    return p;
  }();
  return path;
}

void hostSettings(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(settingsFile().c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  uint32_t dword = 0;
  vel::platform::hostSettingsReadDword("AutoSaved", &dword);
  char text[8];
  if (vel::platform::hostSettingsReadString("AutoSaveFolder", text, sizeof text) > static_cast<int>(sizeof text))
    std::abort();
  // What is written reads back, whatever else the file holds.
  const char folder[] = "/srv/images/";
  if (vel::platform::hostSettingsWriteString("AutoSaveFolder", folder, sizeof folder - 1) != 0) std::abort();
  char back[sizeof folder] = {};
  if (vel::platform::hostSettingsReadString("AutoSaveFolder", back, sizeof back) != static_cast<int>(sizeof folder - 1) ||
      std::memcmp(back, folder, sizeof folder - 1) != 0)
    std::abort();
  if (vel::platform::hostSettingsWriteDword("PerspectiveDisplay", 0x01020304) != 0) std::abort();
  if (!vel::platform::hostSettingsReadDword("PerspectiveDisplay", &dword) || dword != 0x01020304) std::abort();
}

void portMapping(const uint8_t* data, size_t size) {
  const vel::PortTarget target = vel::parsePortMapping(std::string(reinterpret_cast<const char*>(data), size));
  using Kind = vel::PortTarget::Kind;
  if (target.kind == Kind::kNetwork && (target.host.empty() || target.port == 0)) std::abort();
  if (target.kind == Kind::kDevice && target.device.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  if (in.byte() & 1) {
    portMapping(in.rest(), in.restSize());
  } else {
    hostSettings(in.rest(), in.restSize());
  }
  return 0;
}
