// Win32 posted window and thread messages.
#include "platform/Messages.h"

#include <windows.h>

#include "platform/Time.h"

namespace vel::platform {

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(static_cast<HWND>(w), message, wParam, lParam) != 0;
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostThreadMessageA(threadId, message, wParam, lParam) != 0;
}

Window messageWindowCreate() {
  return CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void messageWindowDestroy(Window w) {
  if (w) DestroyWindow(static_cast<HWND>(w));
}

bool messageTake(Message* out, uint32_t ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message >= WM_USER) {
        out->window = msg.hwnd;
        out->message = msg.message;
        out->wParam = msg.wParam;
        out->lParam = msg.lParam;
        return true;
      }
      DispatchMessageA(&msg);
      continue;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (ms != kInfinite && elapsed >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms == kInfinite ? INFINITE : ms - elapsed, QS_ALLPOSTMESSAGE);
  }
}

}  // namespace vel::platform
