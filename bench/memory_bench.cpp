// Allocations in the steady state of a grey capture: a 1280 x 1024 capture from
// the simulated imager over the DirectLink (USB) and over the PacketLink (USB with
// packet framing, the first USB device's fall-back link), unpaced, with 4,096- and
// 65,536-byte blocks. The malloc family is replaced in this program by counting
// wrappers around the C library's own; operator new goes through them. Each
// allocation made while counting keeps its call stack, which tells whose it is:
// the outermost frame of this program's code in the simulator's namespace makes
// it the imager's, in the library's (or an export) the host's. Allocations per
// block: the difference of the host's allocations per frame between the two block
// sizes over the difference of their block counts (what a frame costs once does
// not depend on the block size). The host's call stacks are printed at the end,
// most frequent first.
#include <benchmark/benchmark.h>

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ImgEngine.h"
#include "SimulatedImager.h"
#include "TexturedPixels.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

constexpr int kWidth = 1280, kHeight = 1024, kPixels = kWidth * kHeight;
constexpr int kUsbPort = 0;
constexpr int kPacketPayloadBytes = 1016;

// The record of the allocations made while counting: a fixed table, written
// without allocating.
constexpr int kStackFrames = 32;
constexpr int kMaxRecords = 1 << 17;
struct Record {
  int depth;
  void* frames[kStackFrames];
};
Record records[kMaxRecords];
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<int> recorded{0};
thread_local bool insideHook = false;

void noteAllocation() {
  if (!counting.load(std::memory_order_relaxed) || insideHook) return;
  insideHook = true;
  allocations.fetch_add(1, std::memory_order_relaxed);
  const int slot = recorded.fetch_add(1, std::memory_order_relaxed);
  if (slot < kMaxRecords) records[slot].depth = backtrace(records[slot].frames, kStackFrames);
  insideHook = false;
}

}  // namespace

extern "C" {
void* malloc(size_t n) {
  noteAllocation();
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t n) {
  noteAllocation();
  return __libc_calloc(count, n);
}
void* realloc(void* p, size_t n) {
  noteAllocation();
  return __libc_realloc(p, n);
}
void* memalign(size_t alignment, size_t n) {
  noteAllocation();
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  noteAllocation();
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  noteAllocation();
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = __libc_memalign(alignment, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
}

namespace {

// Function names of code addresses: addr2line on this program's own code (its
// functions in unnamed namespaces have no dynamic symbol), dladdr elsewhere.
class Symbols {
 public:
  // Names the addresses of this program's code in one run of addr2line.
  void resolve(const std::vector<void*>& addresses) {
    std::vector<std::pair<void*, uintptr_t>> wanted;
    for (void* address : addresses) {
      Dl_info info{};
      if (names_.count(address) || !dladdr(address, &info) || !isSelf(info)) continue;
      // A return address: the call is the byte before it.
      wanted.push_back({address, reinterpret_cast<uintptr_t>(address) - 1 - reinterpret_cast<uintptr_t>(info.dli_fbase)});
      names_[address] = "?";
    }
    char self[4096] = {};
    char list[] = "/tmp/vel-memory-bench-XXXXXX";
    if (wanted.empty() || readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return;
    const int fd = mkstemp(list);
    if (fd < 0) return;
    std::string offsets;
    for (const auto& w : wanted) offsets += "0x" + toHex(w.second) + "\n";
    const bool written = ::write(fd, offsets.data(), offsets.size()) == static_cast<ssize_t>(offsets.size());
    ::close(fd);
    const std::string command = std::string("addr2line -f -C -e '") + self + "' < " + list + " 2>/dev/null";
    FILE* pipe = written ? popen(command.c_str(), "r") : nullptr;
    if (pipe) {
      char function[8192], where[8192];
      for (const auto& w : wanted) {
        if (!std::fgets(function, sizeof function, pipe) || !std::fgets(where, sizeof where, pipe)) break;
        std::string at = where;
        const size_t slash = at.rfind('/');
        std::string name = std::string(function) + " at " + (slash == std::string::npos ? at : at.substr(slash + 1));
        name.erase(std::remove(name.begin(), name.end(), '\n'), name.end());
        names_[w.first] = name;
      }
      pclose(pipe);
    }
    std::remove(list);
  }

  std::string name(void* address) {
    auto found = names_.find(address);
    if (found != names_.end()) return found->second;
    Dl_info info{};
    std::string result = "?";
    if (dladdr(address, &info) && info.dli_fname) {
      if (isSelf(info)) {
        resolve({address});
        return names_[address];
      }
      if (info.dli_sname) {
        int status = 0;
        char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        result = status == 0 && demangled ? demangled : info.dli_sname;
        std::free(demangled);
      } else {
        result = std::string(std::strrchr(info.dli_fname, '/') ? std::strrchr(info.dli_fname, '/') + 1 : info.dli_fname);
      }
    }
    names_[address] = result;
    return result;
  }

 private:
  static std::string toHex(uintptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(value));
    return text;
  }
  // This program's own code: the object of one of its functions.
  static bool isSelf(const Dl_info& info) {
    static Dl_info self{};
    static const bool known = dladdr(reinterpret_cast<void*>(&isSelfMarker), &self) != 0;
    return known && info.dli_fbase == self.dli_fbase;
  }
  static void isSelfMarker() {}
  std::map<void*, std::string> names_;
};

bool startsWith(const std::string& s, const char* part) { return s.rfind(part, 0) == 0; }

// Whose code a frame is: the library's (vel:: or an export), the simulator's
// (sim::), or neither (the standard library, the C library, this program).
enum class Owner { kLibrary, kSimulator, kOther };
Owner ownerOf(const std::string& name) {
  if (startsWith(name, "sim::")) return Owner::kSimulator;
  if (startsWith(name, "vel::") || startsWith(name, "Vel")) return Owner::kLibrary;
  return Owner::kOther;
}

// The code that allocates: the innermost frame of either; the thread: the
// outermost frame of either (a host thread runs the simulated USB driver's code
// when it writes to the device, as it would run a real driver's).
struct Attribution {
  Owner code = Owner::kOther, thread = Owner::kOther;
};
Attribution attribute(Symbols& symbols, const Record& r) {
  Attribution a;
  for (int i = 0; i < r.depth && a.code == Owner::kOther; ++i) a.code = ownerOf(symbols.name(r.frames[i]));
  for (int i = r.depth - 1; i >= 0 && a.thread == Owner::kOther; --i) a.thread = ownerOf(symbols.name(r.frames[i]));
  return a;
}

struct Tally {
  long host = 0;            // library code (on the host's threads)
  long imager = 0;          // simulator code on the imager's threads
  long deviceOnHost = 0;    // simulator code (the simulated driver) on host threads
  long unattributed = 0;
  std::map<std::vector<void*>, long> hostStacks;
};

Tally tallyRecords() {
  Symbols symbols;
  Tally t;
  const int n = std::min(recorded.load(), kMaxRecords);
  std::vector<void*> addresses;
  for (int i = 0; i < n; ++i) addresses.insert(addresses.end(), records[i].frames, records[i].frames + records[i].depth);
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
  symbols.resolve(addresses);
  for (int i = 0; i < n; ++i) {
    const Attribution a = attribute(symbols, records[i]);
    if (a.code == Owner::kLibrary) {
      ++t.host;
    } else if (a.code == Owner::kSimulator) {
      ++(a.thread == Owner::kLibrary ? t.deviceOnHost : t.imager);
    } else {
      ++t.unattributed;
    }
    if (a.thread == Owner::kLibrary)
      t.hostStacks[std::vector<void*>(records[i].frames + 2, records[i].frames + records[i].depth)]++;
  }
  return t;
}

std::map<std::vector<void*>, long> hostStacksSeen;

void printHostStacks() {
  if (hostStacksSeen.empty()) {
    std::fprintf(stderr, "memory_bench: no allocation on a host thread in the steady state\n");
    return;
  }
  std::vector<std::pair<long, std::vector<void*>>> sorted;
  for (const auto& [stack, count] : hostStacksSeen) sorted.push_back({count, stack});
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  Symbols symbols;
  std::fprintf(stderr, "memory_bench: allocations on host threads in the steady state by call stack (all runs):\n");
  for (size_t i = 0; i < sorted.size() && i < 8; ++i) {
    std::fprintf(stderr, "  %ld allocations:\n", sorted[i].first);
    for (size_t f = 0; f < sorted[i].second.size() && f < 14; ++f)
      std::fprintf(stderr, "    %s\n", symbols.name(sorted[i].second[f]).c_str());
  }
}

std::vector<uint8_t> texturedPixels() { return ::texturedPixels(kWidth, kHeight); }

bool captureOnce() {
  VelCaptureGreyImage();
  int event = 0;
  for (int i = 0; i < 100000 && event != VEL_EVENT_GREY_IMAGE_READY; ++i) event = VelOutputProgress(0, 0);
  return event == VEL_EVENT_GREY_IMAGE_READY;
}

// Per-frame host allocations of the last run of each link and block size, for the
// per-block figure of the 65,536-byte run.
std::map<std::pair<int, int>, double> hostPerFrame;

// Arguments: link (0 DirectLink, 1 PacketLink), block size. Each iteration is one
// frame; three frames before counting warm the connection and its buffers up.
void BM_SteadyStateAllocations(benchmark::State& state) {
  const bool packets = state.range(0) != 0;
  const int blockSize = static_cast<int>(state.range(1));
  sim::ImagerIdentity identity;
  identity.blockSize = blockSize;
  sim::SimulatedImager imager(kUsbPort, identity, packets);
  sim::Scene scene;
  scene.image.width = kWidth;
  scene.image.height = kHeight;
  scene.image.grey = texturedPixels();
  imager.setScene(scene);
  VelOutputProgress(0, 0);  // this thread's progress queue, before registering it
  if (VelDeviceConnectEx(kUsbPort, 3000, 115200) != 1) {
    state.SkipWithError("connect failed");
    return;
  }
  VelRegisterHostOperationProgressThread(static_cast<unsigned int>(syscall(SYS_gettid)));
  for (int i = 0; i < 3; ++i)
    if (!captureOnce()) state.SkipWithError("no image while warming up");
  allocations = 0;
  recorded = 0;
  counting = true;
  for (auto _ : state)
    if (!captureOnce()) state.SkipWithError("no image");
  counting = false;
  VelDeviceDisconnect();

  const double frames = double(state.iterations());
  const Tally t = tallyRecords();
  for (const auto& [stack, count] : t.hostStacks) hostStacksSeen[stack] += count;
  const double blocks = std::ceil(double(kPixels) / blockSize);
  const double host = double(t.host) / frames;
  hostPerFrame[{packets, blockSize}] = host;
  state.counters["allocs_per_frame"] = double(allocations.load()) / frames;
  state.counters["host_allocs_per_frame"] = host;
  state.counters["imager_allocs_per_frame"] = double(t.imager) / frames;
  state.counters["sim_driver_allocs_on_host_threads_per_frame"] = double(t.deviceOnHost) / frames;
  state.counters["unattributed_allocs_per_frame"] = double(t.unattributed) / frames;
  state.counters["blocks_per_frame"] = blocks;
  if (recorded.load() > kMaxRecords) state.counters["stacks_not_recorded"] = recorded.load() - kMaxRecords;
  // The per-block figure once both block sizes of this link ran.
  const auto small = hostPerFrame.find({packets, 4096});
  if (blockSize != 4096 && small != hostPerFrame.end()) {
    const double smallBlocks = std::ceil(double(kPixels) / 4096);
    state.counters["host_allocs_per_block"] = (small->second - host) / (smallBlocks - blocks);
  }
  if (packets) state.counters["host_allocs_per_payload_packet"] = host / std::ceil(double(kPixels) / kPacketPayloadBytes);
}
BENCHMARK(BM_SteadyStateAllocations)
    ->Args({0, 4096})
    ->Args({0, 65536})
    ->Args({1, 4096})
    ->Args({1, 65536})
    ->ArgNames({"packet_link", "block"})
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // The unwinder loads on its first use; not while counting.
  void* warm[4];
  backtrace(warm, 4);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printHostStacks();
  return 0;
}
