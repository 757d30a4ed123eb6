// The typing engine against a recording sink: exact event sequences with their waits.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TypingEngine.h"

using namespace keycaster;

namespace {

// One recorded event as text: "wait 300", "key 10 45 1" (vk scan flags), "char 41".
struct Recorder : KeySink, Sleeper, OptionSource {
  std::vector<std::string> events;
  TypingOptions options;
  int optionReads = 0;
  bool acceptBarcode = true;
  int beginCalls = 0;
  bool lastHasKeys = false;
  int refuseAfter = -1;  // events accepted before the sink refuses (-1: never)
  TypingResult result;

  bool accept() {
    if (refuseAfter == 0) return false;
    if (refuseAfter > 0) --refuseAfter;
    return true;
  }
  bool beginBarcode(bool hasKeys) override {
    ++beginCalls;
    lastHasKeys = hasKeys;
    return acceptBarcode;
  }
  bool keyEvent(uint8_t vk, uint8_t scan, uint32_t flags) override {
    // Releases are always taken, so that nothing stays pressed.
    if (!(flags & kKeyUp) && !accept()) return false;
    char text[32];
    std::snprintf(text, sizeof text, "key %02X %02X %u", vk, scan, flags);
    events.push_back(text);
    return true;
  }
  bool postCharToFocus(uint8_t ch) override {
    if (!accept()) return false;
    char text[16];
    std::snprintf(text, sizeof text, "char %02X", ch);
    events.push_back(text);
    return true;
  }
  void sleepMs(uint32_t ms) override { events.push_back("wait " + std::to_string(ms)); }
  TypingOptions readOptions() override {
    ++optionReads;
    return options;
  }

  std::vector<std::string> type(const std::string& text, bool returnHandledByScanner = false) {
    std::vector<uint8_t> barcode(text.begin(), text.end());
    return type(barcode, returnHandledByScanner);
  }
  std::vector<std::string> type(std::vector<uint8_t>& barcode, bool returnHandledByScanner = false) {
    events.clear();
    TypingEngine engine(*this, *this, *this);
    result = engine.TypeBarcode(barcode, returnHandledByScanner);
    return events;
  }
};

using Events = std::vector<std::string>;
const Events kReturn = {"key 0D 00 1", "key 0D 00 3"};
const Events kCtrlReturn = {"key 11 45 1", "key 0D 00 1", "key 0D 00 3", "key 11 45 3"};

Events chars(const std::string& text) {
  Events e;
  for (unsigned char c : text) {
    char s[16];
    std::snprintf(s, sizeof s, "char %02X", c);
    e.push_back(s);
  }
  return e;
}

Events join(std::initializer_list<Events> parts) {
  Events all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

TEST(Typing, DelayListsComeFromTheIndex) {
  const uint32_t ret[] = {0, 100, 200, 300, 400, 500};
  const uint32_t ctl[] = {0, 50, 100, 200, 300, 400, 500};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(returnDelayMs(i), ret[i]) << i;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(controlCodeDelayMs(i), ctl[i]) << i;
  // Indices from outside the lists stay within them.
  EXPECT_EQ(returnDelayMs(-1), 0u);
  EXPECT_EQ(returnDelayMs(99), 500u);
  EXPECT_EQ(controlCodeDelayMs(-1), 0u);
  EXPECT_EQ(controlCodeDelayMs(99), 500u);
}

TEST(Typing, UpcAWithValidCheckDigitBecomesEan13) {
  Recorder r;
  r.options.forceUpcAToEan13 = true;
  EXPECT_EQ(r.type("036000291452"), chars("0036000291452"));
  EXPECT_EQ(r.type("036000291453"), chars("036000291453"));
  EXPECT_EQ(r.type("0036000291452"), chars("0036000291452"));
  // The sums wrap at 256: with 'z' (74) the check digit is 4; without wrapping it would be 8.
  EXPECT_EQ(r.type("zzzzzzzzzzz4"), chars("0zzzzzzzzzzz4"));
  EXPECT_EQ(r.type("zzzzzzzzzzz8"), chars("zzzzzzzzzzz8"));
  // Non-digits take part in the arithmetic as they are (':' counts as 10).
  EXPECT_EQ(r.type("00000000000:"), chars("00000000000:"));
  r.options.forceUpcAToEan13 = false;
  EXPECT_EQ(r.type("036000291452"), chars("036000291452"));
}

TEST(Typing, CrLfWithAndWithoutWindowMode) {
  Recorder r;
  EXPECT_EQ(r.type("AB\r\nZ"), join({chars("AB"), kReturn, kCtrlReturn, chars("Z")}));
  r.options.windowModeCrLf = true;
  EXPECT_EQ(r.type("AB\r\nZ"), join({chars("AB"), kReturn, chars("Z")}));
}

TEST(Typing, WaitsBeforeReturnsAndControlCodes) {
  Recorder r;
  r.options.delayIndex = 3;
  r.options.sendReturn = true;
  EXPECT_EQ(r.type("12\r3"), join({chars("12"), {"wait 300"}, kReturn, chars("3"), {"wait 300"}, kReturn}));
  EXPECT_EQ(r.optionReads, 2);  // before the data and again before the appended Return

  r.options = {};
  r.options.controlCodeDelayIndex = 1;
  EXPECT_EQ(r.type("\t\r"), join({{"wait 50", "key 09 00 1", "key 09 00 3"}, kReturn}));
}

TEST(Typing, ControlBytesAndModifierClasses) {
  Recorder r;
  EXPECT_EQ(r.type(std::string(1, '\0')),
            (Events{"key 10 45 1", "key 11 45 1", "key 32 00 1", "key 32 00 3", "key 10 45 3", "key 11 45 3"}));
  EXPECT_EQ(r.type("\x1F"),
            (Events{"key 10 45 1", "key 11 45 1", "key BD 00 1", "key BD 00 3", "key 10 45 3", "key 11 45 3"}));
  EXPECT_EQ(r.type("\x03"), (Events{"key 03 00 1", "key 03 00 3"}));
  EXPECT_EQ(r.type("\x7F"), chars("\x7F"));

  // Classes 1 and 4 are not in the table but the key-stroke routine knows them.
  r.events.clear();
  SendKeystroke(r, 0x41, 1);
  SendKeystroke(r, 0x41, 4);
  EXPECT_EQ(r.events, (Events{"key 10 45 1", "key 41 00 1", "key 41 00 3", "key 10 45 3",
                              "key 12 45 1", "key 41 00 1", "key 41 00 3", "key 12 45 3"}));
}

TEST(Typing, CodePageShiftIsWrittenBack) {
  Recorder r;
  r.options.shiftCodePage = true;
  std::vector<uint8_t> barcode = {0x80, 0xE5, 0xF1, 0xB0, 0xF0, 0xAF, 0x41};
  EXPECT_EQ(r.type(barcode), chars("\xC0\xF5\xB8\xB0\xA8\xEF\x41"));
  EXPECT_EQ(barcode, (std::vector<uint8_t>{0xC0, 0xF5, 0xB8, 0xB0, 0xA8, 0xEF, 0x41}));

  r.options.shiftCodePage = false;
  std::vector<uint8_t> plain = {0x80, 0xE5, 0xF1};
  EXPECT_EQ(r.type(plain), chars("\x80\xE5\xF1"));
}

TEST(Typing, AppendedReturnAndEmptyBarcode) {
  Recorder r;
  r.options.sendReturn = true;
  EXPECT_TRUE(r.type("").empty());
  EXPECT_EQ(r.type("A"), join({chars("A"), kReturn}));
  // The scanner adds the Return itself; a CR inside the data is still typed.
  EXPECT_EQ(r.type("A\rB", true), join({chars("A"), kReturn, chars("B")}));
}

TEST(Typing, OverlongBarcodeIsCut) {
  Recorder r;
  std::vector<uint8_t> barcode(5000, 'x');
  EXPECT_EQ(r.type(barcode).size(), kMaxBarcodeBytes);
}

TEST(Typing, RefusedInputStopsTheBarcodeAndReleasesModifiers) {
  Recorder r;
  r.options.sendReturn = true;
  // Whether the barcode has key strokes is known before its first event.
  r.type("AB");
  EXPECT_TRUE(r.lastHasKeys);
  EXPECT_EQ(r.result.outcome, TypingResult::Typed);
  EXPECT_EQ(r.result.bytesTyped, 2u);
  r.type("AB", true);
  EXPECT_FALSE(r.lastHasKeys);
  r.options.windowModeCrLf = true;
  r.type("A\nB", true);
  EXPECT_FALSE(r.lastHasKeys);
  r.type("A\tB", true);
  EXPECT_TRUE(r.lastHasKeys);
  r.options = {};

  // Refused before the first event: nothing typed.
  r.acceptBarcode = false;
  EXPECT_TRUE(r.type("A\rB").empty());
  EXPECT_EQ(r.result.outcome, TypingResult::NotTyped);
  EXPECT_EQ(r.result.bytes, 3u);
  r.acceptBarcode = true;

  // Refused in the middle: typing stops there, the pressed Ctrl is released.
  r.refuseAfter = 3;  // 'A', 'B', Ctrl down; the Return key press is refused
  EXPECT_EQ(r.type("AB\nZ"), join({chars("AB"), {"key 11 45 1", "key 11 45 3"}}));
  EXPECT_EQ(r.result.outcome, TypingResult::TypedInPart);
  EXPECT_EQ(r.result.bytesTyped, 2u);
  EXPECT_EQ(r.result.bytes, 4u);
  r.refuseAfter = 0;
  r.type("AB");
  EXPECT_EQ(r.result.outcome, TypingResult::NotTyped);
  EXPECT_EQ(r.result.bytesTyped, 0u);

  // An empty barcode does not ask the sink at all.
  r.refuseAfter = -1;
  r.beginCalls = 0;
  r.type("");
  EXPECT_EQ(r.beginCalls, 0);
  EXPECT_EQ(r.result.outcome, TypingResult::Empty);
}

TEST(TypingQueue, BoundedInOrderAndClosable) {
  TypingQueue q(2);
  auto item = [](char c) {
    TypingQueue::Item i;
    i.barcode = {static_cast<uint8_t>(c)};
    return i;
  };
  EXPECT_TRUE(q.push(item('a')));
  EXPECT_TRUE(q.push(item('b')));
  EXPECT_FALSE(q.push(item('c')));  // full
  TypingQueue::Item got;
  ASSERT_TRUE(q.pop(got));
  EXPECT_EQ(got.barcode[0], 'a');
  EXPECT_TRUE(q.push(item('d')));
  ASSERT_TRUE(q.pop(got));
  EXPECT_EQ(got.barcode[0], 'b');
  ASSERT_TRUE(q.pop(got));
  EXPECT_EQ(got.barcode[0], 'd');
  EXPECT_TRUE(q.push(item('e')));
  EXPECT_EQ(q.clear(), 1u);

  // A pop waiting on another thread wakes when the queue closes.
  std::atomic<int> state{0};
  std::thread waiter([&] {
    TypingQueue::Item i;
    state = q.pop(i) ? 1 : 2;
  });
  for (int i = 0; i < 100 && state == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(state, 0);  // nothing to take yet
  q.close();
  waiter.join();
  EXPECT_EQ(state, 2);
  EXPECT_FALSE(q.push(item('f')));
  EXPECT_FALSE(q.pop(got));
}

TEST(TypingQueue, AgeAcrossTheTickWrap) {
  EXPECT_FALSE(waitedLongerThan(1000, 6000, 5000));
  EXPECT_TRUE(waitedLongerThan(1000, 6001, 5000));
  EXPECT_FALSE(waitedLongerThan(0xFFFFF000u, 0x00000100u, 5000));  // 0x1100 ms
  EXPECT_TRUE(waitedLongerThan(0xFFFFF000u, 0x00001000u, 5000));   // 0x2000 ms
}
