// Keyboard input into whatever window has the focus.
#pragma once

#include <windows.h>

#include "TypingEngine.h"

namespace keycaster {

class Win32KeySink : public KeySink {
 public:
  void keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) override;
  // WM_CHAR, posted to the focus window of the foreground thread; to the foreground
  // window itself when nothing has the focus; dropped when there is no foreground window.
  void postCharToFocus(uint8_t ch) override;
  // Lets the foreground thread take the injected key events before the next posted
  // character, so that characters and keys arrive in the order of the barcode.
  void keystrokeDone() override;

 private:
  int eventsSinceSync_ = 0;
};

class Win32Sleeper : public Sleeper {
 public:
  void sleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace keycaster
