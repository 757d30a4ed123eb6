// Network serial ports over the loopback interface, against the stand-alone
// simulator's server: packet link payload efficiency with the line paced at
// 115,200 baud, the time to open a port (TCP connect and option negotiation), and
// one break handshake.
#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "devices/SimSerialLine.h"
#include "imager/ImagerLink.h"
#include "link/Link.h"
#include "transport/SerialTransport.h"
#include "base/trace/Recorder.h"
#include "velsim/NetworkPortServer.h"

namespace {

constexpr int kMappedPort = 7;

// A simulated serial line served on a free loopback port, COM7 mapped to it.
struct Served {
  std::shared_ptr<sim::SimSerialLine> line = std::make_shared<sim::SimSerialLine>(31);
  sim::NetworkPortServer server;
  explicit Served(bool paced) : server(line, "127.0.0.1", 0, sim::NetworkPortServer::Options{paced, nullptr}) {
    setenv("VEL_SERIAL_PORT_7", ("rfc2217://127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
  }
  ~Served() { unsetenv("VEL_SERIAL_PORT_7"); }
};

// Imager to host over the packet link, 16 blocks of 1016 bytes per iteration, in
// writes and reads of 4,000 bytes; at 115,200 baud 8N1 the line carries 11,520 bytes/s.
void pacedPacketLink(benchmark::State& state) {
  Served served(true);
  sim::ImagerLink imager(*served.line, sim::Framing::Packet, 0x1234);
  vel::SerialTransport transport(kMappedPort);
  auto link = vel::createLink(vel::LinkKind::Packet, transport, 29000000);
  auto pair = link->openPortPair(0, 1);
  const size_t block = 16 * 1016;
  std::vector<uint8_t> chunk(4000, 0x5A), in(4000);
  auto once = [&] {
    std::thread writer([&] {
      for (size_t at = 0; at < block; at += chunk.size()) imager.port(0).write(chunk.data(), std::min(chunk.size(), block - at));
      imager.port(0).flush();
    });
    for (size_t at = 0; at < block; at += in.size()) pair->read(in.data(), std::min(in.size(), block - at), 20000);
    writer.join();
  };
  once();  // the first resynchronisation and the pace set by the baud rate
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) once();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (pair->failed()) state.SkipWithError("link failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block));
  state.counters["efficiency"] = double(state.iterations()) * double(block) / seconds / 11520.0;
  pair.reset();
  link.reset();
  imager.shutdown();
}

void BM_PacketLinkOverRfc2217Paced115200(benchmark::State& state) { pacedPacketLink(state); }
BENCHMARK(BM_PacketLinkOverRfc2217Paced115200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The same with a field trace recorded (VEL_TRACE): the efficiency must not change.
void BM_PacketLinkOverRfc2217Paced115200Traced(benchmark::State& state) {
  const std::string path = "/tmp/network_bench_trace_" + std::to_string(getpid()) + ".pcapng";
  std::remove(path.c_str());
  setenv("VEL_TRACE", path.c_str(), 1);
  pacedPacketLink(state);
  vel::trace::stop();
  unsetenv("VEL_TRACE");
  std::remove(path.c_str());
  std::remove((path + ".1").c_str());
}
BENCHMARK(BM_PacketLinkOverRfc2217Paced115200Traced)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Opening COM7: TCP connect, option negotiation, line settings.
void BM_Rfc2217Connect(benchmark::State& state) {
  Served served(false);
  for (auto _ : state) {
    // The server takes one client at a time: the last one's session ends first.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const auto t0 = std::chrono::steady_clock::now();
    vel::SerialTransport transport(kMappedPort);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (!transport.opened()) state.SkipWithError("the port did not open");
  }
}
BENCHMARK(BM_Rfc2217Connect)->UseManualTime()->Unit(benchmark::kMillisecond);

// One break handshake: break on, the line's answering break notified, purge, break off.
void BM_Rfc2217BreakHandshake(benchmark::State& state) {
  Served served(false);
  vel::SerialTransport transport(kMappedPort);
  for (auto _ : state) {
    transport.abort();
    const auto t0 = std::chrono::steady_clock::now();
    transport.reset();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (transport.failed()) state.SkipWithError("the handshake failed");
  }
}
BENCHMARK(BM_Rfc2217BreakHandshake)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
