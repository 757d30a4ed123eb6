// Target window for the wedge's end-to-end test: a top-level window titled
// "KeyCaster Target" with a multi-line edit control that holds the focus. It logs,
// one line each with its tick count, every key pressed in the edit control
// ("key VK shift ctrl") and every character posted or injected (VK_PACKET) into it
// ("char XX"), and on close the edit control's text in hex ("text ..."). Characters
// posted to the window itself are logged as "wchar XX". WM_APP + 1 takes the focus back
// to the edit control, WM_APP + 2 leaves the window in the foreground without a focus,
// WM_APP + 3 makes the handling of the next character 'A' take wParam ms (a slow
// target), WM_APP + 4 stops reading any message for wParam ms ("hang", "awake").
//   kc_target.exe <log file>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr UINT kTakeFocus = WM_APP + 1;
constexpr UINT kDropFocus = WM_APP + 2;
constexpr UINT kSlowA = WM_APP + 3;
constexpr UINT kHang = WM_APP + 4;
FILE* logFile = nullptr;
DWORD slowAMs = 0;
bool packetChar = false;  // the next WM_CHAR comes from an injected VK_PACKET
HWND edit = nullptr;
WNDPROC editProc = nullptr;

void logLine(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  std::fprintf(logFile, "%lu ", GetTickCount());
  std::fprintf(logFile, format, a, b, c);
  std::fputc('\n', logFile);
  std::fflush(logFile);
}

LRESULT CALLBACK editHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_PACKET) {
    packetChar = true;
  } else if (message == WM_KEYDOWN && wParam != VK_SHIFT && wParam != VK_CONTROL && wParam != VK_MENU) {
    logLine("key %02X %u %u", static_cast<unsigned>(wParam), (GetKeyState(VK_SHIFT) & 0x8000) ? 1u : 0u,
            (GetKeyState(VK_CONTROL) & 0x8000) ? 1u : 0u);
  } else if (message == WM_CHAR && (lParam == 0 || packetChar)) {
    packetChar = false;
    logLine("char %02X", static_cast<unsigned>(wParam));
    if (wParam == 'A' && slowAMs) {
      Sleep(slowAMs);
      slowAMs = 0;
    }
  }
  return CallWindowProcA(editProc, window, message, wParam, lParam);
}

void takeFocus(HWND window) {
  SetForegroundWindow(window);
  SetActiveWindow(window);
  SetFocus(edit);
  logLine("focus %u", GetForegroundWindow() == window ? 1u : 0u);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kTakeFocus:
      takeFocus(window);
      return 0;
    case WM_SETFOCUS:
      SetFocus(edit);
      return 0;
    case kSlowA:
      slowAMs = static_cast<DWORD>(wParam);
      logLine("slow %u", static_cast<unsigned>(wParam));
      return 0;
    case kHang:
      logLine("hang %u", static_cast<unsigned>(wParam));
      Sleep(static_cast<DWORD>(wParam));
      logLine("awake %u", 1);
      return 0;
    case kDropFocus:
      SetFocus(nullptr);
      logLine("nofocus %u", GetFocus() == nullptr ? 1u : 0u);
      return 0;
    case WM_CHAR:
      if (lParam == 0) logLine("wchar %02X", static_cast<unsigned>(wParam));
      return 0;
    case WM_CLOSE: {
      const int n = GetWindowTextLengthA(edit);
      std::string text(static_cast<size_t>(n) + 1, '\0');
      GetWindowTextA(edit, &text[0], n + 1);
      std::fprintf(logFile, "%lu text ", GetTickCount());
      for (int i = 0; i < n; ++i) std::fprintf(logFile, "%02X", static_cast<unsigned char>(text[i]));
      std::fputc('\n', logFile);
      std::fflush(logFile);
      DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  logFile = std::fopen(commandLine, "w");
  if (!logFile) return 2;
  WNDCLASSA wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "KcTarget";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("KcTarget", "KeyCaster Target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 420, 40, 360, 240,
                              nullptr, nullptr, instance, nullptr);
  edit = CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL,
                       5, 5, 340, 200, window, nullptr, instance, nullptr);
  editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editHook)));
  takeFocus(window);
  logLine("ready %u", 1);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  std::fclose(logFile);
  return 0;
}
