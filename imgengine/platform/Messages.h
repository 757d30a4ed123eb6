// Window and thread messages. A window is the system's window handle on win32; on
// posix a handle to a message queue owned by the thread that created it.
#pragma once

#include <cstdint>

namespace vel::platform {

using Window = void*;
struct Message {
  Window window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);
// A window of the calling thread that only receives posted messages.
Window messageWindowCreate();
void messageWindowDestroy(Window w);
// Takes the next posted message of the calling thread (window and thread messages);
// waits at most ms (kInfinite = no limit, platform/Time.h). Creates the thread's
// queue on first use.
bool messageTake(Message* out, uint32_t ms);

}  // namespace vel::platform
