// The cancel watchdog over the operations' running transfers, and the command
// lock that a host hand-off reserves for its worker.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MemoryStream.h"
#include "connection/CommandLock.h"
#include "operations/CancelWatchdog.h"
#include "platform/Messages.h"
#include "platform/Time.h"

using vel::CancelWatchdog;
using vel::OperationKind;

namespace {

// Takes the calling thread's messages for ms, so that its timers run.
void pumpMessages(uint32_t ms) {
  const uint32_t start = vel::platform::tickCount();
  for (uint32_t elapsed = 0; elapsed < ms; elapsed = vel::platform::tickCount() - start) {
    vel::platform::Message m;
    vel::platform::messageTake(&m, ms - elapsed);
  }
}

constexpr uint32_t kPastTheWatchdog = CancelWatchdog::kTimeoutMs + 300;

struct WatchdogTest : ::testing::Test {
  CancelWatchdog watchdog;
  MemoryStream host, trigger;
  std::atomic<bool> hostStop{false}, triggerStop{false};
  void SetUp() override {
    watchdog.open(OperationKind::Host);
    watchdog.open(OperationKind::Trigger);
  }
};

}  // namespace

TEST_F(WatchdogTest, ACancelWithoutARunningTransferDoesNothing) {
  watchdog.cancel(OperationKind::Host, hostStop);
  EXPECT_FALSE(hostStop);
  ASSERT_TRUE(watchdog.begin(OperationKind::Host, host));
  pumpMessages(kPastTheWatchdog);
  EXPECT_FALSE(host.failed()) << "no timer was started for the idle operation";
}

// The host's watchdog was disarmed by a poll, the trigger's was not: only the
// trigger's transfer is aborted when both timers fire.
TEST_F(WatchdogTest, OnlyTheTransferThatWasNotPolledIsAborted) {
  ASSERT_TRUE(watchdog.begin(OperationKind::Host, host));
  ASSERT_TRUE(watchdog.begin(OperationKind::Trigger, trigger));
  watchdog.cancel(OperationKind::Host, hostStop);
  watchdog.cancel(OperationKind::Trigger, triggerStop);
  EXPECT_TRUE(hostStop);
  EXPECT_TRUE(triggerStop);
  watchdog.polled(OperationKind::Host);
  pumpMessages(CancelWatchdog::kTimeoutMs / 2);
  EXPECT_FALSE(trigger.failed()) << "not before its time";
  pumpMessages(kPastTheWatchdog - CancelWatchdog::kTimeoutMs / 2);
  EXPECT_FALSE(host.failed());
  EXPECT_TRUE(trigger.failed());
}

// A timer armed for a transfer that has ended fires during the next one and
// leaves it alone; a second cancel arms a timer of its own.
TEST_F(WatchdogTest, ATimerOfAnEndedTransferLeavesTheNextOneAlone) {
  ASSERT_TRUE(watchdog.begin(OperationKind::Host, host));
  watchdog.cancel(OperationKind::Host, hostStop);
  watchdog.end(OperationKind::Host);
  MemoryStream next;
  ASSERT_TRUE(watchdog.begin(OperationKind::Host, next));
  pumpMessages(kPastTheWatchdog);
  EXPECT_FALSE(host.failed());
  EXPECT_FALSE(next.failed());
  watchdog.cancel(OperationKind::Host, hostStop);
  pumpMessages(kPastTheWatchdog);
  EXPECT_TRUE(next.failed());
}

TEST_F(WatchdogTest, ClosingAbortsTheRunningTransferAndEveryLaterOne) {
  ASSERT_TRUE(watchdog.begin(OperationKind::Host, host));
  watchdog.close(OperationKind::Host);
  EXPECT_TRUE(host.failed());
  MemoryStream later;
  EXPECT_FALSE(watchdog.begin(OperationKind::Host, later));
  EXPECT_TRUE(later.failed());
  ASSERT_TRUE(watchdog.begin(OperationKind::Trigger, trigger));
  EXPECT_FALSE(trigger.failed()) << "the other operation's slot stays open";
  watchdog.open(OperationKind::Host);
  MemoryStream fresh;
  EXPECT_TRUE(watchdog.begin(OperationKind::Host, fresh));
  EXPECT_FALSE(fresh.failed());
}

// While a hand-off's reservation stands, only the reserving worker takes the lock.
TEST(CommandLock, AReservedLockGoesToTheWorkerFirst) {
  vel::CommandLock lock;
  std::atomic<int> order{0};
  std::atomic<int> workerAt{0}, otherAt{0};
  lock.lock();
  lock.reserve();
  std::thread other([&] {
    lock.lock();
    otherAt = ++order;
    lock.unlock();
  });
  vel::platform::sleepMs(50);
  lock.unlock();  // the export is done; the reservation stands
  vel::platform::sleepMs(50);
  EXPECT_EQ(otherAt, 0) << "another command slipped in before the worker";
  std::thread worker([&] {
    lock.takeReserved();
    vel::platform::sleepMs(50);
    workerAt = ++order;
    lock.unlock();
  });
  worker.join();
  other.join();
  EXPECT_EQ(workerAt, 1);
  EXPECT_EQ(otherAt, 2);
}

TEST(CommandLock, ADroppedReservationFreesTheLock) {
  vel::CommandLock lock;
  lock.lock();
  lock.reserve();
  lock.unlock();
  std::atomic<bool> got{false};
  std::thread other([&] {
    lock.lock();
    got = true;
    lock.unlock();
  });
  vel::platform::sleepMs(50);
  EXPECT_FALSE(got);
  lock.dropReservation();
  other.join();
  EXPECT_TRUE(got);
}
