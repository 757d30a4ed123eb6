// libImgEngine.so loaded and unloaded at run time while the process goes on: the
// USB watcher started by a ready registration ends before the library's code is
// unmapped, unloading neither hangs nor leaves a thread behind, and threads that
// used the library's message queues do not keep it loaded.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Eventually.h"

namespace {

using RegisterThread = void (*)(unsigned int);
using RegisterWindow = void (*)(void*);
using OutputProgress = int (*)(int, int);

// Threads of this process.
int threadCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// The thread count before a test: one thread is started and joined first, so that
// helper threads a runtime starts with the first thread (a sanitizer's) already exist.
int baseline() {
  std::thread([] {}).join();
  return threadCount();
}

// The threads that remain once every thread the library started has ended: a
// thread ending is seen in /proc shortly after its join.
bool threadsSettleAt(int expected) {
  return eventually([expected] { return threadCount() == expected; });
}

void* load() { return dlopen(VEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL); }

// Polls until flag is set, at most 10 s.
bool becomesSet(const std::atomic<bool>& flag) {
  for (int i = 0; i < 2000 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return flag;
}

bool loaded() {
  void* again = dlopen(VEL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (again) dlclose(again);
  return again != nullptr;
}

template <typename Entry>
Entry entry(void* library, const char* name) {
  return reinterpret_cast<Entry>(dlsym(library, name));
}

TEST(LibraryUnload, UnloadWithoutRegistrationLeavesNothingBehind) {
  const int before = baseline();
  void* library = load();
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(dlclose(library), 0);
  EXPECT_FALSE(loaded());
  EXPECT_TRUE(threadsSettleAt(before));
}

TEST(LibraryUnload, UnloadStopsAndJoinsARunningUsbWatcher) {
  const int before = baseline();
  void* library = load();
  ASSERT_NE(library, nullptr) << dlerror();
  auto registerThread = entry<RegisterThread>(library, "VelRegisterUsbReadyStatusNotifyThread");
  auto registerWindow = entry<RegisterWindow>(library, "VelRegisterUsbReadyStatusNotifyWindow");
  ASSERT_NE(registerThread, nullptr);
  ASSERT_NE(registerWindow, nullptr);
  registerThread(static_cast<unsigned int>(gettid()));
  registerWindow(nullptr);
  EXPECT_EQ(threadCount(), before + 1) << "the first registration starts the watcher";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the watcher polls a few times
  EXPECT_EQ(dlclose(library), 0);
  EXPECT_FALSE(loaded());
  EXPECT_TRUE(threadsSettleAt(before)) << "the watcher ended with the library";
}

TEST(LibraryUnload, UnloadRightAfterTheWatcherStartsDoesNotHang) {
  const int before = baseline();
  for (int round = 0; round < 50; ++round) {
    void* library = load();
    ASSERT_NE(library, nullptr) << dlerror();
    entry<RegisterThread>(library, "VelRegisterUsbReadyStatusNotifyThread")(1);
    // Unload at a different moment of the watcher's start each round.
    std::this_thread::sleep_for(std::chrono::microseconds(20 * round));
    EXPECT_EQ(dlclose(library), 0);
    ASSERT_FALSE(loaded()) << "round " << round;
  }
  EXPECT_TRUE(threadsSettleAt(before));
}

// Waiting for progress gives a thread a message queue of the library's: neither
// this thread nor one that lives on keeps the library loaded, and the thread's
// later end runs nothing of the unloaded library.
TEST(LibraryUnload, ThreadsThatWaitedForProgressDoNotKeepTheLibrary) {
  void* library = load();
  ASSERT_NE(library, nullptr) << dlerror();
  auto outputProgress = entry<OutputProgress>(library, "VelOutputProgress");
  ASSERT_NE(outputProgress, nullptr);
  std::thread([&] { EXPECT_EQ(outputProgress(0, 0), -1); }).join();  // ended before the unload
  std::atomic<bool> waited{false};
  std::atomic<bool> unloaded{false};
  std::thread livesOn([&] {
    EXPECT_EQ(outputProgress(0, 0), -1);
    waited = true;
    becomesSet(unloaded);
  });
  ASSERT_TRUE(becomesSet(waited));
  EXPECT_EQ(outputProgress(0, 0), -1);
  EXPECT_EQ(dlclose(library), 0);
  EXPECT_FALSE(loaded());
  unloaded = true;
  livesOn.join();
}

}  // namespace
