// An application that calls every export of the library with hostile arguments: null
// pointers, negative and huge lengths, counts and indices, bogus window, device context
// and thread handles, paths that are too long or lead into folders that do not exist.
// It does so in every state of the library: never connected, connected, during a
// capture and after a disconnect; then connect and disconnect themselves get hostile
// arguments, and at the end the library must still connect and capture as usual.
//
// The exports come from the export table; the hostile values from one list per
// argument type. A call must return (a watch thread ends the program naming a call that
// does not), must not write a caller's buffer past the length it was given, must not
// report success for a file it could not have written, and must return text that ends.
//
//   bad_callers PORT
// PORT is a COM port number that reaches a simulated imager (the driver maps it); the
// current folder is an empty one of the driver's. Prints one "FAIL" line per fault and a summary; exits 0
// when there was none.
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "ImgEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

int g_failures = 0;

void fail(const char* name, const std::string& what) {
  ++g_failures;
  std::printf("FAIL %s: %s\n", name, what.c_str());
  std::fflush(stdout);
}

// Ends the program when one call has not returned within the limit: a hang.
class HangWatch {
 public:
  HangWatch() : thread_([this] { watch(); }) {}
  ~HangWatch() {
    stop_ = true;
    thread_.join();
  }
  void enter(const char* name) {
    since_ = Clock::now().time_since_epoch().count();
    name_ = name;
  }
  void leave() { name_ = nullptr; }

 private:
  static constexpr std::chrono::seconds kLimit{60};
  void watch() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const char* name = name_;
      if (name && Clock::now().time_since_epoch().count() - since_ > Clock::duration(kLimit).count()) {
        std::printf("FAIL %s: no return within %lld s\n", name, static_cast<long long>(kLimit.count()));
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<const char*> name_{nullptr};
  std::atomic<Clock::rep> since_{0};
  std::thread thread_;
};

HangWatch* g_watch;

// The caller's side: output buffers filled with a canary byte, input bytes, paths.
constexpr size_t kBufferBytes = 1 << 16;
constexpr unsigned char kCanary = 0xA5;

struct CallerMemory {
  std::vector<unsigned char> out = std::vector<unsigned char>(kBufferBytes, kCanary);
  std::vector<unsigned char> in = std::vector<unsigned char>(kBufferBytes, 0xFF);
  std::vector<std::string> paths;
  int width = 0, height = 0;
};
CallerMemory* g_memory;

// Hostile values of each argument type.
template <class T>
std::vector<T> hostile();

template <>
std::vector<int> hostile<int>() {
  return {0, -1, 1, 22, 23, 255, 256, 65536, -65536, INT_MAX, INT_MIN};
}
template <>
std::vector<unsigned int> hostile<unsigned int>() {
  return {0u, 1u, 255u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
}
template <>
std::vector<char*> hostile<char*>() {
  return {nullptr, reinterpret_cast<char*>(g_memory->out.data())};
}
template <>
std::vector<unsigned char*> hostile<unsigned char*>() {
  return {nullptr, g_memory->out.data()};
}
template <>
std::vector<const unsigned char*> hostile<const unsigned char*>() {
  return {nullptr, g_memory->in.data()};
}
template <>
std::vector<const char*> hostile<const char*>() {
  std::vector<const char*> values{nullptr};
  for (const std::string& path : g_memory->paths) values.push_back(path.c_str());
  return values;
}
template <>
std::vector<int*> hostile<int*>() {
  return {nullptr, &g_memory->width};
}
#ifdef _WIN32
// Window handles and device contexts that name nothing; the system refuses them.
template <>
std::vector<HWND> hostile<HWND>() {
  return {nullptr, reinterpret_cast<HWND>(intptr_t{1}), reinterpret_cast<HWND>(intptr_t{-1}),
          reinterpret_cast<HWND>(intptr_t{0x12345678})};
}
template <>
std::vector<HDC> hostile<HDC>() {
  return {nullptr, reinterpret_cast<HDC>(intptr_t{1}), reinterpret_cast<HDC>(intptr_t{-1})};
}
#else
// Windows and device contexts are both void*: handles the library never made.
template <>
std::vector<void*> hostile<void*>() {
  static char notAHandle[64];
  return {nullptr, reinterpret_cast<void*>(intptr_t{1}), reinterpret_cast<void*>(intptr_t{-1}), notAHandle};
}
#endif

// Arguments that a contract lets the caller choose only within reason: a caller that
// asks VelOutputProgress to wait for hours is kept waiting, so it is given no long wait.
std::vector<int> intValues(const char* name, size_t argument) {
  if (std::strcmp(name, "VelOutputProgress") == 0 && argument == 1) return {0, -1, INT_MIN};
  return hostile<int>();
}

// Bytes that an output buffer without a length may receive, as the contract gives them:
// these exports write through the caller's pointer with no length, so they get a valid
// buffer (or null) and the canary is checked past the contract's size.
size_t contractBytes(const char* name) {
  if (std::strcmp(name, "VelGetBarcodeTypeOrderList") == 0) return 23;
  if (std::strcmp(name, "VelGetPrefixBarcodeList") == 0 || std::strcmp(name, "VelGetSuffixBarcodeList") == 0) return 12;
  return kBufferBytes;
}

// Exports that write or read the files their path names; every path given is hostile.
bool isFileExport(const char* name) { return std::strcmp(name, "VelSetImageSourceFolder") != 0; }

template <class T>
constexpr bool kIsOutput = std::is_same_v<T, char*> || std::is_same_v<T, unsigned char*>;

// The checks after one call.
template <class Tuple, size_t... I>
void checkOutputs(const char* name, const Tuple& args, long long result, bool hasResult, std::index_sequence<I...>) {
  auto one = [&](auto index) {
    constexpr size_t i = decltype(index)::value;
    using T = std::tuple_element_t<i, Tuple>;
    if constexpr (kIsOutput<T>) {
      if (std::get<i>(args) == nullptr) return;
      size_t allowed = contractBytes(name);
      if constexpr (i > 0) {
        // An int before the buffer is its length, unless the contract sizes the buffer.
        if constexpr (std::is_same_v<std::tuple_element_t<i - 1, Tuple>, int>) {
          const int length = std::get<i - 1>(args);
          if (allowed == kBufferBytes) {
            allowed = length <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(length), kBufferBytes);
            if (hasResult && result > static_cast<long long>(allowed)) {
              fail(name, "returned " + std::to_string(result) + " for a buffer of " + std::to_string(length));
            }
          }
        }
      }
      const auto& out = g_memory->out;
      for (size_t at = allowed; at < out.size(); ++at) {
        if (out[at] != kCanary) {
          fail(name, "wrote byte " + std::to_string(at) + " past the " + std::to_string(allowed) + " allowed");
          break;
        }
      }
    }
    if constexpr (std::is_same_v<T, const char*>) {
      if (hasResult && result == 1 && isFileExport(name)) {
        const char* path = std::get<i>(args);
        fail(name, std::string("reported success with the path ") +
                       (path ? "\"" + std::string(path).substr(0, 60) + "...\"" : std::string("null")));
      }
    }
  };
  (one(std::integral_constant<size_t, I>{}), ...);
  (void)one;
}

template <class R>
void checkReturned(const char* name, R value) {
  if constexpr (std::is_same_v<R, char*>) {
    if (value && strnlen(value, kBufferBytes) == kBufferBytes) fail(name, "returned text that does not end");
  } else if constexpr (std::is_same_v<R, unsigned char*>) {
    if (value) {
      volatile unsigned char first = value[0];  // readable
      (void)first;
    }
  }
#ifdef _WIN32
  if constexpr (std::is_same_v<R, HBITMAP>) {
    if (value) DeleteObject(value);
  }
#endif
}

template <class R, class... A, size_t... I>
void callOnce(const char* name, R(VEL_API* fn)(A...), const std::tuple<A...>& args, std::index_sequence<I...> seq) {
  std::fill(g_memory->out.begin(), g_memory->out.end(), kCanary);
  g_watch->enter(name);
  if constexpr (std::is_void_v<R>) {
    fn(std::get<I>(args)...);
    g_watch->leave();
    checkOutputs(name, args, 0, false, seq);
  } else {
    const R result = fn(std::get<I>(args)...);
    g_watch->leave();
    long long asNumber = 0;
    if constexpr (std::is_integral_v<R>) asNumber = static_cast<long long>(result);
    checkOutputs(name, args, asNumber, std::is_integral_v<R>, seq);
    checkReturned(name, result);
  }
}

template <class T>
std::vector<T> valuesFor(const char* name, size_t argument) {
  if constexpr (std::is_same_v<T, int>) {
    return intValues(name, argument);
  } else {
    return hostile<T>();
  }
}

// Every combination of the hostile values when they are few; otherwise every value of
// every argument at least once and seeded random combinations besides.
constexpr size_t kMostCombinations = 150;

template <class R, class... A, size_t... I>
int callHostile(const char* name, R(VEL_API* fn)(A...), std::index_sequence<I...> seq) {
  const std::tuple<std::vector<A>...> values{valuesFor<A>(name, I)...};
  const std::array<size_t, sizeof...(A)> counts{std::get<I>(values).size()...};
  size_t combinations = 1, widest = 1;
  for (size_t n : counts) combinations *= n, widest = std::max(widest, n);
  std::minstd_rand random(static_cast<unsigned>(std::strlen(name)) * 7919u);
  const bool all = combinations <= kMostCombinations;
  const size_t calls = all ? combinations : kMostCombinations;
  for (size_t k = 0; k < calls; ++k) {
    std::array<size_t, sizeof...(A)> at{};
    size_t rest = k;
    for (size_t i = 0; i < at.size(); ++i) {
      if (all) {
        at[i] = rest % counts[i], rest /= counts[i];
      } else {
        at[i] = k < widest ? k % counts[i] : random() % counts[i];
      }
    }
    callOnce(name, fn, std::tuple<A...>{std::get<I>(values)[at[I]]...}, seq);
  }
  return static_cast<int>(calls);
}

template <class R, class... A>
int callHostile(const char* name, R(VEL_API* fn)(A...)) {
  return callHostile(name, fn, std::index_sequence_for<A...>{});
}

struct Export {
  int ordinal;
  const char* name;
  int (*call)();
};

#define VEL_FN(ordinal, naming, result, name, bytes, parameters) \
  {ordinal, #name, [] { return callHostile(#name, &name); }},
#define VEL_ALIAS(ordinal, naming, result, name, bytes, parameters, target) VEL_FN(ordinal, naming, result, name, bytes, parameters)
const Export kExports[] = {
#include "ImgEngineExports.h"
};
#undef VEL_FN
#undef VEL_ALIAS

// Connect and disconnect change the state the others are called in: they get their
// own round.
bool changesState(const Export& e) {
  return std::strcmp(e.name, "VelDeviceConnect") == 0 || std::strcmp(e.name, "VelDeviceConnectEx") == 0 ||
         std::strcmp(e.name, "VelDeviceDisconnect") == 0;
}

int g_port = 0;
constexpr int kTimeoutMs = 3000;

bool connect() {
  g_watch->enter("VelDeviceConnect");
  const int result = VelDeviceConnect(g_port, kTimeoutMs);
  g_watch->leave();
  if (result != 1) std::printf("connect answered %d\n", result);
  return result == 1;
}

// The connection is in place and not marked failed: an exchange within the channel
// timeout answers (the 200 ms status check can miss on a loaded machine).
bool connectionIntact() {
  g_watch->enter("VelGetDeviceConfiguration");
  const bool intact = VelGetDeviceConfiguration() == 1;
  g_watch->leave();
  return intact;
}

bool captureRunning() {
  const int event = VelGetHostInitiatedOperationStatus() >> 8;
  return event != 0 && event != VEL_EVENT_DONE && event != VEL_EVENT_ABORTED;
}

// Starts a capture and waits a little for its first progress, so that the next export
// meets it running.
void startCapture() {
  VelCaptureImage(1, 1, 1, 0);
  const auto until = Clock::now() + std::chrono::milliseconds(200);
  while (!captureRunning() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

enum class State { NeverConnected, Connected, MidCapture, AfterDisconnect };
const char* stateName(State s) {
  switch (s) {
    case State::NeverConnected: return "never connected";
    case State::Connected: return "connected";
    case State::MidCapture: return "mid-capture";
    default: return "after disconnect";
  }
}

// Every export but connect and disconnect, in one state. A call that fails the
// connection (SetCommunicationError does by contract) is followed by a new connect, and
// a capture that ended by a new one, so that the next export meets the state again.
void callEveryExport(State state) {
  int exportsCalled = 0, calls = 0, reconnects = 0, captures = 0, duringCapture = 0;
  if (state == State::Connected || state == State::MidCapture) {
    if (!connect()) fail("VelDeviceConnect", std::string("no connection for the state ") + stateName(state));
  }
  for (const Export& e : kExports) {
    if (changesState(e)) continue;
    if (state == State::MidCapture && !captureRunning()) {
      startCapture();
      ++captures;
    }
    duringCapture += state == State::MidCapture && captureRunning();
    calls += e.call();
    ++exportsCalled;
    if ((state == State::Connected || state == State::MidCapture) && !connectionIntact()) {
      std::printf("%s: reconnect after %s\n", stateName(state), e.name);
      ++reconnects;
      if (!connect()) fail(e.name, "the library did not connect again afterwards");
    }
  }
  std::printf("%-17s %d exports, %d calls, %d reconnects, %d captures started, %d exports called during one\n",
              stateName(state), exportsCalled, calls, reconnects, captures, duringCapture);
  std::fflush(stdout);
  if (state != State::NeverConnected && state != State::AfterDisconnect) VelDeviceDisconnect();
}

// Connect and disconnect with hostile arguments: ports that do not exist, the imager's
// port with hostile timeouts and baud rates, disconnects in a row.
void connectHostile() {
  int calls = 0;
  for (int port : {INT_MIN, -1, 100, 101, 1000, INT_MAX}) {
    for (int timeout : {INT_MIN, -1, 0, INT_MAX}) {
      g_watch->enter("VelDeviceConnect");
      const int result = VelDeviceConnect(port, timeout);
      g_watch->leave();
      ++calls;
      if (result == 1) fail("VelDeviceConnect", "connected to port " + std::to_string(port));
    }
  }
  for (int timeout : {INT_MIN, -1, 0, 1, INT_MAX}) {
    for (int baud : {INT_MIN, -1, 0, 1, INT_MAX}) {
      g_watch->enter("VelDeviceConnectEx");
      VelDeviceConnectEx(g_port, timeout, baud);
      g_watch->leave();
      g_watch->enter("VelGetCommunicationStatus");
      const int status = VelGetCommunicationStatus();
      g_watch->leave();
      if (status != 1 && status != -3 && status != -4) fail("VelGetCommunicationStatus", std::to_string(status));
      ++calls;
    }
  }
  for (int i = 0; i < 3; ++i, ++calls) {
    g_watch->enter("VelDeviceDisconnect");
    VelDeviceDisconnect();
    g_watch->leave();
  }
  std::printf("%-17s %d calls\n", "connect", calls);
}

// After all that the library still works: it connects, captures and decodes.
void stillWorks() {
  if (!connect()) {
    fail("VelDeviceConnect", "no connection at the end");
    return;
  }
  // The configuration record holds what the hostile setters left: start from the imager's.
  VelSetFactoryDefaultConfiguration();
  VelSetTemporaryDeviceConfiguration();
  VelCaptureImage(1, 0, 1, 0);
  const auto until = Clock::now() + std::chrono::seconds(30);
  int event = 0;
  while (Clock::now() < until) {
    event = VelGetHostInitiatedOperationStatus() >> 8;
    if (event == VEL_EVENT_DONE || event == VEL_EVENT_ABORTED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (event != VEL_EVENT_DONE) fail("VelCaptureImage", "the last capture ended with event " + std::to_string(event));
  unsigned char text[64] = {};
  const int length = VelGetNumberOfDecodedBarcodes() == 1 ? VelGetBarcodeData(0, sizeof text, text) : 0;
  if (std::string(reinterpret_cast<char*>(text), length > 0 ? static_cast<size_t>(length) : 0) != "BAD-CALLERS") {
    fail("VelGetBarcodeData", "the last capture did not decode the scene's one barcode");
  }
  if (VelGetGreyImageDataSize() <= 0) fail("VelGetGreyImageDataSize", "no grey image in the last capture");
  if (VelGetCommunicationStatus() != 1) fail("VelGetCommunicationStatus", "not 1 at the end");
  VelDeviceDisconnect();
}

// The host settings that the setters store lasting (the registry under Wine), put back.
struct HostSettings {
  int autoSave = VelGetAutoSaveEnabled();
  std::string folder = VelGetImageSourceFolder() ? VelGetImageSourceFolder() : "";
  int hostPerspective = VelGetHostPerspectiveCorrectionEnabled();
  int perspectiveDisplay = VelGetPerspectiveDisplay();
  void restore() const {
    VelSetAutoSaveEnabled(autoSave);
    VelSetImageSourceFolder(folder.c_str(), 0);
    VelSetHostPerspectiveCorrectionEnabled(hostPerspective);
    VelSetPerspectiveDisplay(perspectiveDisplay);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bad_callers PORT\n");
    return 2;
  }
  g_port = std::atoi(argv[1]);
  namespace fs = std::filesystem;
  // A file where a folder is expected, a folder that is not there, names over the
  // system's limits (MAX_PATH 260, PATH_MAX 4096).
  std::ofstream("not-a-folder") << "a file";
  CallerMemory memory;
  memory.paths = {"",
                  "not-a-folder/image.bmp",
                  "no-such-folder/deeper/image.bmp",
                  "no-such-folder/" + std::string(300, 'a') + ".bmp",
                  std::string(5000, 'b') + ".bmp",
                  "."};
  g_memory = &memory;
  HangWatch watch;
  g_watch = &watch;
  const HostSettings settings;

  for (State state : {State::NeverConnected, State::Connected, State::MidCapture, State::AfterDisconnect}) {
    if (state == State::AfterDisconnect && connect()) VelDeviceDisconnect();
    callEveryExport(state);
  }
  connectHostile();
  stillWorks();
  settings.restore();

  if (fs::exists("no-such-folder")) fail("files", "a folder was made for a path into a missing folder");
  int exports = 0;
  for (const Export& e : kExports) exports += e.ordinal > 0;
  std::printf("bad callers: %d exports, %d faults\n", exports, g_failures);
  return g_failures == 0 && exports == 359 ? 0 : 1;
}
