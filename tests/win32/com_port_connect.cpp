// Connects to the COM port given on the command line through ImgEngine.dll and
// prints the connect result: the test driver maps Wine's COMn to a pseudo-terminal
// on which nothing answers, so a port that opens answers 0 and one that does not -2.
#include <cstdio>
#include <cstdlib>

#include "ImgEngine.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int result = VelDeviceConnectEx(std::atoi(argv[1]), 300, 115200);
  std::printf("%d\n", result);
  VelDeviceDisconnect();
  return 0;
}
