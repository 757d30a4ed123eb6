// A conversation through the exports with a simulated imager behind the real
// transports and links: connect and disconnect, a host capture with 20 results
// until they are published, and a trigger pull until its results reach the
// registered thread.
#include <benchmark/benchmark.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "ImgEngine.h"
#include "SimulatedImager.h"

namespace {

constexpr int kSerialPort = 6;
constexpr int kUsbPort = 0;

unsigned int ownThreadId() { return static_cast<unsigned int>(syscall(SYS_gettid)); }

sim::Scene twentyBarcodes() {
  sim::Scene scene;
  for (int i = 0; i < 20; ++i) {
    const std::string text = "BARCODE-" + std::to_string(i);
    scene.records.push_back(sim::SceneBarcode{3, false, {1, 2, 3, 4, 5, 6, 7, 8}, 100u + i, {text.begin(), text.end()}});
  }
  scene.timing = {1000, 5000, 3000, 8000};
  return scene;
}

// Takes this thread's progress messages until the results are published.
bool awaitResults() {
  for (int i = 0; i < 5000; ++i)
    if (VelOutputProgress(0, 0) == VEL_EVENT_RESULTS_READY) return true;
  return false;
}

void BM_ConnectDisconnect(benchmark::State& state) {
  const int port = static_cast<int>(state.range(0));
  sim::SimulatedImager imager(port);
  for (auto _ : state) {
    if (VelDeviceConnectEx(port, 3000, 115200) != 1) state.SkipWithError("connect failed");
    VelDeviceDisconnect();
  }
}
BENCHMARK(BM_ConnectDisconnect)->Arg(kSerialPort)->Arg(kUsbPort)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HostCaptureTwentyResults(benchmark::State& state) {
  const int port = static_cast<int>(state.range(0));
  sim::SimulatedImager imager(port);
  imager.setScene(twentyBarcodes());
  if (VelDeviceConnectEx(port, 3000, 115200) != 1) state.SkipWithError("connect failed");
  VelRegisterHostOperationProgressThread(ownThreadId());
  for (auto _ : state) {
    VelCaptureImage(1, 0, 0, 0);
    if (!awaitResults()) state.SkipWithError("no results");
  }
  VelDeviceDisconnect();
}
BENCHMARK(BM_HostCaptureTwentyResults)->Arg(kSerialPort)->Arg(kUsbPort)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_TriggerToResultsReady(benchmark::State& state) {
  const int port = static_cast<int>(state.range(0));
  sim::SimulatedImager imager(port);
  sim::Scene scene = twentyBarcodes();
  scene.records.resize(1);
  imager.setScene(scene);
  if (VelDeviceConnectEx(port, 3000, 115200) != 1) state.SkipWithError("connect failed");
  VelRegisterTriggerProgressThread(ownThreadId());
  for (auto _ : state) {
    std::thread pull([&] { imager.pullTrigger(0x01); });
    if (!awaitResults()) state.SkipWithError("no results");
    state.PauseTiming();
    pull.join();
    state.ResumeTiming();
  }
  VelDeviceDisconnect();
}
BENCHMARK(BM_TriggerToResultsReady)->Arg(kSerialPort)->Arg(kUsbPort)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
