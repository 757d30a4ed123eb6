#include "Win32Typing.h"

namespace keycaster {

namespace {

HWND focusOfForeground() {
  HWND foreground = GetForegroundWindow();
  if (!foreground) return nullptr;
  const DWORD foregroundThread = GetWindowThreadProcessId(foreground, nullptr);
  const DWORD self = GetCurrentThreadId();
  const bool attached = foregroundThread != self && AttachThreadInput(self, foregroundThread, TRUE);
  HWND focus = GetFocus();
  if (attached) AttachThreadInput(self, foregroundThread, FALSE);
  return focus ? focus : foreground;
}

}  // namespace

void Win32KeySink::keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) {
  keybd_event(vk, scanCode, flags, 0);
  ++eventsSinceSync_;
}

void Win32KeySink::postCharToFocus(uint8_t ch) {
  if (HWND target = focusOfForeground()) PostMessageA(target, WM_CHAR, ch, 0);
}

void Win32KeySink::keystrokeDone() {
  HWND target = GetForegroundWindow();
  const int events = eventsSinceSync_;
  eventsSinceSync_ = 0;
  if (!target || GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId()) return;
  // Each answered WM_NULL means the target thread came back to its message queue once
  // more; one round per injected event, and two for the character it translates.
  for (int round = 0; round < events + 2; ++round) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result)) break;
  }
}

}  // namespace keycaster
