// The process environment.
#pragma once

#include <string>

namespace vel::platform {

// The value of the environment variable name; false when it is not set.
bool environmentValue(const char* name, std::string* value);

}  // namespace vel::platform
