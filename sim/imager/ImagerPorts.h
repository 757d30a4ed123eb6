// The simulated imager's view of its link: numbered ports carrying bytes. The
// imager reads commands on port 1 and answers on port 0 (the host's command
// channel); it sends its own messages on port 2 and reads the host's
// acknowledgements on port 3 (the event channel). The imager's link layer
// (packet or direct framing) implements this; the imager's command set uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sim {

// The ports of the two channels, seen from the imager.
constexpr int kAnswerOut = 0;
constexpr int kCommandIn = 1;
constexpr int kEventOut = 2;
constexpr int kEventIn = 3;

class ImagerPort {
 public:
  virtual ~ImagerPort() = default;
  // Reads exactly length bytes unless the time runs out (negative = no limit) or
  // the link is shut down; answers how many were read.
  virtual size_t read(uint8_t* buffer, size_t length, int timeoutMs) = 0;
  // Queues bytes for the host; a packet link sends full packets at once and the
  // rest at flush.
  virtual void write(const uint8_t* data, size_t length) = 0;
  virtual void flush() = 0;
  // Whether the session this port belongs to has ended: the link dropped all
  // port state since (a host that lost its state asked for a reset). Such a port
  // reads nothing and sends nothing any more.
  virtual bool ended() const { return false; }
};

class ImagerPorts {
 public:
  virtual ~ImagerPorts() = default;
  virtual ImagerPort& port(int number) = 0;  // 0..15
  // The port in the link's current session only: what a response writes after
  // the host reset the link does not reach the new session, and its reads do
  // not take the new session's bytes.
  virtual std::unique_ptr<ImagerPort> sessionPort(int number) = 0;
};

}  // namespace sim
