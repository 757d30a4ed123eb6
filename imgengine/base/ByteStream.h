// The byte stream that every layer of the imager link implements: transports,
// link ports and port pairs. A stream that failed ignores reads and writes until a
// successful reset; callers do all their I/O and ask failed() once at the end.
#pragma once

#include <cstddef>

namespace vel {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  virtual bool failed() const = 0;
  void read(void* buffer, size_t length) { read(buffer, length, defaultTimeout()); }
  // Reads exactly length bytes; on timeout (ms, negative = no limit) or error the stream fails.
  virtual void read(void* buffer, size_t length, int timeoutMs) = 0;
  void write(const void* buffer, size_t length) { write(buffer, length, defaultTimeout()); }
  virtual void write(const void* buffer, size_t length, int timeoutMs) = 0;
  virtual void flush() = 0;
  // Marks the stream failed and wakes any call blocked in it.
  virtual void abort() = 0;
  // Brings the stream back into service.
  virtual void reset() = 0;

  virtual int defaultTimeout() const { return -1; }
};

}  // namespace vel
