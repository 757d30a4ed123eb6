// Run-time libraries through dlopen.
#include "platform/Modules.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

namespace vel::platform {

Library* libraryLoad(const char* name) {
  std::string n(name ? name : "");
  // "X.dll" is the shared object libX.so here.
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dll") == 0) n = "lib" + n.substr(0, n.size() - 4) + ".so";
  return static_cast<Library*>(dlopen(n.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* libraryEntry(Library* lib, const char* entry) { return lib ? dlsym(lib, entry) : nullptr; }

void libraryFree(Library* lib) {
  if (lib) dlclose(lib);
}

std::string programFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.find_last_of('/'));
}

void* modulePin() { return nullptr; }
void moduleUnpin(void*) {}
void threadExitReleasingModule(void*) {}

}  // namespace vel::platform
