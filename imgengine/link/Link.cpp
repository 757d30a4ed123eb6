#include "link/Link.h"

#include "link/DirectLink.h"
#include "link/PacketLink.h"

namespace vel {

std::unique_ptr<Link> createLink(LinkKind kind, ByteStream& transport, int priorityParameter) {
  if (kind == LinkKind::Packet) return std::make_unique<PacketLink>(transport, priorityParameter);
  return std::make_unique<DirectLink>(transport, priorityParameter);
}

}  // namespace vel
