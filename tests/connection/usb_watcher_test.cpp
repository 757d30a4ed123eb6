// The USB watcher: one WM_USB_READY_STATUS per change of presence to the window and
// the thread registered, rescans while absent, and the registration exports.
#include <gtest/gtest.h>

#include <memory>

#include "devices/DeviceSim.h"
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "connection/UsbWatcher.h"
#include "platform/Messages.h"
#include "platform/Modules.h"
#include "platform/Threads.h"
#include "platform/Time.h"

namespace {

using vel::platform::Message;

// One simulator for the whole program: the library's own watcher, once started by
// the registration test, keeps probing until the program ends.
sim::DeviceSim& devices() {
  static sim::DeviceSim* d = [] {
    auto* s = new sim::DeviceSim;
    s->install();
    return s;
  }();
  return *d;
}

// Collects the ready messages that arrive within ms.
std::vector<Message> readyMessages(uint32_t ms) {
  std::vector<Message> got;
  const uint32_t start = vel::platform::tickCount();
  Message m{};
  for (;;) {
    const uint32_t elapsed = vel::platform::tickCount() - start;
    if (elapsed >= ms) break;
    if (vel::platform::messageTake(&m, ms - elapsed) && m.message == vel::kWmUsbReadyStatus) got.push_back(m);
  }
  return got;
}

// Waits at most ms for the first ready message.
bool nextReady(Message* out, uint32_t ms) {
  const uint32_t start = vel::platform::tickCount();
  for (;;) {
    const uint32_t elapsed = vel::platform::tickCount() - start;
    if (elapsed >= ms) return false;
    if (vel::platform::messageTake(out, ms - elapsed) && out->message == vel::kWmUsbReadyStatus) return true;
  }
}

class WatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices();
    window = vel::platform::messageWindowCreate();
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    watcher.reset();
    vel::platform::messageWindowDestroy(window);
  }
  void start() {
    watcher = std::make_unique<vel::WorkerThread>(
        10000, vel::kPriorityNormal, [this](vel::WorkerThread& self) { vel::runUsbWatcher(self, targets, rescan); });
    watcher->resume();
  }
  vel::platform::Window window = nullptr;
  vel::UsbWatchTargets targets;
  vel::PnpRescan rescan;
  std::unique_ptr<vel::WorkerThread> watcher;
};

TEST_F(WatcherTest, OneMessagePerChangeToWindowAndThread) {
  targets.window = window;
  targets.thread = vel::platform::currentThreadId();
  devices().plugUsb(sim::UsbDriver::kSecond, 0);  // never watched
  devices().plugUsb(sim::UsbDriver::kFirst, 127);  // the last number probed
  start();

  std::vector<Message> got(2);  // one to the window, one to the thread
  ASSERT_TRUE(nextReady(&got[0], 10000));
  ASSERT_TRUE(nextReady(&got[1], 10000));
  int toWindow = 0;
  for (const Message& m : got) {
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 1);
    toWindow += m.window == window;
  }
  EXPECT_EQ(toWindow, 1);
  EXPECT_TRUE(readyMessages(350).empty());  // unchanged: nothing repeats

  targets.thread = 0;  // only the window from now on
  devices().unplugUsb(sim::UsbDriver::kFirst, 127);
  Message m{};
  ASSERT_TRUE(nextReady(&m, 10000));
  EXPECT_EQ(m.lParam, 0);
  EXPECT_EQ(m.window, window);
  EXPECT_TRUE(readyMessages(350).empty());

  devices().plugUsb(sim::UsbDriver::kFirst, 3);
  ASSERT_TRUE(nextReady(&m, 10000));
  EXPECT_EQ(m.lParam, 1);
  watcher.reset();
  devices().unplugUsb(sim::UsbDriver::kFirst, 3);
  devices().unplugUsb(sim::UsbDriver::kSecond, 0);
}

TEST_F(WatcherTest, PresenceProbeDoesNotNeedTheDeviceFree) {
  auto dev = devices().plugUsb(sim::UsbDriver::kFirst, 9);
  auto held = devices().openDevice(dev->name().c_str());  // a transport holds it exclusively
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(vel::usbDevicePresent());
  held.reset();
  devices().unplugUsb(sim::UsbDriver::kFirst, 9);
  EXPECT_FALSE(vel::usbDevicePresent());
}

TEST_F(WatcherTest, RescansWhileNoDeviceIsPresent) {
  // The stand-in plug-and-play library exists only in the Windows build.
  vel::platform::Library* pnp = vel::platform::libraryLoad(vel::kPnpLibraryName);
  if (!pnp) GTEST_SKIP() << "no plug-and-play library on this platform";
  using Count = long (*)();  // no arguments: the same call in either convention
  auto count = reinterpret_cast<Count>(vel::platform::libraryEntry(pnp, "RescanPnpDevicesCallCount"));
  ASSERT_NE(count, nullptr);
  const long before = count();
  const uint32_t started = vel::platform::tickCount();
  start();
  while (count() - before < 2 && vel::platform::tickCount() - started < 10000) vel::platform::sleepMs(5);
  const long absent = count() - before;
  EXPECT_GE(absent, 2) << "rescans go on while no device is present";
  EXPECT_LE(absent, static_cast<long>((vel::platform::tickCount() - started) / vel::kUsbWatchPeriodMs) + 1)
      << "one rescan per period";

  targets.window = window;
  devices().plugUsb(sim::UsbDriver::kFirst, 0);
  Message m{};
  ASSERT_TRUE(nextReady(&m, 10000));
  const long atPresence = count();
  vel::platform::sleepMs(350);
  EXPECT_EQ(count(), atPresence);  // no rescans while present
  watcher.reset();
  devices().unplugUsb(sim::UsbDriver::kFirst, 0);
  vel::platform::libraryFree(pnp);
}

TEST_F(WatcherTest, RegistrationExportsStartTheLibraryWatcher) {
  EXPECT_FALSE(vel::library().usbWatcherStarted());
  VelRegisterUsbReadyStatusNotifyThread(vel::platform::currentThreadId());
  EXPECT_TRUE(vel::library().usbWatcherStarted());
  devices().plugUsb(sim::UsbDriver::kFirst, 1);
  Message m{};
  ASSERT_TRUE(nextReady(&m, 10000));
  EXPECT_EQ(m.lParam, 1);

  // A second registration only changes the target.
  VelRegisterUsbReadyStatusNotifyWindow(static_cast<VelWindow>(window));
  VelRegisterUsbReadyStatusNotifyThread(0);
  devices().unplugUsb(sim::UsbDriver::kFirst, 1);
  ASSERT_TRUE(nextReady(&m, 10000));
  EXPECT_EQ(m.lParam, 0);
  EXPECT_EQ(m.window, window);
  EXPECT_TRUE(readyMessages(300).empty());
  VelRegisterUsbReadyStatusNotifyWindow(nullptr);
}

}  // namespace
