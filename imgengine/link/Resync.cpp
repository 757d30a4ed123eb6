// The resynchronisation handshake shared by both link kinds.
#include "base/LittleEndian.h"
#include "link/LinkBase.h"
#include "platform/Time.h"

namespace vel {

namespace {
// Each write and read of the handshake waits at most this long.
constexpr int kHandshakeTimeoutMs = 100;
// Attempts of one resynchronisation before the line is given up for this turn.
constexpr int kHandshakeAttempts = 10;
// Zero bytes accepted before the imager's marker; a line that only ever answers
// zeros is not an imager answering.
constexpr int kMaxLeadingZeros = 4096;
}  // namespace

// Host: 00 00 FF own token. Imager: any 00 bytes, one non-zero byte, its token.
bool LinkBase::exchangeTokens(uint32_t* imagerToken) {
  transport_.reset();
  const uint8_t intro[3] = {0x00, 0x00, 0xFF};
  uint8_t token[4];
  putLe32(token, ownToken_);
  transport_.write(intro, sizeof intro, kHandshakeTimeoutMs);
  transport_.write(token, sizeof token, kHandshakeTimeoutMs);
  uint8_t b = 0;
  transport_.read(&b, 1, kHandshakeTimeoutMs);
  for (int zeros = 0; !transport_.failed() && b == 0; ++zeros) {
    if (zeros == kMaxLeadingZeros) transport_.abort();
    transport_.read(&b, 1, kHandshakeTimeoutMs);
  }
  transport_.read(token, sizeof token, kHandshakeTimeoutMs);
  if (transport_.failed()) return false;
  *imagerToken = getLe32(token);
  return true;
}

void LinkBase::resynchronise() {
  ScopedLock line(lineLock_);
  if (transport_.failed()) {
    uint32_t imagerToken = 0;
    bool ok = false;
    for (int attempt = 0; attempt < kHandshakeAttempts && !shuttingDown_.load(); ++attempt)
      if ((ok = exchangeTokens(&imagerToken))) break;
    if (!ok) {
      ownToken_ |= 1u;
      resetAllPorts();
    } else if ((ownToken_ & 1u) || imagerToken != peerToken_) {
      peerToken_ = imagerToken & ~1u;
      ownToken_ &= ~1u;
      resetAllPorts();
    } else {
      retransmit();
    }
  }
  ready_.set();
}

}  // namespace vel
