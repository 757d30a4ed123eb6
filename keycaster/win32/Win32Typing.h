// Keyboard input into whatever window has the focus, typed on a thread of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "TypingEngine.h"

namespace keycaster {

// Why a barcode was not typed whole; the worker reports one per barcode.
enum class TypingStatus : WPARAM {
  Typed,
  NoWindow,     // no foreground window
  NotResponding,
  NoFocus,      // nothing has the focus and the barcode has key strokes
  Refused,      // the target refused our input before anything was typed
  TypedInPart,  // input refused in the middle of the barcode
  Stopped,      // reading stopped or the program ended while the barcode was typed
  TooOld,       // waited longer than kMaxBarcodeWaitMs for its turn
  QueueFull,
};

// Every byte of a barcode goes through the system input stream, characters as
// KEYEVENTF_UNICODE events after their code-page conversion: one queue for keys and
// characters, so the target reads them in the order typed however slowly it reads.
// Only when nothing has the focus are characters posted, to the foreground window,
// and then only for barcodes without key strokes.
// Raised by Stop for the barcode being typed: `generation` moves on from `current`.
struct StopSignal {
  std::atomic<unsigned> generation{0};
  unsigned current = 0;  // the generation of the barcode being typed (typing thread only)
  bool raised() const { return generation.load() != current; }
};

class Win32KeySink : public KeySink {
 public:
  explicit Win32KeySink(const StopSignal& stop) : stop_(stop) {}
  bool beginBarcode(bool hasKeys) override;
  bool keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) override;
  bool postCharToFocus(uint8_t ch) override;
  TypingStatus problem() const { return problem_; }

 private:
  bool refuse(TypingStatus why) {
    problem_ = why;
    return false;
  }

  const StopSignal& stop_;
  HWND postTarget_ = nullptr;  // set while characters are posted rather than injected
  TypingStatus problem_ = TypingStatus::Typed;
};

// Sleeps the typing waits; returns early once Stop is raised.
class StoppableSleeper : public Sleeper {
 public:
  explicit StoppableSleeper(const StopSignal& stop) : stop_(stop) {}
  void sleepMs(uint32_t ms) override;

 private:
  const StopSignal& stop_;
};

class Win32Sleeper : public Sleeper {
 public:
  void sleepMs(uint32_t ms) override { Sleep(ms); }
};

// The thread that types the barcodes the window thread hands it, one after the other.
// The outcome of each is posted to the window as `reportMessage` with wParam the
// TypingStatus and lParam the bytes typed (high word) and the barcode's bytes (low word).
class TypingThread {
 public:
  // Barcodes that wait longer than this for their turn are dropped: the focus may
  // have moved on to another window since they were scanned.
  static constexpr uint32_t kMaxBarcodeWaitMs = 5000;
  static constexpr size_t kMaxWaitingBarcodes = 16;

  TypingThread(OptionSource& options, UINT reportMessage);
  // Reports go to `window`.
  bool start(HWND window);
  // From the window thread: queues a barcode, or reports it dropped when the queue is full.
  void submit(std::vector<uint8_t> barcode, bool returnHandledByScanner);
  // Drops the waiting barcodes and ends the one being typed at its next event.
  void stop();
  // Ends the thread; waits at most `ms` for it.
  void shutdown(DWORD ms);

 private:
  static DWORD WINAPI run(LPVOID self);
  void loop();
  void report(TypingStatus status, size_t typed, size_t bytes);

  OptionSource& options_;
  HWND window_ = nullptr;
  const UINT reportMessage_;
  TypingQueue queue_{kMaxWaitingBarcodes};
  StopSignal stop_;
  HANDLE thread_ = nullptr;
};

}  // namespace keycaster
