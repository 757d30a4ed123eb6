#include "SsiSequence.h"

namespace keycaster {

namespace {

// Reads the Return parameter and writes it when it differs from the setting. A failed
// read leaves the parameter as it is.
void syncReturnParameter(SsiLibrary& ssi, Sleeper& sleeper, int port, bool sendReturn,
                         uint8_t* replyBuffer) {
  ssi.setReplyBuffer(port, replyBuffer, static_cast<int>(kSsiReplyBufferBytes));
  ssi.setMode(port, 1);
  replyBuffer[0] = kSsiReturnParameter;
  if (ssi.requestParameter(replyBuffer, 1, port) != 0) return;
  if ((replyBuffer[1] != 0) == sendReturn) return;
  sleeper.sleepMs(150);
  replyBuffer[0] = kSsiReturnParameter;
  replyBuffer[1] = sendReturn ? 1 : 0;
  ssi.writeParameter(replyBuffer, 2, port);
}

}  // namespace

SsiStartResult RunSsiStart(SsiLibrary& ssi, Sleeper& sleeper, int port, bool sendReturn,
                           uint8_t* replyBuffer) {
  if (ssi.openLink(kSsiBaudRate, port) != 0) {
    ssi.closeLink(port);
    return SsiStartResult::LinkFailed;
  }
  if (ssi.checkReady(port, 1) != 0) {
    ssi.closeLink(port);
    return SsiStartResult::NotReady;
  }
  sleeper.sleepMs(150);
  if (ssi.checkReady(port, 1) != 0) {
    ssi.closeLink(port);
    return SsiStartResult::NotReady;
  }
  sleeper.sleepMs(150);
  ssi.checkReady(port, 1);
  sleeper.sleepMs(150);

  syncReturnParameter(ssi, sleeper, port, sendReturn, replyBuffer);
  ssi.closeLink(port);
  sleeper.sleepMs(50);
  return SsiStartResult::Configured;
}

bool ResyncReturnParameter(SsiLibrary& ssi, Sleeper& sleeper, int port, bool sendReturn,
                           uint8_t* replyBuffer) {
  if (ssi.openLink(kSsiBaudRate, port) != 0) {
    ssi.closeLink(port);
    return false;
  }
  syncReturnParameter(ssi, sleeper, port, sendReturn, replyBuffer);
  ssi.closeLink(port);
  sleeper.sleepMs(50);
  return true;
}

}  // namespace keycaster
