// Win32 posted window and thread messages, and window-less timers.
#include "platform/Messages.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Time.h"

namespace vel::platform {

namespace {

// The system numbers thread timers per thread: a timer is found by its thread and
// number, and known to the caller by an id of the process's own.
struct TimerEntry {
  uintptr_t id;
  TimerCallback callback;
  void* context;
};
using TimerKey = std::pair<DWORD, UINT_PTR>;

std::mutex g_timersLock;
std::map<TimerKey, TimerEntry>& timers() {
  static std::map<TimerKey, TimerEntry> entries;
  return entries;
}
std::atomic<uintptr_t> g_lastTimer{0};

// Runs on the starting thread when its message loop dispatches the timer.
void CALLBACK timerFired(HWND, UINT, UINT_PTR number, DWORD) {
  KillTimer(nullptr, number);
  TimerEntry entry{};
  {
    std::lock_guard<std::mutex> g(g_timersLock);
    auto it = timers().find(TimerKey{GetCurrentThreadId(), number});
    if (it == timers().end()) return;
    entry = it->second;
    timers().erase(it);
  }
  entry.callback(entry.context, entry.id);
}

Message taken(const MSG& msg) { return Message{msg.hwnd, msg.message, msg.wParam, msg.lParam}; }

}  // namespace

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
        *out = taken(msg);
        return true;
      }
      DispatchMessageA(&msg);
      continue;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (ms != kInfinite && elapsed >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms == kInfinite ? INFINITE : ms - elapsed,
                              QS_ALLPOSTMESSAGE | QS_TIMER);
  }
}

bool messagePeek(Message* out, uint32_t message) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, message, message, PM_REMOVE)) return false;
  *out = taken(msg);
  return true;
}

void messageDispatch(const Message& message) {
  MSG msg{};
  msg.hwnd = static_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void messageQueuesRelease() {}  // the system owns the queues

uintptr_t timerStart(uint32_t ms, TimerCallback callback, void* context) {
  std::lock_guard<std::mutex> g(g_timersLock);
  const UINT_PTR number = SetTimer(nullptr, 0, ms, timerFired);
  if (number == 0) return 0;
  const uintptr_t id = ++g_lastTimer;
  timers()[TimerKey{GetCurrentThreadId(), number}] = TimerEntry{id, callback, context};
  return id;
}

// Dispatches the thread's WM_TIMER messages: ours run their callbacks; an
// application's own timers run their procedures, as its message loop would have.
void timersRun() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageA(&msg);
}

}  // namespace vel::platform
