// Stand-in for the maker's plug-and-play library: "RescanPnpDevices" only counts
// its calls, which a test reads through "RescanPnpDevicesCallCount".
#include <windows.h>

static volatile LONG g_rescans = 0;

extern "C" {
__declspec(dllexport) void __stdcall RescanPnpDevices(void) { InterlockedIncrement(&g_rescans); }
__declspec(dllexport) LONG __stdcall RescanPnpDevicesCallCount(void) { return g_rescans; }
}
