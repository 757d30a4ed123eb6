// Win32 posted window and thread messages, and window-less timers.
#include "platform/Messages.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Modules.h"
#include "platform/Time.h"

// A timer's procedure is library code that the thread's message loop calls: a
// pending timer holds a reference on the library's module, released when the
// timer has run. The release can be the last reference (the application freed
// the library meanwhile), so it must be the last thing the timer procedure does
// and must not return into the unloaded code: velTimerFired, below, ends by
// jumping to FreeLibrary, which then returns straight to the message loop. (A
// thread that ends with a timer pending never runs it: the library then stays
// loaded until the process ends.)
extern "C" void CALLBACK velTimerFired(HWND, UINT, UINT_PTR number, DWORD);
// Runs timer number's callback; answers the module reference to release, or null.
extern "C" HMODULE velTimerFinished(UINT_PTR number);

namespace vel::platform {

namespace {

// The system numbers thread timers per thread: a timer is found by its thread and
// number, and known to the caller by an id of the process's own.
struct TimerEntry {
  uintptr_t id;
  TimerCallback callback;
  void* context;
  DWORD started;
  DWORD ms;
  void* pin;
};
using TimerKey = std::pair<DWORD, UINT_PTR>;

std::mutex g_timersLock;
std::map<TimerKey, TimerEntry>& timers() {
  static std::map<TimerKey, TimerEntry> entries;
  return entries;
}
std::atomic<uintptr_t> g_lastTimer{0};

// Takes the calling thread's timer number out of the table and kills it.
bool takeTimer(UINT_PTR number, TimerEntry* out) {
  {
    std::lock_guard<std::mutex> g(g_timersLock);
    auto it = timers().find(TimerKey{GetCurrentThreadId(), number});
    if (it == timers().end()) return false;
    *out = it->second;
    timers().erase(it);
  }
  KillTimer(nullptr, number);
  return true;
}

Message taken(const MSG& msg) { return Message{msg.hwnd, msg.message, msg.wParam, msg.lParam}; }

}  // namespace

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam, Posting) {
  return PostMessageA(static_cast<HWND>(w), message, wParam, lParam) != 0;
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam, Posting) {
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
  void* pin = modulePin();
  std::lock_guard<std::mutex> g(g_timersLock);
  const UINT_PTR number = SetTimer(nullptr, 0, ms, velTimerFired);
  if (number == 0) {
    moduleUnpin(pin);  // the caller runs library code: not the last reference
    return 0;
  }
  const uintptr_t id = ++g_lastTimer;
  timers()[TimerKey{GetCurrentThreadId(), number}] = TimerEntry{id, callback, context, GetTickCount(), ms, pin};
  return id;
}

// Runs the thread's timers that are due from here, killing them first, and leaves
// its WM_TIMER messages alone: those of an application's own timers are its
// message loop's.
void timersRun() {
  for (;;) {
    UINT_PTR number = 0;
    {
      std::lock_guard<std::mutex> g(g_timersLock);
      const DWORD now = GetTickCount();
      for (const auto& [key, entry] : timers()) {
        if (key.first == GetCurrentThreadId() && now - entry.started >= entry.ms) {
          number = key.second;
          break;
        }
      }
    }
    if (number == 0) return;
    // The caller runs library code: the release is not the last reference.
    moduleUnpin(velTimerFinished(number));
  }
}

}  // namespace vel::platform

HMODULE velTimerFinished(UINT_PTR number) {
  vel::platform::TimerEntry entry{};
  if (!vel::platform::takeTimer(number, &entry)) return nullptr;
  entry.callback(entry.context, entry.id);
  return static_cast<HMODULE>(entry.pin);
}

// velTimerFired(hwnd, message, number, time): velTimerFinished(number), then,
// with a reference to release, a jump to FreeLibrary(reference) that leaves the
// stack as this procedure's own return would.
#if defined(__x86_64__)
asm(R"(
  .text
  .globl velTimerFired
  .def velTimerFired; .scl 2; .type 32; .endef
  .seh_proc velTimerFired
velTimerFired:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  movq %r8, %rcx
  call velTimerFinished
  addq $40, %rsp
  testq %rax, %rax
  jz 1f
  movq %rax, %rcx
  jmp *__imp_FreeLibrary(%rip)
1:
  ret
  .seh_endproc
)");
#elif defined(__i386__)
// stdcall: the callee removes the four arguments. FreeLibrary removes one, so the
// return address moves up three slots, above the reference in the last one.
asm(R"(
  .text
  .globl _velTimerFired@16
  .def _velTimerFired@16; .scl 2; .type 32; .endef
_velTimerFired@16:
  pushl 12(%esp)
  call _velTimerFinished
  addl $4, %esp
  testl %eax, %eax
  jz 1f
  movl (%esp), %ecx
  movl %eax, 16(%esp)
  movl %ecx, 12(%esp)
  addl $12, %esp
  jmp *__imp__FreeLibrary@4
1:
  ret $16
)");
#else
#error "velTimerFired is written for x86 and x86-64"
#endif
