// velcli: command-line front end over ImgEngine.
//
//   velcli [--port N | --simulate] [--timeout MS] COMMAND
//     versions            the library's version and the last imager's versions
//     connect             connect, show versions, classification and a configuration summary
//     status              connect and check the link
//     capture --decode    a host capture with decoding: progress, then every barcode
//     watch [--seconds S] [--pull N]
//                         trigger captures and their progress as they arrive, until
//                         interrupted or S seconds passed (--simulate: pull the simulated
//                         imager's trigger N times)
//     config save FILE    the imager's configuration and the host settings into FILE
//     config load FILE    FILE loaded into the configuration, stored permanently in the imager
//     service NAME [ARGS] a service command: black levels, I/O pins, sensor registers,
//                         LEDs, trigger, sleep, terminal mode (velcli service lists them)
//
// --port takes the library's port numbers: 0 USB, 100 USB (second driver), 1..99 COM
// ports. --simulate runs a simulated imager inside this process on that port (default 1).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

#include "ImgEngine.h"
#include "Progress.h"
#include "Service.h"
#include "SimulatedImager.h"

namespace {

using namespace velcli;

struct Options {
  int port = 1;
  bool simulate = false;
  int timeoutMs = 3000;
  bool decode = false;
  int seconds = 0;
  int pulls = 0;
  std::string command = "versions";
  std::vector<std::string> arguments;  // the words after the command
};

std::atomic<bool> g_interrupted{false};

unsigned int ownThreadId() { return static_cast<unsigned int>(syscall(SYS_gettid)); }
void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int exportCount() {
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
  std::printf("exports:               %d\n", exportCount());
  std::printf("vision processor:      0x%08X\n", VelGetVisionProcessorVersion());
  std::printf("image sensor:          0x%08X\n", VelGetImageSensorVersion());
  std::printf("illumination board:    0x%08X\n", VelGetIlluminationBoardVersion());
  char firmware[256] = {};
  const int f = VelGetFirmwareVersion(static_cast<int>(sizeof firmware), firmware);
  std::printf("firmware:              \"%.*s\"\n", f, firmware);
}

const char* sensorName() {
  if (VelIsSensorTypeOv9640()) return "OV9640 (colour)";
  if (VelIsSensorTypeOv9650()) return "OV9650 (colour)";
  if (VelIsSensorTypePicocam()) return "Picocam";
  return "standard (monochrome)";
}

void printConfiguration() {
  std::printf("window:                %d, %d, %d x %d\n", VelGetWindowX(), VelGetWindowY(), VelGetWindowWidth(),
              VelGetWindowHeight());
  std::printf("integration time:      %d units, %d us\n", VelGetIntegrationTime(),
              VelGetIntegrationTimeInMicroSeconds());
  std::printf("gain, illumination:    %d, %d\n", VelGetGain(), VelGetIlluminationLevel());
  std::printf("auto exposure:         %s\n", VelGetAutoExposureEnabled() ? "on" : "off");
  std::printf("barcodes per capture:  at most %d\n", VelGetMaximumNumberBarcodesToDecode());
  std::printf("trigger reads:         decode %s, binary image %s, grey image %s\n",
              VelGetTriggerDecodeBarcodeEnabled() ? "on" : "off", VelGetTriggerBinaryImageReadEnabled() ? "on" : "off",
              VelGetTriggerGrayImageReadEnabled() ? "on" : "off");
}

const char* connectMeaning(int result) {
  switch (result) {
    case 1: return "connected";
    case 0: return "no link (no answer, or the block size or a query failed)";
    case -1: return "the imager refused the link check";
    case -2: return "the port did not open";
    case -3: return "the library failed during connect";
    default: return "unexpected answer";
  }
}

bool connect(const Options& o) {
  const int result = VelDeviceConnectEx(o.port, o.timeoutMs, 115200);
  std::printf("connect port %d:        %d (%s)\n", o.port, result, connectMeaning(result));
  return result == 1;
}

// Printable text of barcode data: bytes outside ASCII are shown as \xNN.
std::string printable(const unsigned char* data, int length) {
  std::string out;
  char hex[8];
  for (int i = 0; i < length; ++i) {
    if (data[i] >= 0x20 && data[i] < 0x7F && data[i] != '\\') {
      out += static_cast<char>(data[i]);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", data[i]);
      out += hex;
    }
  }
  return out;
}

void printBarcodes() {
  const int count = VelGetNumberOfDecodedBarcodes();
  std::printf("barcodes decoded:      %d\n", count);
  std::vector<unsigned char> data(4096);
  for (int i = 0; i < count; ++i) {
    char name[64] = {};
    const int type = VelGetBarcodeType(i);
    const int n = VelGetBarcodeName(type, static_cast<int>(sizeof name) - 1, name);
    const int length = VelGetBarcodeData(i, static_cast<int>(data.size()), data.data());
    std::printf("  [%d] %s (type %d): \"%s\"\n", i, n > 0 ? name : "unknown", type,
                printable(data.data(), length).c_str());
    std::printf("      corners (%d,%d) (%d,%d) (%d,%d) (%d,%d), decoded in %d\n", VelGetBarcodeTopLeftX(i),
                VelGetBarcodeTopLeftY(i), VelGetBarcodeTopRightX(i), VelGetBarcodeTopRightY(i),
                VelGetBarcodeBottomLeftX(i), VelGetBarcodeBottomLeftY(i), VelGetBarcodeBottomRightX(i),
                VelGetBarcodeBottomRightY(i), VelGetBarcodeProcessingTime(i));
  }
  std::printf("timings:               capture %d, auto exposure %d, processing %d\n", VelGetImageCaptureTime(),
              VelGetAutoExposureExecutionTime(), VelGetImageProcessingTime());
}

// Takes the progress messages posted to this thread and shows the status word
// until the run ends; answers the final event code (0 when interrupted).
int followRun(int (*status)(), ProgressView& view) {
  for (;;) {
    VelOutputProgress(0, 0);  // takes (and so frees) one message posted to this thread
    const int word = status();
    view.show(word);
    if (endsRun(word >> 8)) return word >> 8;
    if (g_interrupted) return 0;
    pause(5);
  }
}

int runCapture(const Options& o) {
  if (!o.decode) {
    std::fprintf(stderr, "velcli: capture needs --decode (images come with a later version)\n");
    return 2;
  }
  if (!connect(o)) return 1;
  VelRegisterHostOperationProgressThread(ownThreadId());
  const auto start = std::chrono::steady_clock::now();
  VelCaptureImage(1, 0, 0, 0);
  ProgressView view(stdout);
  const int end = followRun(VelGetHostInitiatedOperationStatus, view);
  view.finish();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::printf("capture:               %s in %lld us\n", eventName(end), static_cast<long long>(us.count()));
  if (end == VEL_EVENT_DONE) printBarcodes();
  VelDeviceDisconnect();
  return end == VEL_EVENT_DONE ? 0 : 1;
}

int runWatch(const Options& o, sim::SimulatedImager* imager) {
  if (!connect(o)) return 1;
  VelRegisterTriggerProgressThread(ownThreadId());
  std::thread puller;
  if (imager && o.pulls > 0) {
    puller = std::thread([&] {
      for (int i = 0; i < o.pulls && !g_interrupted; ++i) {
        pause(200);
        imager->pullTrigger(0x01);
      }
    });
  }
  std::printf("watching for trigger captures%s\n", o.seconds > 0 ? "" : " (Ctrl+C ends)");
  ProgressView view(stdout);
  int captures = 0, lastStatus = VelGetTriggerOperationStatus();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  while (!g_interrupted && (o.seconds <= 0 || std::chrono::steady_clock::now() < until)) {
    const int code = VelOutputProgress(0, 0);
    const int word = VelGetTriggerOperationStatus();
    if (word != lastStatus) view.show(word);
    lastStatus = word;
    if (code == VEL_EVENT_RESULTS_READY) {
      view.finish();
      std::printf("trigger capture %d:\n", ++captures);
      printBarcodes();
    }
    if (imager && o.pulls > 0 && captures >= o.pulls) break;
    pause(5);
  }
  view.finish();
  if (puller.joinable()) puller.join();
  std::printf("trigger captures seen: %d\n", captures);
  VelDeviceDisconnect();
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: velcli [--port N | --simulate] [--timeout MS] versions|connect|status|capture --decode|"
               "watch [--seconds S] [--pull N]|config save|load FILE|service NAME [ARGS]\n%s",
               serviceUsage());
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  bool portGiven = false, commandGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto number = [&](int& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (!end || *end || v < -1000000 || v > 1000000) return false;
      out = static_cast<int>(v);
      return true;
    };
    if (a == "--port") {
      if (!number(o.port)) return false;
      portGiven = true;
    } else if (a == "--simulate") {
      o.simulate = true;
    } else if (a == "--timeout") {
      if (!number(o.timeoutMs)) return false;
    } else if (a == "--seconds") {
      if (!number(o.seconds)) return false;
    } else if (a == "--pull") {
      if (!number(o.pulls)) return false;
    } else if (a == "--decode") {
      o.decode = true;
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else if (!commandGiven) {
      o.command = a;
      commandGiven = true;
    } else {
      o.arguments.push_back(a);
    }
  }
  if (o.simulate && !portGiven) o.port = 1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return usage();
  std::signal(SIGINT, [](int) { g_interrupted = true; });

  std::unique_ptr<sim::SimulatedImager> imager;
  if (o.simulate) {
    imager = std::make_unique<sim::SimulatedImager>(o.port);
    imager->setScene(sim::demoScene());
  }
  int result = 0;
  if (o.command == "versions") {
    printVersions();
  } else if (o.command == "connect") {
    if (connect(o)) {
      printVersions();
      std::printf("processor:             %s\n", VelGetVisionProcessorVersion() == 0 ? "i.MX1" : "SA-1110");
      std::printf("sensor:                %s\n", sensorName());
      printConfiguration();
      VelDeviceDisconnect();
    } else {
      result = 1;
    }
  } else if (o.command == "status") {
    if (connect(o)) {
      const int status = VelGetCommunicationStatus();
      std::printf("communication status:  %d (%s)\n", status,
                  status == 1 ? "the imager answers" : status == -3 ? "the link failed" : "not connected");
      VelDeviceDisconnect();
      result = status == 1 ? 0 : 1;
    } else {
      result = 1;
    }
  } else if (o.command == "capture") {
    result = runCapture(o);
  } else if (o.command == "watch") {
    result = runWatch(o, imager.get());
  } else if (o.command == "config") {
    result = runConfig(o.arguments, [&o] { return connect(o); });
  } else if (o.command == "service") {
    result = runService(o.arguments, [&o] { return connect(o); });
  } else {
    return usage();
  }
  return result;
}
