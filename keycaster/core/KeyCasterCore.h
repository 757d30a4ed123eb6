// Shared limits and the small interfaces through which the wedge's core reaches the
// outside world: key injection, character posting and waiting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keycaster {

// Largest barcode the wedge hands over or types; longer input is cut here.
constexpr size_t kMaxBarcodeBytes = 4096;

// keybd_event flags and the virtual keys the typing engine uses itself.
constexpr uint32_t kKeyExtended = 0x0001;
constexpr uint32_t kKeyUp = 0x0002;
constexpr uint8_t kVkReturn = 0x0D;
constexpr uint8_t kVkShift = 0x10;
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;
// Hardware scan code given with every modifier event.
constexpr uint8_t kModifierScanCode = 0x45;

// Where typed input goes: synthesised key events and characters for the focus window.
// A call that returns false delivered nothing, and the barcode's typing stops there.
class KeySink {
 public:
  virtual ~KeySink() = default;
  // Before a barcode's first event; `hasKeys` tells whether it has key strokes besides
  // characters. False: the barcode cannot be typed now, and nothing of it is.
  virtual bool beginBarcode(bool hasKeys) {
    (void)hasKeys;
    return true;
  }
  virtual bool keyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) = 0;
  virtual bool postCharToFocus(uint8_t ch) = 0;
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleepMs(uint32_t ms) = 0;
};

}  // namespace keycaster
