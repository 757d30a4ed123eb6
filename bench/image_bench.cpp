// Images on the host: a 1280 x 1024 grey capture ingested over a DirectLink from
// the simulated imager (unpaced) and the grey section alone from memory, both
// against the frame's wire time on USB 2.0 at 40 MB/s; the colour frame build
// (Bayer interpolation and HSV adjustment) beside OpenCV's Bayer-to-BGR and
// BGR->HSV->BGR on the same mosaic; and the run-length binary decode.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "ImgEngine.h"
#include "base/trace/Recorder.h"
#include "MemoryStream.h"
#include "SimulatedImager.h"
#include "TexturedPixels.h"
#include "image/BitmapFormat.h"
#include "image/ColourRows.h"
#include "operations/ImageSlots.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kPixels = kWidth * kHeight;
constexpr double kWireBytesPerSecond = 40e6;  // USB 2.0 as the imager drives it
constexpr double kWireSeconds = kPixels / kWireBytesPerSecond;
constexpr int kUsbPort = 0;
constexpr int kBlockSize = 4096;

unsigned int ownThreadId() { return static_cast<unsigned int>(syscall(SYS_gettid)); }

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

std::vector<uint8_t> texturedPixels() { return ::texturedPixels(kWidth, kHeight); }

class NoStop : public vel::OperationCallbacks {
 public:
  bool shouldStop() override { return false; }
  void postProgress(int, vel::OperationEvent) override {}
  void postConfigurationChanged(vel::ConfigurationChange) override {}
};

using Clock = std::chrono::steady_clock;

// The frame's wire time, and how many times faster than it the measured frames went.
void addWireRatio(benchmark::State& state, Clock::duration elapsed) {
  const double perFrame = std::chrono::duration<double>(elapsed).count() / double(state.iterations());
  state.counters["wire_ms"] = kWireSeconds * 1e3;
  state.counters["x_faster_than_wire"] = kWireSeconds / perFrame;
}

// The whole way: command, the imager's response on the DirectLink, the host
// operation building the bitmap and publishing it. process_cpu_ms counts both
// ends, the simulated imager included. The argument is the imager's block size
// (bytes between acknowledgements): 4,096 as the imager has it, and larger to
// show what the acknowledgement round trips cost.
void greyCaptureOverDirectLink(benchmark::State& state) {
  sim::ImagerIdentity identity;
  identity.blockSize = static_cast<int32_t>(state.range(0));
  sim::SimulatedImager imager(kUsbPort, identity);
  sim::Scene scene;
  scene.image.width = kWidth;
  scene.image.height = kHeight;
  scene.image.grey = texturedPixels();
  imager.setScene(scene);
  if (VelDeviceConnectEx(kUsbPort, 3000, 115200) != 1) state.SkipWithError("connect failed");
  VelRegisterHostOperationProgressThread(ownThreadId());
  double cpu = 0;
  const Clock::time_point begin = Clock::now();
  for (auto _ : state) {
    const double start = processCpuSeconds();
    VelCaptureGreyImage();
    int event = 0;
    for (int i = 0; i < 100000 && event != VEL_EVENT_GREY_IMAGE_READY; ++i) event = VelOutputProgress(0, 0);
    if (event != VEL_EVENT_GREY_IMAGE_READY) state.SkipWithError("no image");
    cpu += processCpuSeconds() - start;
  }
  addWireRatio(state, Clock::now() - begin);
  VelDeviceDisconnect();
  state.counters["process_cpu_ms"] = cpu * 1e3 / double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
}

void BM_GreyCaptureOverDirectLink(benchmark::State& state) { greyCaptureOverDirectLink(state); }
BENCHMARK(BM_GreyCaptureOverDirectLink)->Arg(4096)->Arg(65536)->ArgName("block")->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with a field trace recorded (VEL_TRACE): the recording's share of the
// CPU, the trace's size per capture and the blocks the full queue dropped.
void BM_GreyCaptureOverDirectLinkTraced(benchmark::State& state) {
  const std::string path = "/tmp/image_bench_trace_" + std::to_string(getpid()) + ".pcapng";
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
  setenv("VEL_TRACE", path.c_str(), 1);
  setenv("VEL_TRACE_MAX_MB", "4096", 1);
  greyCaptureOverDirectLink(state);
  const auto recorder = vel::trace::current();
  const double dropped = recorder ? double(recorder->dropped()) : -1;
  vel::trace::stop();
  unsetenv("VEL_TRACE");
  unsetenv("VEL_TRACE_MAX_MB");
  struct stat st {};
  const double bytes = ::stat(path.c_str(), &st) == 0 ? double(st.st_size) : 0;
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
  state.counters["trace_MB_per_capture"] = bytes / 1e6 / double(state.iterations());
  state.counters["dropped_blocks"] = dropped;
}
BENCHMARK(BM_GreyCaptureOverDirectLinkTraced)->Arg(4096)->Arg(65536)->ArgName("block")->Unit(benchmark::kMillisecond)->UseRealTime();

// The host's share alone: the grey section read from memory in acknowledged
// 4,096-byte pieces, built into the bitmap and published.
void BM_GreySectionFromMemory(benchmark::State& state) {
  NoStop callbacks;
  vel::SharedImages shared;
  vel::DeviceConfiguration configuration{};
  auto slots = vel::createImageSlots(callbacks, shared, configuration);
  MemoryStream stream(texturedPixels());
  const Clock::time_point begin = Clock::now();
  for (auto _ : state) {
    stream.position = 0;
    stream.output.clear();
    if (!slots->readGreySection(stream, kWidth, kHeight, false, kPixels, kBlockSize)) state.SkipWithError("failed");
  }
  addWireRatio(state, Clock::now() - begin);
  state.SetBytesProcessed(int64_t(state.iterations()) * kPixels);
}
BENCHMARK(BM_GreySectionFromMemory)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> mosaic() { return texturedPixels(); }

void BM_ColourFrameBuild(benchmark::State& state) {
  const bool hsv = state.range(0) != 0;
  const std::vector<uint8_t> input = mosaic();
  const uint32_t stride = vel::bitmapStride(vel::PixelKind::Colour, kWidth);
  std::vector<uint8_t> pixels(size_t(stride) * kHeight);
  const vel::HsvAdjustment adjustment = vel::hsvAdjustment(hsv, 10 * 64, 300, 280);
  for (auto _ : state) {
    vel::ColourRows rows;
    rows.begin(pixels.data(), kWidth, kHeight, stride, 2, adjustment);
    rows.put(input.data(), input.size());
    rows.finish();
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}
BENCHMARK(BM_ColourFrameBuild)->Arg(0)->Arg(1)->ArgName("hsv")->Unit(benchmark::kMillisecond);

// The peer: OpenCV's bilinear Bayer-to-BGR (blue-green / green-red start), and
// the same HSV adjustment through BGR->HSV (full range), per-pixel scaling,
// HSV->BGR; on one thread, as the colour rows are built, and on OpenCV's
// default thread count (counter opencv_threads).
void openCvColourFrame(benchmark::State& state) {
  const bool hsv = state.range(0) != 0;
  std::vector<uint8_t> input = mosaic();
  const cv::Mat raw(kHeight, kWidth, CV_8UC1, input.data());
  cv::Mat bgr, hsvImage;
  for (auto _ : state) {
    cv::cvtColor(raw, bgr, cv::COLOR_BayerRG2BGR);
    if (hsv) {
      cv::cvtColor(bgr, hsvImage, cv::COLOR_BGR2HSV_FULL);
      for (int y = 0; y < hsvImage.rows; ++y) {
        uint8_t* p = hsvImage.ptr<uint8_t>(y);
        for (int x = 0; x < hsvImage.cols; ++x, p += 3) {
          p[0] = static_cast<uint8_t>(p[0] + 7);
          p[1] = cv::saturate_cast<uint8_t>(p[1] * 300 / 256);
          p[2] = cv::saturate_cast<uint8_t>(p[2] * 280 / 256);
        }
      }
      cv::cvtColor(hsvImage, bgr, cv::COLOR_HSV2BGR_FULL);
    }
    benchmark::DoNotOptimize(bgr.data);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
  state.counters["opencv_threads"] = cv::getNumThreads();
}

void BM_OpenCvColourFrame(benchmark::State& state) {
  cv::setNumThreads(1);
  openCvColourFrame(state);
}
BENCHMARK(BM_OpenCvColourFrame)->Arg(0)->Arg(1)->ArgName("hsv")->Unit(benchmark::kMillisecond);

void BM_OpenCvColourFrameDefaultThreads(benchmark::State& state) {
  cv::setNumThreads(-1);  // OpenCV's default
  openCvColourFrame(state);
}
// Its worker threads are not in the main thread's CPU time: judged by wall time.
BENCHMARK(BM_OpenCvColourFrameDefaultThreads)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("hsv")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Run bytes of a 1280 x 1024 binary image of text-like stripes, in blocks of
// the block size; bytes processed = bitmap bytes produced.
void BM_RunLengthDecode(benchmark::State& state) {
  std::vector<uint8_t> runs;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth;) {
      const int run = 1 + (x * 7 + y * 3) % 23;
      const int n = std::min(run, kWidth - x);
      runs.push_back(static_cast<uint8_t>(n - 1));
      x += n;
    }
  std::vector<uint8_t> input{0};
  for (size_t at = 0; at < runs.size(); at += kBlockSize) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlockSize, runs.size() - at));
    for (int i = 0; i < 4; ++i) input.push_back(static_cast<uint8_t>(n >> (8 * i)));
    input.insert(input.end(), runs.begin() + long(at), runs.begin() + long(at + n));
  }
  NoStop callbacks;
  vel::SharedImages shared;
  vel::DeviceConfiguration configuration{};
  auto slots = vel::createImageSlots(callbacks, shared, configuration);
  MemoryStream stream(input);
  for (auto _ : state) {
    stream.position = 0;
    stream.output.clear();
    if (!slots->readBinarySection(stream, kWidth, kHeight, kBlockSize)) state.SkipWithError("failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (kPixels / 8));
  state.counters["run_bytes"] = double(runs.size());
}
BENCHMARK(BM_RunLengthDecode)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
