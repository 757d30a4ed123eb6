// Looks at and drives top-level windows for the wedge's end-to-end test.
//   kc_probe wait <title> <ms>            wait until a window with that title exists
//   kc_probe gone <title> <ms>            wait until no window with that title exists
//   kc_probe dump <title>                 one line per child: id class visible enabled checked selection "text"
//   kc_probe state <title>                visible=0|1
//   kc_probe post <title> <msg> <wparam> <lparam>
//   kc_probe ping <title> <ms>            the window answers WM_NULL within <ms>; prints the time taken
//   kc_probe check <title> <id> <0|1>     set the check mark of a button of the window
//   kc_probe msgbox <title> <text> <ms>   wait for a message box with that title and text, then press OK
//   kc_probe about <title>                send the About command of the system menu and wait
//                                         for "About KeyCaster"; then close it
//   kc_probe startup                      the path of the Startup folder (created if missing)
//   kc_probe resources <exe> <dialog id>  the dialog template as stored in the program: one line
//                                         for the dialog, one per control; then string 101 and
//                                         whether icon 128 exists
// Exit code 0 on success, 1 when the window was not found or did not match.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND waitFor(const char* title, DWORD ms, const char* className = nullptr) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND w = FindWindowA(className, title)) return w;
    if (GetTickCount() - start >= ms) return nullptr;
    Sleep(50);
  }
}

BOOL CALLBACK dumpChild(HWND child, LPARAM) {
  char cls[64] = {}, text[256] = {};
  GetClassNameA(child, cls, sizeof cls);
  GetWindowTextA(child, text, sizeof text);
  long checked = -1, selection = -1;
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  if (_stricmp(cls, "Button") == 0) checked = static_cast<long>(SendMessageA(child, BM_GETCHECK, 0, 0));
  if (_stricmp(cls, "ComboBox") == 0) {
    selection = static_cast<long>(SendMessageA(child, CB_GETCURSEL, 0, 0));
    const long count = static_cast<long>(SendMessageA(child, CB_GETCOUNT, 0, 0));
    std::string items;
    for (long i = 0; i < count; ++i) {
      // Wide text: the ANSI form is not carried across processes reliably.
      wchar_t wide[32] = {};
      char item[32] = {};
      if (SendMessageW(child, CB_GETLBTEXTLEN, i, 0) < 31) SendMessageW(child, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
      WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, nullptr, nullptr);
      items += std::string(i ? "|" : "") + item;
    }
    std::snprintf(text, sizeof text, "%s", items.c_str());
  }
  std::printf("%d %s %d %d %ld %ld %08lX \"%s\"\n", GetDlgCtrlID(child), cls, (style & WS_VISIBLE) ? 1 : 0,
              (style & WS_DISABLED) ? 0 : 1, checked, selection, static_cast<unsigned long>(style), text);
  return TRUE;
}

struct MessageBoxMatch {
  const char* text;
  bool matched;
};

BOOL CALLBACK findText(HWND child, LPARAM arg) {
  auto* m = reinterpret_cast<MessageBoxMatch*>(arg);
  char text[256] = {};
  GetWindowTextA(child, text, sizeof text);
  if (std::strcmp(text, m->text) == 0) m->matched = true;
  return TRUE;
}

std::string narrow(const WORD*& p) {
  std::string out;
  while (*p) out += static_cast<char>(*p++ & 0xFF);
  ++p;
  return out;
}

// A name-or-ordinal field of a dialog template: "" / "#n" / the string.
std::string nameOrOrdinal(const WORD*& p) {
  if (*p == 0) {
    ++p;
    return "";
  }
  if (*p == 0xFFFF) {
    const WORD ordinal = p[1];
    p += 2;
    return "#" + std::to_string(ordinal);
  }
  return narrow(p);
}

int dumpResources(const char* exe, int dialogId) {
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 1;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(dialogId), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!found) return 1;
  const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  const WORD* p = reinterpret_cast<const WORD*>(base);
  if (p[0] != 1 || p[1] != 0xFFFF) return 1;  // extended template only
  const DWORD exStyle = *reinterpret_cast<const DWORD*>(p + 4);
  const DWORD style = *reinterpret_cast<const DWORD*>(p + 6);
  const WORD count = p[8];
  const auto* rect = reinterpret_cast<const short*>(p + 9);
  p += 13;
  nameOrOrdinal(p);  // menu
  nameOrOrdinal(p);  // class
  const std::string title = narrow(p);
  std::string font;
  if (style & DS_SETFONT) {
    const WORD points = p[0];
    p += 3;
    font = std::to_string(points) + " \"" + narrow(p) + "\"";
  }
  std::printf("dialog %d %d %d %d %08lX %08lX \"%s\" %s\n", rect[0], rect[1], rect[2], rect[3],
              static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle), title.c_str(), font.c_str());
  for (WORD i = 0; i < count; ++i) {
    p = reinterpret_cast<const WORD*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t{3});
    const DWORD itemStyle = *reinterpret_cast<const DWORD*>(p + 4);
    const auto* r = reinterpret_cast<const short*>(p + 6);
    const int id = static_cast<int>(*reinterpret_cast<const DWORD*>(p + 10));
    p += 12;
    const std::string cls = nameOrOrdinal(p);
    const std::string text = nameOrOrdinal(p);
    const WORD extra = *p++;
    p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
    std::printf("%d %s %d %d %d %d %08lX \"%s\"\n", id, cls.c_str(), r[0], r[1], r[2], r[3],
                static_cast<unsigned long>(itemStyle), text.c_str());
  }
  char text[128] = {};
  LoadStringA(module, 101, text, sizeof text);
  std::printf("string101 \"%s\"\n", text);
  std::printf("icon128 %d\n", FindResourceA(module, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14)) ? 1 : 0);  // RT_GROUP_ICON
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "startup") {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_STARTUP, TRUE)) return 1;
    std::printf("%s\n", path);
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "resources") return dumpResources(argv[2], std::atoi(argv[3]));
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const char* title = argv[2];
  if (command == "wait") return waitFor(title, argc > 3 ? std::atoi(argv[3]) : 10000) ? 0 : 1;
  if (command == "gone") {
    const DWORD start = GetTickCount();
    while (FindWindowA(nullptr, title)) {
      if (GetTickCount() - start >= static_cast<DWORD>(std::atoi(argv[3]))) return 1;
      Sleep(50);
    }
    return 0;
  }
  if (command == "msgbox") {
    HWND box = waitFor(title, static_cast<DWORD>(std::atoi(argv[4])), "#32770");
    if (!box) return 1;
    MessageBoxMatch m{argv[3], false};
    EnumChildWindows(box, findText, reinterpret_cast<LPARAM>(&m));
    std::printf("msgbox %s\n", m.matched ? "matched" : "other");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return m.matched ? 0 : 1;
  }
  HWND window = FindWindowA(nullptr, title);
  if (!window) return 1;
  if (command == "dump") {
    EnumChildWindows(window, dumpChild, 0);
    return 0;
  }
  if (command == "state") {
    std::printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
    return 0;
  }
  if (command == "post" && argc >= 6) {
    return PostMessageA(window, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                        static_cast<WPARAM>(std::strtoul(argv[4], nullptr, 0)),
                        static_cast<LPARAM>(std::strtol(argv[5], nullptr, 0)))
               ? 0
               : 1;
  }
  if (command == "ping" && argc >= 4) {
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL,
                                              static_cast<UINT>(std::atoi(argv[3])), &result) != 0;
    std::printf("ping %s %lu ms\n", answered ? "answered" : "timeout", GetTickCount() - start);
    return answered ? 0 : 1;
  }
  if (command == "check" && argc >= 5) {
    HWND button = GetDlgItem(window, std::atoi(argv[3]));
    if (!button) return 1;
    SendMessageA(button, BM_SETCHECK, static_cast<WPARAM>(std::atoi(argv[4])), 0);
    return 0;
  }
  if (command == "about") {
    PostMessageA(window, WM_SYSCOMMAND, 0x10, 0);
    HWND about = waitFor("About KeyCaster", 10000, "#32770");
    if (!about) return 1;
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(about) && GetTickCount() - start < 10000) Sleep(50);
    return IsWindow(about) ? 1 : 0;
  }
  return 2;
}
