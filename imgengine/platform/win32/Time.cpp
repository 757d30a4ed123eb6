// Tick count and sleeping.
#include "platform/Time.h"

#include <windows.h>

namespace vel::platform {

uint32_t tickCount() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }

// The system time read once, advanced by the performance counter: the system
// time alone moves in steps of up to 16 ms. The first caller's reading wins.
uint64_t wallClockMicroseconds() {
  static LONG started = 0;
  static uint64_t baseMicros = 0;
  static LARGE_INTEGER baseCount{}, frequency{};
  if (InterlockedCompareExchange(&started, 1, 0) == 0) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // FILETIME counts 100 ns from 1601-01-01: 11,644,473,600 s before 1970.
    baseMicros = ticks / 10 - 11644473600ull * 1000000ull;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&baseCount);
    InterlockedExchange(&started, 2);
  }
  while (InterlockedCompareExchange(&started, 2, 2) != 2) Sleep(0);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t elapsed = static_cast<uint64_t>(now.QuadPart - baseCount.QuadPart);
  const uint64_t hz = static_cast<uint64_t>(frequency.QuadPart);
  return hz ? baseMicros + elapsed / hz * 1000000u + elapsed % hz * 1000000u / hz : baseMicros;
}

}  // namespace vel::platform
