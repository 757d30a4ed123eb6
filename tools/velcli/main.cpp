// velcli: command-line front end over ImgEngine.
#include <cstdio>
#include <string>

#include "ImgEngine.h"

namespace {

int countExports() {
  int count = 0;
#define VEL_FN(ordinal, naming, ret, name, bytes, params) ++count;
#define VEL_ALIAS(ordinal, naming, ret, name, bytes, params, target) ++count;
#include "ImgEngineExports.h"
#undef VEL_FN
#undef VEL_ALIAS
  return count;
}

void printVersions() {
  char host[64] = {};
  const int n = VelGetHostVersion(static_cast<int>(sizeof host), host);
  std::printf("host version:          %.*s\n", n, host);
  std::printf("exports:               %d\n", countExports());
  std::printf("vision processor:      0x%08X\n", VelGetVisionProcessorVersion());
  std::printf("image sensor:          0x%08X\n", VelGetImageSensorVersion());
  std::printf("illumination board:    0x%08X\n", VelGetIlluminationBoardVersion());
  char firmware[256] = {};
  const int f = VelGetFirmwareVersion(static_cast<int>(sizeof firmware), firmware);
  std::printf("firmware:              \"%.*s\"\n", f, firmware);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "versions";
  if (command == "versions") {
    printVersions();
    return 0;
  }
  std::fprintf(stderr, "usage: velcli [versions]\n");
  return 2;
}
