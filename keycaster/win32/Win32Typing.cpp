#include "Win32Typing.h"

namespace keycaster {

namespace {

// How long a keystroke may wait for a busy or hung target before typing goes on.
constexpr DWORD kKeystrokeWaitMs = 2000;

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

bool isDown(uint8_t vk) { return (GetKeyState(vk) & 0x8000) != 0; }

}  // namespace

// Sharing the foreground thread's input state makes GetKeyState here follow the key
// messages that thread has read: a key reads as down once the target has taken its
// press, and as up once it has taken its release.
void Win32KeySink::attachToForeground() {
  attachedThread_ = 0;
  deadline_ = GetTickCount() + kKeystrokeWaitMs;
  HWND foreground = GetForegroundWindow();
  if (!foreground) return;
  const DWORD thread = GetWindowThreadProcessId(foreground, nullptr);
  if (thread != GetCurrentThreadId() && AttachThreadInput(GetCurrentThreadId(), thread, TRUE)) {
    attachedThread_ = thread;
  }
}

void Win32KeySink::waitUntilTaken(uint8_t vk, bool down) const {
  while (isDown(vk) != down && static_cast<LONG>(deadline_ - GetTickCount()) > 0) Sleep(1);
}

// One event at a time: each press or release waits until the target has read it, so
// the state read is never ambiguous (a toggle bit would be, across attachments).
void Win32KeySink::keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) {
  if (eventsSinceSync_ == 0) attachToForeground();
  keybd_event(vk, scanCode, flags, 0);
  ++eventsSinceSync_;
  if (attachedThread_) waitUntilTaken(vk, !(flags & KEYEVENTF_KEYUP));
}

void Win32KeySink::postCharToFocus(uint8_t ch) {
  if (HWND target = focusOfForeground()) PostMessageA(target, WM_CHAR, ch, 0);
}

// Without a shared input state: each answered WM_NULL means the target thread came back
// to its message queue once more; one round per injected event, and two for the
// character it translates.
void Win32KeySink::waitByRoundTrips(HWND target, int events) const {
  for (int round = 0; round < events + 2; ++round) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kKeystrokeWaitMs, &result)) break;
  }
}

void Win32KeySink::keystrokeDone() {
  const int events = eventsSinceSync_;
  eventsSinceSync_ = 0;
  if (attachedThread_) {
    AttachThreadInput(GetCurrentThreadId(), attachedThread_, FALSE);
    attachedThread_ = 0;
    return;
  }
  HWND target = GetForegroundWindow();
  if (target && GetWindowThreadProcessId(target, nullptr) != GetCurrentThreadId()) waitByRoundTrips(target, events);
}

}  // namespace keycaster
