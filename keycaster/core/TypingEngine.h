// Turns a barcode into keyboard input: printable bytes as characters for the focus
// window, control bytes as key strokes with modifiers, with the configured waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "KeyCasterCore.h"

namespace keycaster {

struct ControlKey {
  uint8_t vk;
  uint8_t modifierClass;  // 0 none, 1 Shift, 2 Ctrl, 3 Shift+Ctrl, 4 Alt
};

// Key stroke producing each control byte 0x00-0x1F.
extern const ControlKey ControlKeyTable[32];

struct TypingOptions {
  bool sendReturn = false;
  bool windowModeCrLf = false;
  bool shiftCodePage = false;
  bool forceUpcAToEan13 = false;
  int delayIndex = 0;              // 0-5
  int controlCodeDelayIndex = 0;   // 0-6
};

// The typing options as the dialog shows them at the moment of asking.
class OptionSource {
 public:
  virtual ~OptionSource() = default;
  virtual TypingOptions readOptions() = 0;
};

// Wait before a carriage return or the appended Return: index x 100 ms.
uint32_t returnDelayMs(int delayIndex);
// Wait before any other control byte: 0, 50, then (index - 1) x 100 ms.
uint32_t controlCodeDelayMs(int controlCodeDelayIndex);
// Code page 866 Cyrillic letters onto their code page 1251 values.
uint8_t shiftCodePageByte(uint8_t b);
// A 12-digit UPC-A with a valid check digit becomes its 13-digit EAN-13 form.
void convertUpcAToEan13(std::vector<uint8_t>& barcode);

// False when the sink refused one of the events (the rest of the stroke is not sent,
// but modifiers already pressed are released).
bool SendKeystroke(KeySink& sink, uint8_t vk, uint8_t modifierClass);

struct TypingResult {
  enum Outcome { Typed, Empty, NotTyped, TypedInPart };
  Outcome outcome = Empty;
  size_t bytesTyped = 0;  // bytes of the (converted) barcode delivered, the appended Return not counted
  size_t bytes = 0;       // bytes of the converted barcode
};

class TypingEngine {
 public:
  TypingEngine(KeySink& sink, Sleeper& sleeper, OptionSource& options)
      : sink_(sink), sleeper_(sleeper), options_(options) {}
  // Types the barcode (changed in place by the conversions). While the scanner adds
  // its own Return, none is appended here. Stops at the first event the sink refuses.
  TypingResult TypeBarcode(std::vector<uint8_t>& barcode, bool returnHandledByScanner);

 private:
  KeySink& sink_;
  Sleeper& sleeper_;
  OptionSource& options_;
};

// Barcodes waiting for the typing thread, oldest first, at most `capacity` of them.
class TypingQueue {
 public:
  struct Item {
    std::vector<uint8_t> barcode;
    bool returnHandledByScanner = false;
    uint32_t takenMs = 0;     // tick count at which the barcode was taken from its source
    unsigned generation = 0;  // the owner's count of Stops when the barcode was queued
  };
  explicit TypingQueue(size_t capacity) : capacity_(capacity) {}
  // False when the queue is full or closed: the item is not kept.
  bool push(Item item);
  // Waits for the next item; false once the queue is closed.
  bool pop(Item& item);
  // Drops every waiting item; returns how many.
  size_t clear();
  // Wakes every pop for good; later pushes fail.
  void close();

 private:
  const size_t capacity_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<Item> items_;
  bool closed_ = false;
};

// True when more than `limitMs` passed from `takenMs` to `nowMs` (32-bit tick counts,
// across their wrap).
inline bool waitedLongerThan(uint32_t takenMs, uint32_t nowMs, uint32_t limitMs) {
  return static_cast<uint32_t>(nowMs - takenMs) > limitMs;
}

}  // namespace keycaster
