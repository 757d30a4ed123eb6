// An application that loads the library at run time, connects to COM7 (which the
// test driver maps to a velsim process), waits for progress on its own thread and
// unloads the library while connected. The unload must tear the connection down
// and return: prints "connect N", then "unloaded U in T ms" (U = 1 when the
// library is gone from the process), then, from the library loaded again,
// "reloaded status S" (-4: not connected) and "connect again N" (velsim serves one
// client at a time: 1 only once the first connection has ended).
#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
using Library = HMODULE;
static Library load() { return LoadLibraryA("ImgEngine.dll"); }
static void* entry(Library l, const char* name) { return reinterpret_cast<void*>(GetProcAddress(l, name)); }
static bool unload(Library l) { return FreeLibrary(l) != 0; }
static bool stillLoaded() { return GetModuleHandleA("ImgEngine.dll") != nullptr; }
#define VEL_CALL __stdcall
#else
#include <dlfcn.h>
using Library = void*;
static Library load() { return dlopen(VEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL); }
static void* entry(Library l, const char* name) { return dlsym(l, name); }
static bool unload(Library l) { return dlclose(l) == 0; }
static bool stillLoaded() {
  void* again = dlopen(VEL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (again) dlclose(again);
  return again != nullptr;
}
#define VEL_CALL
#endif

using ConnectEx = int(VEL_CALL*)(int port, int channelTimeoutMs, int baudRate);
using OutputProgress = int(VEL_CALL*)(int ignored, int timeoutSeconds);
using Status = int(VEL_CALL*)();

int main() {
  Library library = load();
  if (!library) return 2;
  auto connect = reinterpret_cast<ConnectEx>(entry(library, "VelDeviceConnectEx"));
  auto outputProgress = reinterpret_cast<OutputProgress>(entry(library, "VelOutputProgress"));
  if (!connect || !outputProgress) return 3;
  std::printf("connect %d\n", connect(7, 3000, 115200));
  std::fflush(stdout);
  outputProgress(0, 0);  // this thread now has a message queue of the library's
  const auto start = std::chrono::steady_clock::now();
  const bool unloaded = unload(library) && !stillLoaded();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("unloaded %d in %lld ms\n", unloaded ? 1 : 0, static_cast<long long>(ms.count()));
  std::fflush(stdout);

  library = load();
  if (!library) return 2;
  auto status = reinterpret_cast<Status>(entry(library, "VelGetCommunicationStatus"));
  connect = reinterpret_cast<ConnectEx>(entry(library, "VelDeviceConnectEx"));
  if (!status || !connect) return 3;
  std::printf("reloaded status %d\n", status());
  std::printf("connect again %d\n", connect(7, 3000, 115200));
  unload(library);
  return 0;
}
