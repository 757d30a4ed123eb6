// A link's reception from the imager: the resynchronisation answer, then frames
// (PacketLink headers, CRCs and sequence numbers; DirectLink headers and
// pieces) read by the link's receiver thread while the host reads both channels
// of a connection. The first byte chooses the link kind.
#include "DeviceBytes.h"
#include "link/Link.h"

namespace {
constexpr int kLinkPriority = 29000000;  // the device connection's
constexpr int kReadTimeoutMs = 2;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  const vel::LinkKind kind = (in.byte() & 1) ? vel::LinkKind::Direct : vel::LinkKind::Packet;
  fuzz::DeviceBytes imager(in.rest(), in.restSize());
  auto link = vel::createLink(kind, imager, kLinkPriority);
  auto command = link->openPortPair(0, 1);
  auto event = link->openPortPair(2, 3);
  uint8_t buffer[512];
  for (int round = 0; round < 2; ++round) {
    for (auto* channel : {command.get(), event.get()}) {
      channel->write(buffer, 8, kReadTimeoutMs);
      channel->flush();
      channel->read(buffer, round == 0 ? 4 : sizeof buffer, kReadTimeoutMs);
      if (channel->failed()) channel->reset();
    }
  }
  event.reset();
  command.reset();
  link.reset();
  return 0;
}
