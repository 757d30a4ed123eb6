#include "transport/TerminalModeQuit.h"

#include <memory>

#include "transport/DeviceSeam.h"
#include "transport/PortMap.h"

namespace vel {

bool quitTerminalModeOutput(int port, uint32_t baudRate) {
  if (port < kFirstQuitPort || port > kLastQuitPort) return false;
  const std::unique_ptr<devices::SerialLine> line = openPortLine(port);
  if (!line) return false;
  devices::LineFormat format;
  format.baudRate = baudRate;
  if (!line->setLineFormat(format)) return false;
  line->purge();
  static const uint8_t kQuit[] = {'q', 'u', 'i', 't', '!', 0};
  devices::Operation op;
  const devices::IoStart started = line->write(kQuit, sizeof kQuit, op);
  uint32_t written = 0;
  const bool done = started != devices::IoStart::kFailed && op.event().wait(kQuitWriteWaitMs) &&
                    line->result(op, &written) && written == sizeof kQuit;
  // A write still pending is cancelled before its record and the port go.
  line->cancel(op);
  return done;
}

}  // namespace vel
