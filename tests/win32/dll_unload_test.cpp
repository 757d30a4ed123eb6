// ImgEngine.dll loaded and freed at run time while the process goes on: unloading
// must neither hang on the USB watcher nor pull its code from under it.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

using RegisterThread = void(__stdcall*)(unsigned int);

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
  auto reg = reinterpret_cast<RegisterThread>(
      reinterpret_cast<void*>(GetProcAddress(dll, "VelRegisterUsbReadyStatusNotifyThread")));
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

}  // namespace
