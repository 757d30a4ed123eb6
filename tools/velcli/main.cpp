// velcli: command-line front end over ImgEngine.
//
//   velcli [--port N | --simulate] [--timeout MS] COMMAND   (channel timeout: 3000 ms, simulated 30000 ms)
//     versions            the library's version and the last imager's versions
//     connect             connect, show versions, classification and a configuration summary
//     status              connect and check the link
//     capture [--decode] [--grey] [--binary] [--compressed] [--out DIR] [--save DIR] [--timestamp]
//                         a host capture: progress, every barcode, the sizes of the
//                         images received and the times; --out writes the buffers as
//                         they are (DIR/grey.bmp or DIR/grey.jpg, DIR/binary.bmp);
//                         --save runs the library's auto-save (which writes the capture
//                         time into a compressed image) and saves through its own
//                         exports as DIR/grey.bmp, DIR/grey.jpg and the binary ones;
//                         --timestamp draws the capture time into those images
//     convert IN OUT      BMP (8 or 24 bits) to JPEG, or JPEG to a grey BMP (OUT "-":
//                         the standard output), by the library's conversions
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
// ports. --simulate runs a simulated imager inside this process on that port (default 1),
// photographing a scene file (--scene FILE; default the simulator's shelf scene).
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

constexpr int kSimulatedTimeoutMs = 30000;

struct Options {
  int port = 1;
  bool simulate = false;
  int timeoutMs = 3000;
  bool decode = false;
  bool grey = false;
  bool binary = false;
  bool compressed = false;
  std::string outDir;
  std::string saveDir;
  bool timestamp = false;
  std::string scene;
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

bool writeBuffer(const std::string& dir, const char* name, const unsigned char* data, int size) {
  const std::string path = (std::filesystem::path(dir) / name).string();
  std::FILE* f = size > 0 ? std::fopen(path.c_str(), "wb") : nullptr;
  const bool ok = f && std::fwrite(data, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
  if (f) std::fclose(f);
  std::printf("%-23s%s (%d bytes)\n", ok ? "wrote:" : "could not write:", path.c_str(), size);
  return ok;
}

// Sizes of the images received; with an output folder, the buffers as they are.
bool reportImages(const Options& o) {
  bool ok = true;
  if (o.outDir.size()) std::filesystem::create_directories(o.outDir);
  if (o.grey) {
    const bool jpeg = VelGetGreyImageDataSize() == 0 && VelGetGreyImageCompressedDataSize() > 0;
    std::printf("grey image:            %d x %d, %d bytes%s\n", VelGetGreyImageWidth(), VelGetGreyImageHeight(),
                jpeg ? VelGetGreyImageCompressedDataSize() : VelGetGreyImageDataSize(), jpeg ? " compressed" : "");
    if (o.outDir.size())
      ok &= jpeg ? writeBuffer(o.outDir, "grey.jpg", VelGetGreyImageData(), VelGetGreyImageCompressedDataSize())
                 : writeBuffer(o.outDir, "grey.bmp", VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileSize());
  }
  if (o.binary) {
    std::printf("binary image:          %d x %d, %d bytes\n", VelGetBinaryImageWidth(), VelGetBinaryImageHeight(),
                VelGetBinaryImageDataSize());
    if (o.outDir.size() && VelGetBinaryImageBitmapFileData())
      ok &= writeBuffer(o.outDir, "binary.bmp", VelGetBinaryImageBitmapFileData(), VelGetBinaryImageBitmapFileSize());
  }
  return ok;
}

// The auto-save (when the host settings ask for it) and the library's own saves.
bool saveImages(const Options& o) {
  std::filesystem::create_directories(o.saveDir);
  const int autoSaved = VelExecuteAutoSaveOperation();
  if (autoSaved != 0) std::printf("auto-save:             %d (%s)\n", autoSaved, VelGetAutoSaveFileFullPathName());
  bool ok = true;
  auto save = [&](const char* name, int (*saver)(const char*, int), std::initializer_list<int> success) {
    const std::string path = (std::filesystem::path(o.saveDir) / name).string();
    const int result = saver(path.c_str(), 1);
    const bool saved = std::find(success.begin(), success.end(), result) != success.end();
    std::printf("%-23s%s (%d)\n", saved ? "saved:" : "could not save:", path.c_str(), result);
    ok &= saved;
  };
  if (o.grey) {
    save("grey.bmp", VelSaveGreyImageAsBmpFile, {0, 1});  // 0: a compressed image, decompressed
    save("grey.jpg", VelSaveGreyImageAsJpegFile, {1});
  }
  if (o.binary && VelGetBinaryImageBitmapFileData()) {
    save("binary.bmp", VelSaveBinaryImageAsBmpFile, {1});
    save("binary.jpg", VelSaveBinaryImageAsJpegFile, {1});
  }
  return ok;
}

int runCapture(const Options& o) {
  if (!o.decode && !o.grey && !o.binary) {
    std::fprintf(stderr, "velcli: capture needs --decode, --grey or --binary\n");
    return 2;
  }
  if (!connect(o)) return 1;
  if (o.timestamp) VelSetTimestampEnabled(1);
  VelRegisterHostOperationProgressThread(ownThreadId());
  const auto start = std::chrono::steady_clock::now();
  VelCaptureImage(o.decode, o.binary, o.grey, o.compressed);
  ProgressView view(stdout);
  const int end = followRun(VelGetHostInitiatedOperationStatus, view);
  view.finish();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::printf("capture:               %s in %lld us\n", eventName(end), static_cast<long long>(us.count()));
  bool ok = end == VEL_EVENT_DONE;
  if (ok && o.decode) printBarcodes();
  if (ok) ok = reportImages(o);
  if (ok && o.saveDir.size()) ok = saveImages(o);
  VelDeviceDisconnect();
  return ok ? 0 : 1;
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

// By the input's extension: .bmp compresses, anything else decompresses.
int runConvert(const Options& o) {
  if (o.arguments.size() != 2) {
    std::fprintf(stderr, "velcli: convert needs IN and OUT\n");
    return 2;
  }
  const std::string& in = o.arguments[0];
  const std::string& out = o.arguments[1];
  std::string extension = std::filesystem::path(in).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool toStdout = out == "-";
  const int result = extension == ".bmp" ? VelExecuteCompression(in.c_str(), out.c_str())
                                         : VelExecuteDecompression(in.c_str(), toStdout ? nullptr : out.c_str());
  if (!toStdout || result != 1)
    std::fprintf(result == 1 ? stdout : stderr, "%s %s -> %s: %d\n", extension == ".bmp" ? "compress" : "decompress",
                 in.c_str(), out.c_str(), result);
  return result == 1 ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: velcli [--port N | --simulate [--scene FILE]] [--timeout MS] versions|connect|status|"
               "capture [--decode] [--grey] [--binary] [--compressed] [--out DIR] [--save DIR] [--timestamp]|"
               "watch [--seconds S] [--pull N]|config save|load FILE|service NAME [ARGS]|convert IN OUT\n%s",
               serviceUsage());
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  bool portGiven = false, commandGiven = false, timeoutGiven = false;
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
      timeoutGiven = true;
    } else if (a == "--seconds") {
      if (!number(o.seconds)) return false;
    } else if (a == "--pull") {
      if (!number(o.pulls)) return false;
    } else if (a == "--decode") {
      o.decode = true;
    } else if (a == "--grey") {
      o.grey = true;
    } else if (a == "--binary") {
      o.binary = true;
    } else if (a == "--compressed") {
      o.compressed = true;
    } else if (a == "--timestamp") {
      o.timestamp = true;
    } else if (a == "--out" || a == "--scene" || a == "--save") {
      if (i + 1 >= argc) return false;
      (a == "--out" ? o.outDir : a == "--save" ? o.saveDir : o.scene) = argv[++i];

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
  // The simulated imager photographs and decodes its scene on this machine's CPU,
  // which takes far longer under a sanitizer than a real imager does.
  if (o.simulate && !timeoutGiven) o.timeoutMs = kSimulatedTimeoutMs;
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
    std::string error;
    const auto scene = sim::loadScene(o.scene.empty() ? sim::sceneFolder() + "/shelf.scene" : o.scene, &error);
    if (!scene) {
      std::fprintf(stderr, "velcli: %s\n", error.c_str());
      return 2;
    }
    imager->showScene(*scene);
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
  } else if (o.command == "convert") {
    result = runConvert(o);
  } else {
    return usage();
  }
  return result;
}
