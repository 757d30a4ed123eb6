// Win32 run-time libraries and the module pin.
#include "platform/Modules.h"

#include <windows.h>

namespace vel::platform {

Library* libraryLoad(const char* name) { return reinterpret_cast<Library*>(LoadLibraryA(name)); }

void* libraryEntry(Library* lib, const char* entry) {
  return lib ? reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), entry)) : nullptr;
}

void libraryFree(Library* lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

std::string programFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::string p(path, n);
  const size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

void* modulePin() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&modulePin), &module);
  return module;
}

void moduleUnpin(void* pin) {
  if (pin) FreeLibrary(static_cast<HMODULE>(pin));
}

void threadExitReleasingModule(void* pin) {
  if (pin) FreeLibraryAndExitThread(static_cast<HMODULE>(pin), 0);
}

}  // namespace vel::platform
