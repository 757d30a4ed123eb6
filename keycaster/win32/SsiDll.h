// The serial scanner interface library, imported by ordinal only (see ssiDLL.def).
#pragma once

#include <windows.h>

#include "SsiSequence.h"

extern "C" {
int __stdcall ssiOpenLink(HWND window, int baudRate, int port);                    // 2
int __stdcall ssiCloseLink(HWND window, int port);                                 // 3
int __stdcall ssiRequestParameter(unsigned char* buffer, int count, int port);     // 7
int __stdcall ssiWriteParameter(unsigned char* buffer, int count, int port);       // 9
int __stdcall ssiCheckReady(int port, int value);                                  // 15
int __stdcall ssiSetMode(int port, int value);                                     // 21
int __stdcall ssiSetReplyBuffer(int port, unsigned char* buffer, int size);        // 27
}

namespace keycaster {

// The SSI library bound to the dialog window that it reports to.
class SsiDll : public SsiLibrary {
 public:
  explicit SsiDll(HWND window) : window_(window) {}
  int openLink(uint32_t baudRate, int port) override { return ssiOpenLink(window_, static_cast<int>(baudRate), port); }
  void closeLink(int port) override { ssiCloseLink(window_, port); }
  int checkReady(int port, int value) override { return ssiCheckReady(port, value); }
  void setReplyBuffer(int port, uint8_t* buffer, int size) override { ssiSetReplyBuffer(port, buffer, size); }
  void setMode(int port, int value) override { ssiSetMode(port, value); }
  int requestParameter(uint8_t* buffer, int count, int port) override { return ssiRequestParameter(buffer, count, port); }
  void writeParameter(uint8_t* buffer, int count, int port) override { ssiWriteParameter(buffer, count, port); }

 private:
  HWND window_;
};

}  // namespace keycaster
