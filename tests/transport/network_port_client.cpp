// An application of the library that knows nothing of network ports: it connects
// to the COM port given on the command line, runs a host capture with decoding and
// the grey image, waits for one trigger capture and prints what it saw, one "name
// value" per line.
// The test driver maps the port to a velsim process through the port map; the same
// source is built against libImgEngine.so and against ImgEngine.dll (run under Wine).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ImgEngine.h"

namespace {

// Polls status until its event code ends a run; answers that code, 0 on timeout.
int waitForEnd(int(VEL_API* status)(), int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    const int event = status() >> 8;
    if (event == VEL_EVENT_DONE || event == VEL_EVENT_ABORTED || event == VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE) {
      return event;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const auto start = std::chrono::steady_clock::now();
  // velsim photographs and reads its scene before it answers, slowly under a sanitizer.
  const int connected = VelDeviceConnectEx(std::atoi(argv[1]), 30000, 115200);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("connect %d\nconnect_ms %lld\n", connected, static_cast<long long>(ms.count()));
  if (connected != 1) return 1;
  char firmware[32] = {};
  const int n = VelGetFirmwareVersion(static_cast<int>(sizeof firmware) - 1, firmware);
  std::printf("firmware %.*s\n", n, firmware);
  // Every barcode in view, not just the first (the factory setting).
  VelSetMaximumNumberBarcodesToDecode(20);
  std::printf("configured %d\n", VelSetTemporaryDeviceConfiguration());
  VelCaptureImage(1, 0, 1, 0);
  const int captureEvent = waitForEnd(VelGetHostInitiatedOperationStatus, 60000);
  std::printf("capture_event %d\ncapture_barcodes %d\ncapture_width %d\n", captureEvent, VelGetNumberOfDecodedBarcodes(),
              VelGetGreyImageWidth());
  std::fflush(stdout);  // the driver pulls the trigger when it reads this
  const int triggerEvent = waitForEnd(VelGetTriggerOperationStatus, 60000);
  std::printf("trigger_event %d\ntrigger_barcodes %d\n", triggerEvent, VelGetNumberOfDecodedBarcodes());
  std::printf("status %d\n", VelGetCommunicationStatus());
  std::fflush(stdout);
  VelDeviceDisconnect();
  return 0;
}
