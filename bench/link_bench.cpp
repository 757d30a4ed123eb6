// CRC throughput, link payload throughput over the in-memory line (unpaced and
// paced at 115,200 baud) and the time of one resynchronisation.
#include <benchmark/benchmark.h>

#include <ctime>
#include <thread>
#include <vector>

#include "imager/ImagerLink.h"
#include "devices/MemoryLine.h"
#include "imager/WireCrc.h"
#include "base/Crc16.h"
#include "link/Link.h"

namespace {

std::vector<uint8_t> data(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + 7);
  return v;
}

void BM_Crc16Table(benchmark::State& state) {
  auto d = data(1016);
  for (auto _ : state) benchmark::DoNotOptimize(vel::crc16(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}
BENCHMARK(BM_Crc16Table);

// The four-bit table the sliced CRC is checked against.
void BM_Crc16Nibble(benchmark::State& state) {
  auto d = data(1016);
  for (auto _ : state) benchmark::DoNotOptimize(vel::crc16Nibble(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}
BENCHMARK(BM_Crc16Nibble);

void BM_ImagerCrcBitwise(benchmark::State& state) {
  auto d = data(1016);
  for (auto _ : state) benchmark::DoNotOptimize(sim::wireCrcBitwise(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}
BENCHMARK(BM_ImagerCrcBitwise);

void BM_ImagerCrcTable(benchmark::State& state) {
  auto d = data(1016);
  for (auto _ : state) benchmark::DoNotOptimize(sim::wireCrc(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}
BENCHMARK(BM_ImagerCrcTable);

// A host link and a simulated imager over one memory line.
struct Rig {
  sim::MemoryLine line;
  sim::ImagerLink imager;
  std::unique_ptr<vel::Link> link;
  std::unique_ptr<vel::PortPair> pair;
  Rig(vel::LinkKind kind, uint32_t baud)
      : imager(line.imager(), kind == vel::LinkKind::Packet ? sim::Framing::Packet : sim::Framing::Direct, 0x1234) {
    line.setBaud(baud);
    link = vel::createLink(kind, line.host(), 29000000);
    pair = link->openPortPair(0, 1);
  }
  ~Rig() {
    pair.reset();
    link.reset();
    imager.shutdown();
  }
};

// Imager to host, `block` bytes per iteration in writes of 4,000 bytes; host reads of 4,000.
void streamOnce(Rig& rig, size_t block, const std::vector<uint8_t>& chunk, std::vector<uint8_t>& in) {
  std::thread writer([&] {
    for (size_t at = 0; at < block; at += chunk.size()) rig.imager.port(0).write(chunk.data(), std::min(chunk.size(), block - at));
    rig.imager.port(0).flush();
  });
  for (size_t at = 0; at < block; at += in.size()) rig.pair->read(in.data(), std::min(in.size(), block - at), 10000);
  writer.join();
}

void linkThroughput(benchmark::State& state, vel::LinkKind kind) {
  Rig rig(kind, 0);
  const size_t block = 1 << 20;
  auto chunk = data(4000);
  std::vector<uint8_t> in(4000);
  std::clock_t cpu0 = std::clock();
  for (auto _ : state) streamOnce(rig, block, chunk, in);
  double cpuSeconds = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
  if (rig.pair->failed()) state.SkipWithError("link failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block));
  // Process CPU (host link and simulated imager together) per MB moved.
  state.counters["cpu_ms_per_MB_both_ends"] = cpuSeconds * 1000.0 / double(state.iterations());
}

void BM_PacketLinkThroughput(benchmark::State& state) { linkThroughput(state, vel::LinkKind::Packet); }
BENCHMARK(BM_PacketLinkThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DirectLinkThroughput(benchmark::State& state) { linkThroughput(state, vel::LinkKind::Direct); }
BENCHMARK(BM_DirectLinkThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

// Payload efficiency at 115,200 baud 8N1 (11,520 bytes/s on the line).
void BM_PacketLinkPaced115200(benchmark::State& state) {
  Rig rig(vel::LinkKind::Packet, 115200);
  const size_t block = 16 * 1016;
  auto chunk = data(4000);
  std::vector<uint8_t> in(4000);
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) streamOnce(rig, block, chunk, in);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (rig.pair->failed()) state.SkipWithError("link failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block));
  state.counters["efficiency"] = double(state.iterations()) * double(block) / seconds / 11520.0;
}
BENCHMARK(BM_PacketLinkPaced115200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// From a line event to the first byte written after it reaching the imager:
// failure noticed, line recovery, token exchange and the retransmission.
void resyncTime(benchmark::State& state, vel::LinkKind kind) {
  Rig rig(kind, 0);
  uint8_t b = 0x5A, got = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    rig.line.failLine();
    rig.pair->write(&b, 1);
    rig.pair->flush();
    if (rig.imager.port(1).read(&got, 1, 5000) != 1) state.SkipWithError("no byte after the resynchronisation");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
void BM_ResyncPacketLink(benchmark::State& state) { resyncTime(state, vel::LinkKind::Packet); }
BENCHMARK(BM_ResyncPacketLink)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
