// Turns a barcode into keyboard input: printable bytes as characters for the focus
// window, control bytes as key strokes with modifiers, with the configured waits.
#pragma once

#include <cstdint>
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

void SendKeystroke(KeySink& sink, uint8_t vk, uint8_t modifierClass);

class TypingEngine {
 public:
  TypingEngine(KeySink& sink, Sleeper& sleeper, OptionSource& options)
      : sink_(sink), sleeper_(sleeper), options_(options) {}
  // Types the barcode (changed in place by the conversions). While the scanner adds
  // its own Return, none is appended here.
  void TypeBarcode(std::vector<uint8_t>& barcode, bool returnHandledByScanner);

 private:
  KeySink& sink_;
  Sleeper& sleeper_;
  OptionSource& options_;
};

}  // namespace keycaster
