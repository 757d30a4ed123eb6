#include "core/Text.h"

#include <algorithm>
#include <cstring>

namespace vel {

int copyText(const char* text, int available, int maxLength, char* buffer) {
  if (maxLength <= 0 || available <= 0 || !buffer) return 0;
  const int n = std::min(available, maxLength);
  std::memcpy(buffer, text, static_cast<size_t>(n));
  return n;
}

}  // namespace vel
