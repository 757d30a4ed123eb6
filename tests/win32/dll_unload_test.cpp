// ImgEngine.dll loaded and freed at run time while the process goes on: unloading
// must neither hang on the USB watcher nor pull its code from under it or from
// under a cancel's watchdog timer. The tests that start the USB watcher come last:
// the running watcher keeps the library loaded until the process ends.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "transport/NetworkPortFixture.h"

namespace {

using RegisterThread = void(__stdcall*)(unsigned int);
using ConnectEx = int(__stdcall*)(int port, int channelTimeoutMs, int baudRate);
using CaptureImage = void(__stdcall*)(int decode, int binary, int grey, int compressed);
using Cancel = void(__stdcall*)();
constexpr UINT kWmOperationProgress = WM_USER + 258;

template <typename Entry>
Entry entry(HMODULE dll, const char* name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

RegisterThread threadRegistration(HMODULE dll) {
  return entry<RegisterThread>(dll, "VelRegisterUsbReadyStatusNotifyThread");
}

// Dispatches this thread's messages until ms have passed or done answers true.
template <typename Done>
bool pumpUntil(DWORD ms, Done done) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (!done()) {
    if (GetTickCount() - start >= ms) return false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// Threads of this process.
int threadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    n += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return n;
}

// A cancel starts the watchdog timer on the cancelling thread, whose message loop
// calls into the library when it fires: the library freed meanwhile stays loaded
// until the timer has run, and goes then.
TEST(DllUnload, APendingWatchdogTimerKeepsTheLibraryUntilItHasRun) {
  netport::ServedImager served;
  served.imager().operations().control().stall(sim::Channel::Command, 4096, -1);  // in the grey image
  HMODULE dll = LoadLibraryA("ImgEngine.dll");
  ASSERT_NE(dll, nullptr);
  auto connect = entry<ConnectEx>(dll, "VelDeviceConnectEx");
  auto registerProgress = entry<RegisterThread>(dll, "VelRegisterHostOperationProgressThread");
  auto capture = entry<CaptureImage>(dll, "VelCaptureImage");
  auto cancel = entry<Cancel>(dll, "VelCancelHostInitiatedOperation");
  ASSERT_TRUE(connect && registerProgress && capture && cancel);
  ASSERT_EQ(connect(netport::kMappedPort, 5000, 115200), 1);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread has a queue
  registerProgress(GetCurrentThreadId());
  capture(1, 0, 1, 0);
  // The results came: the transfer runs, stalled in its grey image.
  bool progress = false;
  ASSERT_TRUE(pumpUntil(10000, [&] {
    progress = progress || PeekMessageA(&msg, nullptr, kWmOperationProgress, kWmOperationProgress, PM_REMOVE);
    return progress;
  }));
  cancel();
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_NE(GetModuleHandleA("ImgEngine.dll"), nullptr) << "freed under its pending timer";
  EXPECT_TRUE(pumpUntil(20000, [] { return GetModuleHandleA("ImgEngine.dll") == nullptr; }))
      << "the timer has run and the library is gone";
}

TEST(DllUnload, FreeWithoutRegistrationUnloads) {
  HMODULE dll = LoadLibraryA("ImgEngine.dll");
  ASSERT_NE(dll, nullptr);
  const DWORD start = GetTickCount();
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_EQ(GetModuleHandleA("ImgEngine.dll"), nullptr);
}

TEST(DllUnload, FreeWhileTheUsbWatcherRunsDoesNotHang) {
  HMODULE dll = LoadLibraryA("ImgEngine.dll");
  ASSERT_NE(dll, nullptr);
  RegisterThread reg = threadRegistration(dll);
  ASSERT_NE(reg, nullptr);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread has a queue
  reg(GetCurrentThreadId());
  Sleep(300);  // the watcher polls a few times
  const DWORD start = GetTickCount();
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_LT(GetTickCount() - start, 2000u);
  // The running watcher keeps its module loaded; the process ends normally later.
  EXPECT_NE(GetModuleHandleA("ImgEngine.dll"), nullptr);
  Sleep(250);
}

TEST(DllUnload, RegisteringAgainStartsNoSecondWatcher) {
  HMODULE dll = LoadLibraryA("ImgEngine.dll");
  ASSERT_NE(dll, nullptr);
  RegisterThread reg = threadRegistration(dll);
  ASSERT_NE(reg, nullptr);
  reg(GetCurrentThreadId());  // starts the watcher unless it runs already
  const int threads = threadCount();
  reg(0);
  EXPECT_EQ(threadCount(), threads) << "one watcher per process, however often the library is loaded";
  // The registering thread loads it: the watcher itself never waits for the loader.
  EXPECT_NE(GetModuleHandleA("VelmoraPnpLibrary.dll"), nullptr);
  EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
