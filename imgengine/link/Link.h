// A link multiplexes up to 16 numbered ports over one transport. A PortPair joins
// an input port and an output port into one channel of the device connection.
#pragma once

#include <atomic>
#include <memory>

#include "base/ByteStream.h"

namespace vel {

// One channel: reads come from the input port, writes go to the output port.
// failed() = either port failed; flush/abort/reset act on both as the link kind says.
class PortPair : public ByteStream {
 public:
  using ByteStream::read;
  using ByteStream::write;
  int defaultTimeout() const override { return defaultTimeout_.load(); }
  // May be set while another thread reads the channel; a read already waiting keeps its timeout.
  void setDefaultTimeout(int timeoutMs) { defaultTimeout_.store(timeoutMs); }

 private:
  std::atomic<int> defaultTimeout_{-1};
};

class Link {
 public:
  virtual ~Link() = default;
  // A new channel whose two ports are constructed and reset (which registers them).
  virtual std::unique_ptr<PortPair> openPortPair(int inputPort, int outputPort) = 0;
};

enum class LinkKind { Packet, Direct };

// Builds a link over the transport (not owned); returns after the first
// resynchronisation attempt has ended, successful or not.
std::unique_ptr<Link> createLink(LinkKind kind, ByteStream& transport, int priorityParameter);

}  // namespace vel
