// Configuration of the serial scanner through the scanner maker's SSI library: the
// link check at Start and keeping the scanner's return-suffix parameter equal to the
// "Send Return" setting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "KeyCasterCore.h"

namespace keycaster {

constexpr uint32_t kSsiBaudRate = 9600;
constexpr size_t kSsiReplyBufferBytes = 5000;
// Scanner parameter that makes the scanner append a Return of its own.
constexpr uint8_t kSsiReturnParameter = 0xEB;

// The SSI library's entry points, named by what the wedge uses them for (the
// ordinal of each in brackets). The window handle is the adapter's business.
class SsiLibrary {
 public:
  virtual ~SsiLibrary() = default;
  virtual int openLink(uint32_t baudRate, int port) = 0;                           // (2) 0 = open
  virtual void closeLink(int port) = 0;                                             // (3)
  virtual int checkReady(int port, int value) = 0;                                  // (15) 0 = answered
  virtual void setReplyBuffer(int port, uint8_t* buffer, int size) = 0;             // (27)
  virtual void setMode(int port, int value) = 0;                                    // (21)
  virtual int requestParameter(uint8_t* buffer, int count, int port) = 0;          // (7) 0 = done
  virtual void writeParameter(uint8_t* buffer, int count, int port) = 0;           // (9)
};

enum class SsiStartResult {
  LinkFailed,  // the link did not open: report it and fall back to the HID scanner
  NotReady,    // the scanner did not answer: fall back to the HID scanner silently
  Configured,  // the scanner's Return parameter follows "Send Return"
};

// From the second opening of the link on (the caller has probed the port, opened and
// closed the link once and closed the port). On Configured the scanner adds the
// Return, and the caller opens the port for reading.
SsiStartResult RunSsiStart(SsiLibrary& ssi, Sleeper& sleeper, int port, bool sendReturn,
                           uint8_t* replyBuffer);

// "Send Return" changed while the scanner is configured: true when the link opened
// and the parameter was synchronised (the scanner keeps handling the Return); false
// when the link failed. Either way the caller reopens the port for reading.
bool ResyncReturnParameter(SsiLibrary& ssi, Sleeper& sleeper, int port, bool sendReturn,
                           uint8_t* replyBuffer);

}  // namespace keycaster
