// KeyCaster's scanner input: HID reports of a USB scanner assembled into
// barcodes, and the settings record read from its file.
#include <vector>

#include "FuzzCursor.h"
#include "KeyCasterSettings.h"
#include "ScannerInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  if (in.byte() & 1) {
    keycaster::KeyCasterSettings settings;
    settings.overlay(in.rest(), in.restSize());
    const keycaster::KeyCasterSettings shown = settings.sanitized();
    uint8_t bytes[keycaster::kSettingsBytes];
    shown.toBytes(bytes);
    return 0;
  }
  // Reports of the lengths the leading bytes give, taken from the rest in turn.
  keycaster::HidReportAssembler assembler;
  std::vector<uint8_t> barcode;
  const uint8_t* p = in.rest();
  size_t left = in.restSize();
  while (left > 0) {
    size_t length = p[0] % (keycaster::kHidReportBytes + 2);
    ++p, --left;
    if (length > left) length = left;
    assembler.feed(p, length, barcode);
    p += length, left -= length;
  }
  return 0;
}
