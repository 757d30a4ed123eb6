#include "platform/Environment.h"

#include <cstdlib>

namespace vel::platform {

bool environmentValue(const char* name, std::string* value) {
  const char* v = std::getenv(name);
  if (!v) return false;
  *value = v;
  return true;
}

}  // namespace vel::platform
