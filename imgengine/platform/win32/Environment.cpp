#include "platform/Environment.h"

#include <windows.h>

namespace vel::platform {

bool environmentValue(const char* name, std::string* value) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return false;
  std::string text(needed, '\0');
  const DWORD got = GetEnvironmentVariableA(name, text.data(), needed);
  if (got == 0 || got >= needed) return false;
  text.resize(got);
  *value = text;
  return true;
}

}  // namespace vel::platform
