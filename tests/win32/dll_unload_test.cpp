// ImgEngine.dll loaded and freed at run time while the process goes on: unloading
// must neither hang on the USB watcher nor pull its code from under it.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

namespace {

using RegisterThread = void(__stdcall*)(unsigned int);

RegisterThread threadRegistration(HMODULE dll) {
  return reinterpret_cast<RegisterThread>(
      reinterpret_cast<void*>(GetProcAddress(dll, "VelRegisterUsbReadyStatusNotifyThread")));
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
