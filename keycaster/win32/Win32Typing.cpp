#include "Win32Typing.h"

#include <utility>

namespace keycaster {

namespace {

// How long a barcode may wait for its target to answer before it is given up.
constexpr UINT kTargetAnswerMs = 2000;

HWND focusOf(HWND foreground) {
  const DWORD thread = GetWindowThreadProcessId(foreground, nullptr);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(thread, &info)) return info.hwndFocus;
  const DWORD self = GetCurrentThreadId();
  const bool attached = thread != self && AttachThreadInput(self, thread, TRUE);
  HWND focus = GetFocus();
  if (attached) AttachThreadInput(self, thread, FALSE);
  return focus;
}

}  // namespace

// Everything that can be known before the first event: a target that does not come
// back to its message queue would read the barcode whenever it recovers, into
// whatever it shows then, so nothing of it is typed.
bool Win32KeySink::beginBarcode(bool hasKeys) {
  problem_ = TypingStatus::Typed;
  postTarget_ = nullptr;
  if (stop_.raised()) return refuse(TypingStatus::Stopped);
  HWND foreground = GetForegroundWindow();
  if (!foreground) return refuse(TypingStatus::NoWindow);
  if (IsHungAppWindow(foreground)) return refuse(TypingStatus::NotResponding);
  DWORD_PTR answer = 0;
  SetLastError(0);
  if (!SendMessageTimeoutA(foreground, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTargetAnswerMs, &answer)) {
    return refuse(GetLastError() == ERROR_ACCESS_DENIED ? TypingStatus::Refused : TypingStatus::NotResponding);
  }
  if (stop_.raised()) return refuse(TypingStatus::Stopped);
  HWND focus = focusOf(foreground);
  if (!focus) {
    // Without a focus, key strokes would reach the foreground window as system (Alt)
    // keys; characters alone are posted to it.
    if (hasKeys) return refuse(TypingStatus::NoFocus);
    postTarget_ = foreground;
  }
  // A window that does not take our posted messages does not get our input either.
  if (!PostMessageA(focus ? focus : foreground, WM_NULL, 0, 0)) return refuse(TypingStatus::Refused);
  return true;
}

// Releases still go out after Stop, so that no modifier stays pressed.
bool Win32KeySink::keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) {
  if (stop_.raised() && !(flags & KEYEVENTF_KEYUP)) return refuse(TypingStatus::Stopped);
  if (postTarget_) return refuse(TypingStatus::NoFocus);
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = scanCode;
  input.ki.dwFlags = flags;
  if (SendInput(1, &input, sizeof input) != 1) return refuse(TypingStatus::Refused);
  return true;
}

// The byte is a character of the ANSI code page, as a posted WM_CHAR would be.
bool Win32KeySink::postCharToFocus(uint8_t ch) {
  if (stop_.raised()) return refuse(TypingStatus::Stopped);
  if (postTarget_) return PostMessageA(postTarget_, WM_CHAR, ch, 0) ? true : refuse(TypingStatus::Refused);
  const char narrow = static_cast<char>(ch);
  wchar_t wide = 0;
  if (MultiByteToWideChar(CP_ACP, 0, &narrow, 1, &wide, 1) != 1) wide = ch;
  INPUT input[2] = {};
  for (int i = 0; i < 2; ++i) {
    input[i].type = INPUT_KEYBOARD;
    input[i].ki.wScan = static_cast<WORD>(wide);
    input[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
  }
  if (SendInput(2, input, sizeof input[0]) != 2) return refuse(TypingStatus::Refused);
  return true;
}

void StoppableSleeper::sleepMs(uint32_t ms) {
  const DWORD start = GetTickCount();
  while (!stop_.raised()) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    Sleep(ms - elapsed < 10 ? ms - elapsed : 10);
  }
}

TypingThread::TypingThread(OptionSource& options, UINT reportMessage)
    : options_(options), reportMessage_(reportMessage) {}

bool TypingThread::start(HWND window) {
  window_ = window;
  if (!thread_) thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
  return thread_ != nullptr;
}

void TypingThread::submit(std::vector<uint8_t> barcode, bool returnHandledByScanner) {
  TypingQueue::Item item;
  const size_t bytes = barcode.size();
  item.barcode = std::move(barcode);
  item.returnHandledByScanner = returnHandledByScanner;
  item.takenMs = GetTickCount();
  item.generation = stop_.generation.load();
  if (!thread_ || !queue_.push(std::move(item))) report(TypingStatus::QueueFull, 0, bytes);
}

void TypingThread::stop() {
  ++stop_.generation;
  queue_.clear();
}

void TypingThread::shutdown(DWORD ms) {
  ++stop_.generation;
  queue_.close();
  if (!thread_) return;
  // A thread still in its wait for the target keeps running; it only touches this
  // object, which lives as long as the process.
  WaitForSingleObject(thread_, ms);
  CloseHandle(thread_);
  thread_ = nullptr;
}

DWORD WINAPI TypingThread::run(LPVOID self) {
  static_cast<TypingThread*>(self)->loop();
  return 0;
}

void TypingThread::report(TypingStatus status, size_t typed, size_t bytes) {
  const auto word = [](size_t n) { return static_cast<WORD>(n < 0xFFFF ? n : 0xFFFF); };
  PostMessageA(window_, reportMessage_, static_cast<WPARAM>(status), MAKELPARAM(word(bytes), word(typed)));
}

void TypingThread::loop() {
  Win32KeySink sink(stop_);
  StoppableSleeper sleeper(stop_);
  TypingEngine engine(sink, sleeper, options_);
  TypingQueue::Item item;
  while (queue_.pop(item)) {
    stop_.current = item.generation;
    if (stop_.raised()) continue;  // queued before a Stop
    if (waitedLongerThan(item.takenMs, GetTickCount(), kMaxBarcodeWaitMs)) {
      report(TypingStatus::TooOld, 0, item.barcode.size());
      continue;
    }
    const TypingResult result = engine.TypeBarcode(item.barcode, item.returnHandledByScanner);
    switch (result.outcome) {
      case TypingResult::Empty:
        break;
      case TypingResult::Typed:
        report(TypingStatus::Typed, result.bytesTyped, result.bytes);
        break;
      case TypingResult::NotTyped:
        report(sink.problem(), 0, result.bytes);
        break;
      case TypingResult::TypedInPart:
        report(sink.problem() == TypingStatus::Stopped ? TypingStatus::Stopped : TypingStatus::TypedInPart,
               result.bytesTyped, result.bytes);
        break;
    }
  }
}

}  // namespace keycaster
