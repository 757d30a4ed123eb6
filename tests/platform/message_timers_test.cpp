// The platform's thread timers, the filtered message peek and the queue's order, on
// the calling thread's own queue (posix queues of the library, win32 thread
// messages); thread ids.
#include <gtest/gtest.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "ChildProcess.h"
#include "ImgEngine.h"
#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Time.h"

namespace p = vel::platform;

namespace {

constexpr uint32_t kFirst = 0x0400 + 300;
constexpr uint32_t kSecond = 0x0400 + 301;

struct Fired {
  std::vector<uintptr_t> timers;
  std::vector<uint32_t> threads;
};

void record(void* context, uintptr_t timer) {
  auto* fired = static_cast<Fired*>(context);
  fired->timers.push_back(timer);
  fired->threads.push_back(p::currentThreadId());
}

void drain() {
  p::Message m;
  while (p::messageTake(&m, 0)) {
  }
}

}  // namespace

TEST(ThreadTimers, FireOnceOnTheStartingThreadWhileItTakesMessages) {
  drain();
  Fired fired;
  const uintptr_t late = p::timerStart(120, record, &fired);
  const uintptr_t early = p::timerStart(40, record, &fired);
  ASSERT_NE(late, 0u);
  ASSERT_NE(early, 0u);
  EXPECT_NE(late, early);
  p::sleepMs(200);
  EXPECT_TRUE(fired.timers.empty()) << "a timer runs only when its thread takes messages";
  p::Message m;
  EXPECT_FALSE(p::messageTake(&m, 300));
  ASSERT_EQ(fired.timers.size(), 2u);
  EXPECT_TRUE((fired.timers == std::vector<uintptr_t>{early, late}) || (fired.timers == std::vector<uintptr_t>{late, early}));
  EXPECT_EQ(fired.threads, (std::vector<uint32_t>(2, p::currentThreadId())));
  EXPECT_FALSE(p::messageTake(&m, 200));
  EXPECT_EQ(fired.timers.size(), 2u) << "each fires once";
}

void postToSelf(void*, uintptr_t timer) { p::postThreadMessage(p::currentThreadId(), kFirst, 0, static_cast<intptr_t>(timer)); }

// The callback posts a message: the wait returns it rather than timing out.
TEST(ThreadTimers, AWaitForMessagesWakesForATimer) {
  drain();
  const uintptr_t timer = p::timerStart(50, postToSelf, nullptr);
  p::Message m{};
  ASSERT_TRUE(p::messageTake(&m, 20000));
  EXPECT_EQ(m.message, kFirst);
  EXPECT_EQ(static_cast<uintptr_t>(m.lParam), timer);
}

TEST(MessagePeek, TakesOnlyTheGivenMessageAndNeverWaits) {
  drain();
  const uint32_t me = p::currentThreadId();
  ASSERT_TRUE(p::postThreadMessage(me, kSecond, 1, 10));
  ASSERT_TRUE(p::postThreadMessage(me, kFirst, 2, 20));
  ASSERT_TRUE(p::postThreadMessage(me, kFirst, 3, 30));
  Fired fired;
  p::timerStart(0, record, &fired);
  p::sleepMs(20);
  p::Message m;
  ASSERT_TRUE(p::messagePeek(&m, kFirst));
  EXPECT_EQ(m.lParam, 20);
  ASSERT_TRUE(p::messagePeek(&m, kFirst));
  EXPECT_EQ(m.lParam, 30);
  EXPECT_FALSE(p::messagePeek(&m, kFirst));
  EXPECT_TRUE(fired.timers.empty()) << "a peek runs no timer";
  ASSERT_TRUE(p::messageTake(&m, 0));
  EXPECT_EQ(m.message, kSecond) << "other messages stay in order";
  drain();
}

// Posts and takes interleaved so that the queue's storage wraps and grows with its
// oldest message in the middle: every message comes out once, in order.
TEST(MessageQueue, KeepsOrderAcrossWrapsAndGrowth) {
  drain();
  const uint32_t me = p::currentThreadId();
  intptr_t posted = 0, taken = 0;
  p::Message m;
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 7 + round * 9; ++i) ASSERT_TRUE(p::postThreadMessage(me, kFirst, 0, posted++));
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(p::messageTake(&m, 0));
      EXPECT_EQ(m.lParam, taken++);
    }
  }
  ASSERT_TRUE(p::postThreadMessage(me, kSecond, 0, -1));
  ASSERT_TRUE(p::messagePeek(&m, kSecond));
  EXPECT_EQ(m.lParam, -1);
  while (p::messageTake(&m, 0)) EXPECT_EQ(m.lParam, taken++);
  EXPECT_EQ(taken, posted);
}

#ifndef _WIN32
// The thread id is asked once per thread; a forked child's thread is a new one.
TEST(ThreadIds, AForkedChildHasItsOwnId) {
  const uint32_t parent = p::currentThreadId();
  const std::vector<int> child = childprocess::run([] {
    return std::vector<int>{static_cast<int>(p::currentThreadId()), static_cast<int>(::getpid())};
  });
  ASSERT_EQ(child.size(), 2u);
  EXPECT_EQ(child[0], child[1]) << "a child's one thread has the process's id";
  EXPECT_NE(static_cast<uint32_t>(child[0]), parent);
}
#endif

#ifdef _WIN32
// Waiting for progress runs the library's due timers and leaves the application's
// own thread timer to its message loop.
TEST(ThreadTimers, WaitingForProgressLeavesTheApplicationsTimers) {
  drain();
  const UINT_PTR own = SetTimer(nullptr, 0, 1, nullptr);
  ASSERT_NE(own, 0u);
  Fired fired;
  p::timerStart(100, record, &fired);  // due after the application's
  const uint32_t start = p::tickCount();
  while (fired.timers.empty() && p::tickCount() - start < 20000) EXPECT_EQ(VelOutputProgress(0, 0), -1);
  ASSERT_EQ(fired.timers.size(), 1u);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) << "the application's timer was taken";
  EXPECT_EQ(msg.wParam, own);
  KillTimer(nullptr, own);
}
#else
// Messages a thread never takes (its queue is only peeked for others) fill it up to
// the limit a Windows thread queue has, then posts fail instead of growing it. (On
// Windows the system sets that limit; Wine sets none.)
TEST(MessageQueue, IsBoundedLikeAWindowsThreadQueue) {
  drain();
  const uint32_t me = p::currentThreadId();
  int posted = 0;
  while (posted < 20000 && p::postThreadMessage(me, kSecond, 0, posted)) ++posted;
  EXPECT_GE(posted, 5000);
  EXPECT_LT(posted, 20000) << "the queue grows without limit";
  p::Message m;
  ASSERT_TRUE(p::messageTake(&m, 0));
  EXPECT_EQ(m.lParam, 0) << "the oldest message is kept";
  EXPECT_TRUE(p::postThreadMessage(me, kSecond, 0, 0)) << "a taken message makes room";
  drain();
}

// A change notification the thread never takes waits once: repeats of it cannot fill
// the queue, so the progress posted after 20,000 of them still arrives; a notification
// with other parameters, or one posted after the first was taken, is queued.
TEST(MessageQueue, AWaitingNotificationIsNotQueuedAgain) {
  drain();
  const uint32_t me = p::currentThreadId();
  const auto once = p::Posting::kUnlessWaiting;
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(p::postThreadMessage(me, kSecond, 1, 0, once));
  ASSERT_TRUE(p::postThreadMessage(me, kSecond, 2, 0, once));
  ASSERT_TRUE(p::postThreadMessage(me, kFirst, 100, 1));
  p::Message m;
  ASSERT_TRUE(p::messagePeek(&m, kFirst));
  EXPECT_EQ(m.wParam, 100u);
  int waiting = 0;
  while (p::messagePeek(&m, kSecond)) ++waiting;
  EXPECT_EQ(waiting, 2) << "one of each reason";
  ASSERT_TRUE(p::postThreadMessage(me, kSecond, 1, 0, once));
  EXPECT_TRUE(p::messagePeek(&m, kSecond)) << "taken, then posted again";
  drain();
}
#endif
