// Taking an imager out of terminal mode: a fixed text written straight to a COM
// port, outside any connection.
#pragma once

#include <cstdint>

namespace vel {

constexpr int kFirstQuitPort = 1;
constexpr int kLastQuitPort = 7;
// How long the write may take before the port is closed anyway.
constexpr int kQuitWriteWaitMs = 1000;

// Opens COM port 1..7 (what the port map names for it) exclusively, sets baudRate with 8 data bits, no parity,
// one stop bit, binary and no parity check over its current state, purges it
// and writes "quit!" and a zero byte. True only when all 6 bytes were written
// within kQuitWriteWaitMs; false for another port number, a port that cannot be
// opened, or settings the port refuses.
bool quitTerminalModeOutput(int port, uint32_t baudRate);

}  // namespace vel
