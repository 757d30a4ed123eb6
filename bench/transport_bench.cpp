// Raw transport throughput and line recovery time against the simulated devices.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "devices/DeviceSim.h"
#include "transport/SerialTransport.h"
#include "transport/UsbTransport.h"

namespace {

// Sends back what the host writes; takes the line recoveries of the host's resets as an
// imager does (the line holds back what follows a break until then).
class Echo {
 public:
  explicit Echo(sim::ImagerLine& line) : line_(line), t_([this] {
    uint8_t buf[4096];
    while (!stop_) {
      line_.takeLineRecovery();
      const size_t n = line_.read(buf, sizeof buf, 5);
      if (n) line_.write(buf, n);
    }
  }) {}
  ~Echo() {
    stop_ = true;
    t_.join();
  }

 private:
  sim::ImagerLine& line_;
  std::atomic<bool> stop_{false};
  std::thread t_;
};

template <typename Transport>
void echoRoundTrips(benchmark::State& state, Transport& t) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> out(n, 0x5A), in(n);
  for (auto _ : state) {
    t.write(out.data(), n, 5000);
    t.read(in.data(), n, 5000);
    if (t.failed()) state.SkipWithError("transport failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n) * 2);
}

void BM_SerialEcho(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto line = devices.addSerialLine(1);
  Echo echo(*line);
  vel::SerialTransport t(1);
  t.reset();
  echoRoundTrips(state, t);
}
BENCHMARK(BM_SerialEcho)->Arg(64)->Arg(1016)->Arg(65536)->UseRealTime();

void BM_UsbEcho(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto dev = devices.plugUsb(sim::UsbDriver::kFirst, 0);
  Echo echo(*dev);
  vel::UsbTransport t;
  t.reset();
  echoRoundTrips(state, t);
}
BENCHMARK(BM_UsbEcho)->Arg(64)->Arg(1016)->Arg(65536)->UseRealTime();

void BM_Usb2Write(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto dev = devices.plugUsb(sim::UsbDriver::kSecond, 0);
  vel::Usb2Transport t;
  t.reset();
  std::vector<uint8_t> out(static_cast<size_t>(state.range(0)), 1), sink(65536);
  for (auto _ : state) {
    t.write(out.data(), out.size(), 5000);
    size_t got = 0;
    dev->takeLineRecovery();
    for (size_t n = 1; got < out.size() && n > 0;) got += n = dev->read(sink.data(), sink.size(), 1000);
    if (t.failed() || got < out.size()) {
      state.SkipWithError("the write did not reach the device");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Usb2Write)->Arg(65536)->UseRealTime();

// One successful break handshake: break, the imager's answer, purge, clear.
void BM_SerialReset(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto line = devices.addSerialLine(1);
  line->setBreakAnswerDelayMs(static_cast<int>(state.range(0)));
  vel::SerialTransport t(1);
  for (auto _ : state) {
    t.abort();
    t.reset();
    if (t.failed()) state.SkipWithError("reset failed");
  }
}
BENCHMARK(BM_SerialReset)->Arg(0)->Arg(1)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);

// A reset the imager never answers: 20 attempts.
void BM_SerialResetUnanswered(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto line = devices.addSerialLine(1);
  vel::SerialTransport t(1);
  t.reset();
  line->setAnswerBreaks(false);
  line->injectLineEvent(vel::devices::kLineBreak);  // later resets make 20 attempts
  while (t.lineState() != vel::SerialTransport::kLineBreakOrError) std::this_thread::yield();
  for (auto _ : state) t.reset();
}
BENCHMARK(BM_SerialResetUnanswered)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UsbReset(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  devices.plugUsb(sim::UsbDriver::kFirst, 0);
  vel::UsbTransport t;
  for (auto _ : state) {
    t.abort();
    t.reset();
  }
}
BENCHMARK(BM_UsbReset)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Paced at 115,200 baud: bytes/s is baud / 10.
void BM_SerialPacedEcho(benchmark::State& state) {
  sim::DeviceSim devices;
  devices.install();
  auto line = devices.addSerialLine(1);
  line->setPacingBaud(static_cast<uint32_t>(state.range(0)));
  Echo echo(*line);
  vel::SerialTransport t(1);
  t.reset();
  std::vector<uint8_t> out(1024, 3), in(1024);
  for (auto _ : state) {
    t.write(out.data(), out.size(), 5000);
    t.read(in.data(), in.size(), 5000);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_SerialPacedEcho)->Arg(115200)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
