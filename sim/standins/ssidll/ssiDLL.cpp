// Stand-in for the serial scanner interface library, for tests and the demo. It
// answers the seven ordinals the wedge imports as a configured scanner would, keeps
// the one parameter the wedge touches (0xEB), and never touches the port itself.
//
//   SSI_STANDIN_FAIL    comma list: link (ordinal 2 fails), ready (first ordinal 15
//                       fails), ready2 (second ordinal 15 fails), param (ordinal 7 fails)
//   SSI_STANDIN_RETURN  starting value of parameter 0xEB (default 0)
//   SSI_STANDIN_LOG     file to which every call is appended, one line each
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

CRITICAL_SECTION lock;
int readyCalls = 0;
unsigned char returnParameter = 0;
unsigned char* replyBuffer = nullptr;
int replyBufferSize = 0;
bool linkOpen = false;

bool failing(const char* what) {
  const char* list = std::getenv("SSI_STANDIN_FAIL");
  if (!list) return false;
  const size_t n = std::strlen(what);
  for (const char* p = list; *p;) {
    const char* end = std::strchr(p, ',');
    const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (len == n && std::strncmp(p, what, n) == 0) return true;
    if (!end) break;
    p = end + 1;
  }
  return false;
}

void log(const char* format, ...) {
  const char* path = std::getenv("SSI_STANDIN_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

struct Guard {
  Guard() { EnterCriticalSection(&lock); }
  ~Guard() { LeaveCriticalSection(&lock); }
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&lock);
    if (const char* v = std::getenv("SSI_STANDIN_RETURN")) returnParameter = static_cast<unsigned char>(std::atoi(v));
  } else if (reason == DLL_PROCESS_DETACH) {
    DeleteCriticalSection(&lock);
  }
  return TRUE;
}

// 2: open the link to the scanner on port 1-6 at the given baud rate; 0 = open.
int __stdcall ssiOpenLink(HWND window, int baudRate, int port) {
  Guard g;
  const bool fail = failing("link") || !IsWindow(window) || baudRate != 9600 || port < 1 || port > 6;
  log("open %d %d%s", baudRate, port, fail ? " failed" : "");
  if (fail) return 1;
  linkOpen = true;
  readyCalls = 0;
  return 0;
}

// 3: close the link.
int __stdcall ssiCloseLink(HWND, int port) {
  Guard g;
  log("close %d", port);
  linkOpen = false;
  return 0;
}

// 15: a command used as a readiness check; 0 = the scanner answered.
int __stdcall ssiCheckReady(int port, int value) {
  Guard g;
  ++readyCalls;
  const bool fail = !linkOpen || (readyCalls == 1 && failing("ready")) || (readyCalls == 2 && failing("ready2"));
  log("ready %d %d%s", port, value, fail ? " failed" : "");
  return fail ? 1 : 0;
}

// 27: the buffer in which parameter values arrive.
int __stdcall ssiSetReplyBuffer(int port, unsigned char* buffer, int size) {
  Guard g;
  log("buffer %d %d", port, size);
  replyBuffer = buffer;
  replyBufferSize = size;
  return 0;
}

// 21: a mode setting made before a parameter request.
int __stdcall ssiSetMode(int port, int value) {
  Guard g;
  log("mode %d %d", port, value);
  return 0;
}

// 7: request the value of the parameter in byte 0; it arrives in byte 1. 0 = done.
int __stdcall ssiRequestParameter(unsigned char* buffer, int count, int port) {
  Guard g;
  const bool fail = failing("param") || !linkOpen || buffer == nullptr || buffer != replyBuffer ||
                    replyBufferSize < 2 || count != 1 || buffer[0] != 0xEB;
  log("request %d %d %d%s", buffer ? buffer[0] : -1, count, port, fail ? " failed" : "");
  if (fail) return 1;
  buffer[1] = returnParameter;
  return 0;
}

// 9: write the pair (parameter number, value).
int __stdcall ssiWriteParameter(unsigned char* buffer, int count, int port) {
  Guard g;
  if (!buffer || count != 2) {
    log("write invalid");
    return 1;
  }
  log("write %d=%d %d %d", buffer[0], buffer[1], count, port);
  if (linkOpen && buffer[0] == 0xEB) returnParameter = buffer[1];
  return 0;
}

}  // extern "C"
