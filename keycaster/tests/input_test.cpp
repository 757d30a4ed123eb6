// Settings file, HID reports, serial collection and the reader hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "KeyCasterSettings.h"
#include "ScannerInput.h"

using namespace keycaster;

namespace {

std::string tempPath(const char* name) {
  return ::testing::TempDir() + name;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A 65-byte report with count L, payload at byte 5 and the trailer at L-2..L.
std::vector<uint8_t> report(const std::string& payload, uint8_t t0, uint8_t t1, uint8_t t2, int extra = 7) {
  std::vector<uint8_t> r(kHidReportBytes, 0xEE);
  const size_t L = payload.size() + static_cast<size_t>(extra);
  r[0] = 0;
  r[1] = static_cast<uint8_t>(L);
  std::copy(payload.begin(), payload.end(), r.begin() + 5);
  r[L - 2] = t0;
  r[L - 1] = t1;
  r[L] = t2;
  return r;
}

std::string text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST(Settings, FirstStartWritesTheDefaults) {
  const std::string path = tempPath("kc_first.ini");
  std::remove(path.c_str());
  KeyCasterSettings s = LoadSettings(path);
  std::vector<uint8_t> expected(64, 0);
  expected[0] = 6;
  expected[7] = 2;
  EXPECT_EQ(readFile(path), expected);
  EXPECT_EQ(s.sourceIndex, 6);
  EXPECT_EQ(s.controlCodeDelayIndex, 2);
}

TEST(Settings, RoundTripKeepsReservedBytesAndHiddenSwitch) {
  const std::string path = tempPath("kc_round.ini");
  std::vector<uint8_t> bytes(64);
  for (int i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  bytes[0] = 2; bytes[1] = 1; bytes[2] = 0; bytes[3] = 1; bytes[4] = 1; bytes[5] = 0; bytes[6] = 5; bytes[7] = 6;
  writeFile(path, bytes);
  KeyCasterSettings s = LoadSettings(path);
  EXPECT_EQ(s.shiftCodePage, 1);
  EXPECT_EQ(s.delayIndex, 5);
  s.sendReturn = 0;
  ASSERT_TRUE(SaveSettings(path, s));
  bytes[1] = 0;
  EXPECT_EQ(readFile(path), bytes);
}

TEST(Settings, ShortFileIsReadAsFarAsItGoes) {
  const std::string path = tempPath("kc_short.ini");
  writeFile(path, {1, 1, 1});
  KeyCasterSettings s = LoadSettings(path);
  EXPECT_EQ(s.sourceIndex, 1);
  EXPECT_EQ(s.windowModeCrLf, 1);
  EXPECT_EQ(s.shiftCodePage, 0);
  EXPECT_EQ(s.controlCodeDelayIndex, 2);
  EXPECT_EQ(readFile(path).size(), 3u);  // reading never writes an existing file
}

TEST(Settings, OutOfRangeValuesAreSanitisedForTheDialog) {
  KeyCasterSettings s;
  const uint8_t bytes[8] = {9, 2, 0, 7, 1, 0, 6, 7};
  s.overlay(bytes, sizeof bytes);
  const KeyCasterSettings d = s.sanitized();
  EXPECT_EQ(d.sourceIndex, 6);
  EXPECT_EQ(d.delayIndex, 0);
  EXPECT_EQ(d.controlCodeDelayIndex, 2);
  EXPECT_EQ(d.sendReturn, 1);
  EXPECT_EQ(d.shiftCodePage, 1);
}

TEST(HidReports, BarcodeOverThreeReports) {
  HidReportAssembler hid;
  std::vector<uint8_t> out;
  EXPECT_FALSE(hid.feed(report("ABC", 0x10, 0xFF, 0x0B).data(), 65, out));
  EXPECT_FALSE(hid.feed(report("DEFG", 0x10, 0x2E, 0x0B).data(), 65, out));
  ASSERT_TRUE(hid.feed(report("HI", 0x00, 0xFF, 0x0B).data(), 65, out));
  EXPECT_EQ(text(out), "ABCDEFGHI");
  EXPECT_EQ(hid.pendingBytes(), 0u);
}

TEST(HidReports, SingleReportRules) {
  HidReportAssembler hid;
  std::vector<uint8_t> out;
  // Byte 1 = 20 and a trailer 00 xx 0B that is no continuation mark: 13 bytes.
  auto r = report("0123456789ABC", 0x00, 0x41, 0x0B);
  ASSERT_EQ(r[1], 20);
  ASSERT_TRUE(hid.feed(r.data(), 65, out));
  EXPECT_EQ(text(out), "0123456789ABC");
  // Rule 3: terminator byte 0x0D at L, payload L-5 (up to the terminator).
  auto r3 = report("12345", 0x33, 0x34, 0x0D, 5);
  ASSERT_TRUE(hid.feed(r3.data(), 65, out));
  EXPECT_EQ(out.size(), 5u);
  // Rule 4: 00 then 0x11 at L-1, L: payload L-6.
  auto r4 = report("1234", 0x34, 0x00, 0x11, 6);
  ASSERT_TRUE(hid.feed(r4.data(), 65, out));
  EXPECT_EQ(text(out), "1234");
}

TEST(HidReports, BadCountsAndShortReportsAreDropped) {
  HidReportAssembler hid;
  std::vector<uint8_t> out = {'x'};
  std::vector<uint8_t> r(65, 0);
  for (int L : {0, 3, 6, 65, 200, 255}) {
    r[1] = static_cast<uint8_t>(L);
    EXPECT_FALSE(hid.feed(r.data(), 65, out)) << L;
  }
  EXPECT_FALSE(hid.feed(report("AB", 0, 0, 0).data(), 63, out));
  EXPECT_EQ(text(out), "x");
  // A count of 64 reaches the last byte of the report and is accepted.
  r[1] = 64;
  EXPECT_TRUE(hid.feed(r.data(), 65, out));
  EXPECT_EQ(out.size(), 57u);
}

TEST(HidReports, ContinuationIsCutAt4096) {
  HidReportAssembler hid;
  std::vector<uint8_t> out;
  const auto part = report(std::string(57, 'p'), 0x10, 0xFF, 0x0B);
  for (int i = 0; i < 100; ++i) ASSERT_FALSE(hid.feed(part.data(), 65, out));
  EXPECT_EQ(hid.pendingBytes(), kMaxBarcodeBytes);
  ASSERT_TRUE(hid.feed(report("end", 0x00, 0xFF, 0x0B).data(), 65, out));
  EXPECT_EQ(out.size(), kMaxBarcodeBytes);
  EXPECT_EQ(hid.pendingBytes(), 0u);
}

TEST(Serial, PauseEndsBarcodeAndLongInputIsCut) {
  SerialCollector c;
  std::vector<uint8_t> out;
  EXPECT_FALSE(c.pause(out));
  for (char ch : std::string("12\r\n")) c.addByte(static_cast<uint8_t>(ch));
  ASSERT_TRUE(c.pause(out));
  EXPECT_EQ(text(out), "12\r\n");
  EXPECT_FALSE(c.pause(out));
  for (int i = 0; i < 5000; ++i) c.addByte(static_cast<uint8_t>('0' + i % 10));
  ASSERT_TRUE(c.pause(out));
  ASSERT_EQ(out.size(), kMaxBarcodeBytes);
  EXPECT_EQ(out[4095], '5');
}

TEST(HandOver, FallsBackToTheLibraryOnlyWhenNothingWaits) {
  int notifications = 0;
  BarcodeHandOver h([&] { ++notifications; });
  int fetches = 0;
  BarcodeFetch fetch = [&](int index, int maxLength, uint8_t* buffer) {
    ++fetches;
    EXPECT_EQ(index, 0);
    EXPECT_EQ(maxLength, 4096);
    buffer[0] = 'L';
    return 1;
  };
  const std::string big(5000, 'b');
  h.deliver(reinterpret_cast<const uint8_t*>(big.data()), big.size());
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(TakeBarcode(h, fetch).size(), kMaxBarcodeBytes);
  EXPECT_EQ(fetches, 0);
  EXPECT_EQ(text(TakeBarcode(h, fetch)), "L");
  EXPECT_TRUE(TakeBarcode(h, [](int, int, uint8_t*) { return -5; }).empty());
  EXPECT_TRUE(TakeBarcode(h, [](int, int, uint8_t*) { return 99999; }).size() == kMaxBarcodeBytes);
}

TEST(HandOver, ConcurrentReadersEveryBarcodeOnceAndInOrder) {
  constexpr int kReaders = 4, kEach = 2000;
  std::atomic<int> notifications{0};
  BarcodeHandOver h([&] { notifications++; });
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&h, r] {
      for (int i = 0; i < kEach; ++i) {
        const std::string b = std::to_string(r) + ":" + std::to_string(i);
        h.deliver(reinterpret_cast<const uint8_t*>(b.data()), b.size());
      }
    });
  }
  // The window thread takes one barcode per notification while readers still run.
  std::vector<int> next(kReaders, 0);
  int taken = 0;
  std::vector<uint8_t> b;
  while (taken < kReaders * kEach) {
    if (!h.take(b)) {
      std::this_thread::yield();
      continue;
    }
    const std::string s = text(b);
    const int r = std::stoi(s.substr(0, s.find(':')));
    const int i = std::stoi(s.substr(s.find(':') + 1));
    ASSERT_EQ(i, next[r]) << "reader " << r;
    ++next[r];
    ++taken;
  }
  for (auto& t : readers) t.join();
  EXPECT_FALSE(h.take(b));
  EXPECT_EQ(notifications.load(), kReaders * kEach);
}
