// Window and thread messages, and timers that fire on the thread that started
// them. A window is the system's window handle on win32; on posix a handle to a
// message queue owned by the thread that created it.
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
// kUnlessWaiting: not posted again while the same message (window or thread,
// number and parameters) still waits in the queue. For notifications that only say
// that something changed: on posix a thread has no way to take them but its queue,
// and repeats piled up there would fill it until it refuses the messages that
// matter. On win32 another thread's queue cannot be searched: a plain post.
enum class Posting { kAlways, kUnlessWaiting };
bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam,
                       Posting posting = Posting::kAlways);
bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam,
                       Posting posting = Posting::kAlways);
// A window of the calling thread that only receives posted messages.
Window messageWindowCreate();
void messageWindowDestroy(Window w);
// Takes the next posted message of the calling thread (window and thread messages);
// waits at most ms (kInfinite = no limit, platform/Time.h) and runs the thread's
// timers that fall due meanwhile. Creates the thread's queue on first use.
bool messageTake(Message* out, uint32_t ms);
// Takes the calling thread's oldest posted message with this number if one is
// waiting; never waits, runs no timer and leaves every other message in place.
bool messagePeek(Message* out, uint32_t message);
// Hands a message taken by messagePeek to its window: translated and dispatched
// on win32; nothing on posix, whose windows have no procedures.
void messageDispatch(const Message& message);

// Frees the queues the library keeps for threads (posix); called at unload, once
// the library's own threads have ended.
void messageQueuesRelease();

// A timer fires once, on the thread that started it: the first time that thread
// takes its messages (messageTake, or its own message loop on win32) after ms
// milliseconds. The callback gets the context and the timer's id, which is never
// 0 and not given to another timer of the process. Answers 0 when no timer
// could be had. A pending timer keeps the library loaded (win32: the thread's
// message loop calls into it).
using TimerCallback = void (*)(void* context, uintptr_t timer);
uintptr_t timerStart(uint32_t ms, TimerCallback callback, void* context);
// Runs the calling thread's timers of timerStart that are due, without taking any
// message (an application's own timers stay in its queue): for a thread that
// only polls with messagePeek.
void timersRun();

}  // namespace vel::platform
