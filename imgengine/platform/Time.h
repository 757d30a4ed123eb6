// Tick count, sleeping and the wait constants of the platform's waits.
#pragma once

#include <cstdint>

namespace vel::platform {

// Wait without a time limit.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds timeout as the library passes them (-1 = no limit) to a wait argument.
inline uint32_t waitMs(int timeoutMs) { return timeoutMs < 0 ? kInfinite : static_cast<uint32_t>(timeoutMs); }

uint32_t tickCount();  // milliseconds since an arbitrary start, wrapping at 2^32
void sleepMs(uint32_t ms);
// Wall-clock time in microseconds since 1970-01-01 UTC (the timestamps of field traces).
uint64_t wallClockMicroseconds();

}  // namespace vel::platform
