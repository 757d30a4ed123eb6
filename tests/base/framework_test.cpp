// Base: bounded queue, worker threads, events and mutexes, little-endian fields.
#include <gtest/gtest.h>

#include <atomic>

#include "base/BoundedQueue.h"
#include "base/LittleEndian.h"
#include "Eventually.h"
#include "base/WorkerThread.h"
#include "platform/Time.h"

using namespace vel;

TEST(BoundedQueue, AcceptsCapacityPutsAndBlocksTheNextUntilATake) {
  BoundedQueue<int> q(3);
  int items[4] = {1, 2, 3, 4};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(q.putBack(&items[i], 0));
  EXPECT_FALSE(q.putBack(&items[3], 50)) << "fourth put must wait for a free slot";

  std::atomic<bool> putDone{false};
  WorkerThread putter(20000, kPriorityNormal, [&](WorkerThread&) {
    q.putBack(&items[3]);
    putDone = true;
  });
  putter.resume();
  platform::sleepMs(50);
  EXPECT_FALSE(putDone.load());
  int* taken = nullptr;
  ASSERT_TRUE(q.takeFront(&taken));
  EXPECT_EQ(taken, &items[0]);
  putter.join();
  EXPECT_TRUE(putDone.load());
}

TEST(BoundedQueue, FrontAndBackOrder) {
  BoundedQueue<int> q(4);
  int a = 1, b = 2, c = 3;
  q.putBack(&a);
  q.putBack(&b);
  q.putFront(&c);
  int* x = nullptr;
  ASSERT_TRUE(q.takeFront(&x));
  EXPECT_EQ(x, &c) << "take from the front returns the item put at the front last";
  ASSERT_TRUE(q.takeBack(&x));
  EXPECT_EQ(x, &b) << "take from the back returns the item put at the back last";
  ASSERT_TRUE(q.takeFront(&x));
  EXPECT_EQ(x, &a);
  EXPECT_FALSE(q.hasItem());
}

TEST(BoundedQueue, WrapsAroundTheRingManyTimes) {
  BoundedQueue<int> q(3);
  int values[10];
  for (int round = 0; round < 10; ++round) {
    values[round] = round;
    q.putBack(&values[round]);
    if (round % 2) q.putFront(&values[round]);
    int* x = nullptr;
    while (q.hasItem()) {
      ASSERT_TRUE(q.takeFront(&x, 0));
      EXPECT_EQ(*x, round);
    }
  }
}

TEST(BoundedQueue, NullMarkerIsTakenLikeAnItemAndWakesABlockedTaker) {
  BoundedQueue<int> q(2);
  std::atomic<int> wakeups{0};
  int* got = reinterpret_cast<int*>(1);
  WorkerThread taker(20000, kPriorityNormal, [&](WorkerThread&) {
    q.takeFront(&got);
    ++wakeups;
  });
  taker.resume();
  platform::sleepMs(30);
  EXPECT_EQ(wakeups.load(), 0);
  q.putBack(nullptr);
  taker.join();
  EXPECT_EQ(wakeups.load(), 1);
  EXPECT_EQ(got, nullptr);
  EXPECT_FALSE(q.hasItem());
}

TEST(BoundedQueue, HasItemDoesNotConsume) {
  BoundedQueue<int> q(1);
  int a = 5;
  EXPECT_FALSE(q.hasItem());
  q.putBack(&a);
  EXPECT_TRUE(q.hasItem());
  EXPECT_TRUE(q.hasItem());
  int* x = nullptr;
  EXPECT_TRUE(q.takeBack(&x, 0));
  EXPECT_FALSE(q.takeBack(&x, 0));
}

TEST(WorkerThread, CreatedSuspendedRunsAfterResumeAndSeesItselfInTheSlot) {
  WorkerThread::allocateSlot();
  std::atomic<bool> ran{false};
  WorkerThread* seen = nullptr;
  WorkerThread t(20000, kPriorityNormal, [&](WorkerThread& self) {
    seen = WorkerThread::current();
    ran = &self == seen;
  });
  platform::sleepMs(30);
  EXPECT_FALSE(ran.load()) << "a new thread must not run before resume";
  t.resume();
  t.join();
  EXPECT_TRUE(ran.load());
  EXPECT_EQ(seen, &t);
  EXPECT_EQ(WorkerThread::current(), nullptr) << "a thread started outside has no WorkerThread";
}

TEST(WorkerThread, StopEndsARunLoopWaitingOnTheStopEvent) {
  std::atomic<int> turns{0};
  WorkerThread t(20000, kPriorityCritical, [&](WorkerThread& self) {
    while (!self.stopRequested()) {
      ++turns;
      self.stopEvent().wait();
    }
  });
  t.resume();
  ASSERT_TRUE(eventually([&] { return turns.load() >= 1; })) << "the thread never ran";
  const uint32_t start = platform::tickCount();
  t.stop();
  t.join();
  EXPECT_LT(platform::tickCount() - start, 10000u);
  EXPECT_TRUE(t.stopRequested());
}

TEST(WorkerThread, DestroyingANeverStartedThreadDoesNotRunItsBody) {
  std::atomic<bool> ran{false};
  { WorkerThread t(20000, kPriorityNormal, [&](WorkerThread&) { ran = true; }); }
  EXPECT_FALSE(ran.load());
}

TEST(Sync, EventWaitTimesOutAndAutoResets) {
  Event e(false);
  EXPECT_FALSE(e.wait(10));
  e.set();
  EXPECT_TRUE(e.wait(10));
  EXPECT_FALSE(e.wait(10)) << "an auto-reset event is consumed by one wait";
  Event m(true);
  m.set();
  EXPECT_TRUE(m.wait(0));
  EXPECT_TRUE(m.wait(0)) << "a manual-reset event stays set";
  m.reset();
  EXPECT_FALSE(m.wait(0));
}

TEST(Sync, MutexIsReentrantAndTryLockSeesOtherHolders) {
  Mutex m;
  m.lock();
  EXPECT_TRUE(m.tryLock());  // the holder may take it again
  m.unlock();
  std::atomic<int> otherGot{-1};
  WorkerThread t(20000, kPriorityNormal, [&](WorkerThread&) {
    const bool got = m.tryLock();
    otherGot = got;
    if (got) m.unlock();
  });
  t.resume();
  t.join();
  EXPECT_EQ(otherGot.load(), 0);
  m.unlock();
}

TEST(LittleEndian, LowByteFirstWhateverTheHost) {
  uint8_t b[4] = {};
  putLe16(b, 0xA1B2);
  EXPECT_EQ(b[0], 0xB2);
  EXPECT_EQ(b[1], 0xA1);
  EXPECT_EQ(getLe16(b), 0xA1B2);
  putLe32(b, 0x89ABCDEFu);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xCD);
  EXPECT_EQ(b[2], 0xAB);
  EXPECT_EQ(b[3], 0x89);
  EXPECT_EQ(getLe32(b), 0x89ABCDEFu) << "the top byte's high bit does not spread";
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(getLe16(ones), 0xFFFF);
  EXPECT_EQ(getLe32(ones), 0xFFFFFFFFu);
}
