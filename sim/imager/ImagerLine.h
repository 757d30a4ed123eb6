// The imager's end of a simulated physical line: a serial line or a USB driver
// device. The imager's link layer reads what the host wrote and writes what the
// host is to read; the line itself (serial break handshake, USB I/O control)
// tells it when the host has run its line recovery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sim {

class ImagerLine {
 public:
  virtual ~ImagerLine() = default;

  // Waits at most timeoutMs (negative = no limit) for bytes the host wrote and
  // returns how many were copied (at most max); 0 on timeout or when the line is closed.
  virtual size_t read(uint8_t* buffer, size_t max, int timeoutMs) = 0;
  // Bytes for the host to read.
  virtual void write(const uint8_t* data, size_t length) = 0;
  // True once the line is gone (port closed, device unplugged).
  virtual bool closed() const = 0;
  // Answers true once for each line recovery the host completed (a break the
  // imager answered, a successful USB I/O control): the imager then drops any
  // partly received frame and expects the resynchronisation bytes.
  virtual bool takeLineRecovery() = 0;
  // A line that can: from now on each host write calls the handler on the
  // host's thread once the bytes are in, with no lock of the line held; null
  // ends that and returns once no call runs any more. Answers whether the line
  // calls handlers; a line that does not leaves its reader to wait for bytes.
  virtual bool setArrivalHandler(std::function<void()>) { return false; }
};

}  // namespace sim
