// Tick count and sleeping.
#include "platform/Time.h"

#include <windows.h>

namespace vel::platform {

uint32_t tickCount() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace vel::platform
