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
  // Every key event returns once the foreground thread has taken it from its input
  // queue. Posted messages overtake queued input, so a character posted earlier would
  // reach the window ahead of the key typed before it.
  void keystrokeDone() override;

 private:
  void attachToForeground();
  void waitUntilTaken(uint8_t vk, bool down) const;
  void waitByRoundTrips(HWND target, int events) const;

  DWORD attachedThread_ = 0;
  DWORD deadline_ = 0;
  int eventsSinceSync_ = 0;
};

class Win32Sleeper : public Sleeper {
 public:
  void sleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace keycaster
