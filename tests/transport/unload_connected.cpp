// An application that loads the library at run time, connects to COM7 (which the
// test driver maps to a velsim process) and unloads the library while connected.
// The unload must tear the connection down and return: prints "connect N" and
// then "unloaded U in T ms" (U = 1 when the library is gone from the process).
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

int main() {
  Library library = load();
  if (!library) return 2;
  auto connect = reinterpret_cast<ConnectEx>(entry(library, "VelDeviceConnectEx"));
  if (!connect) return 3;
  std::printf("connect %d\n", connect(7, 3000, 115200));
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const bool unloaded = unload(library) && !stillLoaded();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("unloaded %d in %lld ms\n", unloaded ? 1 : 0, static_cast<long long>(ms.count()));
  return 0;
}
