#include "TypingEngine.h"

namespace keycaster {

const ControlKey ControlKeyTable[32] = {
    {0x32, 3}, {0x41, 2}, {0x42, 2}, {0x03, 0}, {0x44, 2}, {0x45, 2}, {0x46, 2}, {0x47, 2},
    {0x08, 0}, {0x09, 0}, {0x0D, 2}, {0x4B, 2}, {0x4C, 2}, {0x0D, 0}, {0x4E, 2}, {0x4F, 2},
    {0x50, 2}, {0x51, 2}, {0x52, 2}, {0x53, 2}, {0x54, 2}, {0x55, 2}, {0x56, 2}, {0x57, 2},
    {0x58, 2}, {0x59, 2}, {0x5A, 2}, {0x1B, 0}, {0xDC, 2}, {0xDD, 2}, {0x36, 3}, {0xBD, 3},
};

uint32_t returnDelayMs(int delayIndex) {
  if (delayIndex <= 0) return 0;
  if (delayIndex > 5) delayIndex = 5;
  return static_cast<uint32_t>(delayIndex) * 100;
}

uint32_t controlCodeDelayMs(int controlCodeDelayIndex) {
  if (controlCodeDelayIndex <= 0) return 0;
  if (controlCodeDelayIndex == 1) return 50;
  if (controlCodeDelayIndex > 6) controlCodeDelayIndex = 6;
  return static_cast<uint32_t>(controlCodeDelayIndex - 1) * 100;
}

uint8_t shiftCodePageByte(uint8_t b) {
  if (b >= 0x80 && b <= 0xAF) return static_cast<uint8_t>(b + 0x40);
  if (b >= 0xE0 && b <= 0xEF) return static_cast<uint8_t>(b + 0x10);
  if (b == 0xF0) return 0xA8;
  if (b == 0xF1) return 0xB8;
  return b;
}

void convertUpcAToEan13(std::vector<uint8_t>& barcode) {
  if (barcode.size() != 12) return;
  uint8_t d[12];
  for (int i = 0; i < 12; ++i) d[i] = static_cast<uint8_t>(barcode[i] - 0x30);
  // Unsigned 8-bit arithmetic throughout, as the scanner firmware computes it.
  uint8_t s = static_cast<uint8_t>(d[0] + d[2] + d[4] + d[6] + d[8] + d[10]);
  s = static_cast<uint8_t>(3 * s);
  s = static_cast<uint8_t>(s + d[1] + d[3] + d[5] + d[7] + d[9]);
  uint8_t r = static_cast<uint8_t>(s % 10);
  if (r == 0) r = 10;
  if (static_cast<uint8_t>(10 - r) == d[11]) barcode.insert(barcode.begin(), '0');
}

namespace {

// The modifier keys of a class in the order they are pressed (released in the same order).
int modifierKeys(uint8_t modifierClass, uint8_t keys[2]) {
  switch (modifierClass) {
    case 1: keys[0] = kVkShift; return 1;
    case 2: keys[0] = kVkControl; return 1;
    case 3: keys[0] = kVkShift; keys[1] = kVkControl; return 2;
    case 4: keys[0] = kVkMenu; return 1;
    default: return 0;
  }
}

}  // namespace

bool SendKeystroke(KeySink& sink, uint8_t vk, uint8_t modifierClass) {
  uint8_t keys[2] = {};
  const int n = modifierKeys(modifierClass, keys);
  int pressed = 0;
  bool ok = true;
  while (ok && pressed < n) {
    ok = sink.keyEvent(keys[pressed], kModifierScanCode, kKeyExtended);
    if (ok) ++pressed;
  }
  ok = ok && sink.keyEvent(vk, 0, kKeyExtended) && sink.keyEvent(vk, 0, kKeyExtended | kKeyUp);
  // A modifier left down would change the user's own typing afterwards.
  for (int i = 0; i < pressed; ++i) sink.keyEvent(keys[i], kModifierScanCode, kKeyExtended | kKeyUp);
  return ok;
}

TypingResult TypingEngine::TypeBarcode(std::vector<uint8_t>& barcode, bool returnHandledByScanner) {
  TypingOptions opt = options_.readOptions();
  TypingResult result;
  if (barcode.empty()) return result;
  if (barcode.size() > kMaxBarcodeBytes) barcode.resize(kMaxBarcodeBytes);
  if (opt.forceUpcAToEan13) convertUpcAToEan13(barcode);
  result.bytes = barcode.size();

  bool hasKeys = opt.sendReturn && !returnHandledByScanner;
  for (uint8_t b : barcode) hasKeys = hasKeys || (b < 0x20 && !(opt.windowModeCrLf && b == 0x0A));
  if (!sink_.beginBarcode(hasKeys)) {
    result.outcome = TypingResult::NotTyped;
    return result;
  }

  result.outcome = TypingResult::TypedInPart;
  for (uint8_t& b : barcode) {
    bool ok = true;
    if (opt.windowModeCrLf && b == 0x0A) {
      // dropped from the data
    } else if (b == 0x0D) {
      if (uint32_t ms = returnDelayMs(opt.delayIndex)) sleeper_.sleepMs(ms);
      ok = SendKeystroke(sink_, ControlKeyTable[0x0D].vk, ControlKeyTable[0x0D].modifierClass);
    } else if (b >= 0x20) {
      if (opt.shiftCodePage) b = shiftCodePageByte(b);
      ok = sink_.postCharToFocus(b);
    } else {
      if (uint32_t ms = controlCodeDelayMs(opt.controlCodeDelayIndex)) sleeper_.sleepMs(ms);
      ok = SendKeystroke(sink_, ControlKeyTable[b].vk, ControlKeyTable[b].modifierClass);
    }
    if (!ok) {
      if (result.bytesTyped == 0) result.outcome = TypingResult::NotTyped;
      return result;
    }
    ++result.bytesTyped;
  }

  opt = options_.readOptions();
  if (opt.sendReturn && !returnHandledByScanner) {
    if (uint32_t ms = returnDelayMs(opt.delayIndex)) sleeper_.sleepMs(ms);
    if (!SendKeystroke(sink_, kVkReturn, 0)) return result;
  }
  result.outcome = TypingResult::Typed;
  return result;
}

bool TypingQueue::push(Item item) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_ || items_.size() >= capacity_) return false;
    items_.push_back(std::move(item));
  }
  ready_.notify_one();
  return true;
}

bool TypingQueue::pop(Item& item) {
  std::unique_lock<std::mutex> guard(lock_);
  ready_.wait(guard, [this] { return closed_ || !items_.empty(); });
  if (closed_) return false;
  item = std::move(items_.front());
  items_.pop_front();
  return true;
}

size_t TypingQueue::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  const size_t n = items_.size();
  items_.clear();
  return n;
}

void TypingQueue::close() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    items_.clear();
  }
  ready_.notify_all();
}

}  // namespace keycaster
