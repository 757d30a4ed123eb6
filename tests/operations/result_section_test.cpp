// The result section reader against recorded slot calls: call order, record
// heads, acknowledgements and every way a section can be cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemoryStream.h"
#include "SectionBytes.h"
#include "operations/ResultSection.h"

using namespace sections;

namespace {

class RecordingSlots : public vel::ResultSlots {
 public:
  bool shouldStop() override {
    calls.push_back("stop?");
    return stopAfterRecords >= 0 && ++recordsSeen > stopAfterRecords;
  }
  void resultsBegin() override { calls.push_back("begin"); }
  void resultType(int type) override { calls.push_back("type " + std::to_string(type)); }
  void resultIsConfiguration() override { calls.push_back("configuration"); }
  void resultCorners(const int32_t (&c)[vel::kCornerValues]) override {
    std::string s = "corners";
    for (int32_t v : c) s += " " + std::to_string(v);
    calls.push_back(s);
  }
  void resultTime(uint32_t ticks) override { calls.push_back("time " + std::to_string(ticks)); }
  void resultData(const uint8_t* bytes, size_t length) override {
    calls.push_back("data " + std::to_string(length));
    data.assign(bytes, bytes + length);
  }
  void resultEnd() override { calls.push_back("end"); }
  void timings(uint32_t capture, uint32_t autoExposure, uint32_t processing) override {
    calls.push_back("timings " + std::to_string(capture) + " " + std::to_string(autoExposure) + " " +
                    std::to_string(processing));
  }
  void resultsEnd() override { calls.push_back("results end"); }

  std::vector<std::string> calls;
  std::vector<uint8_t> data;
  int stopAfterRecords = -1;  // -1 = never
  int recordsSeen = 0;
};

struct SectionRun {
  bool succeeded;
  std::vector<std::string> calls;
  std::vector<uint8_t> acks;
  std::vector<uint8_t> data;
  size_t unread;
};

SectionRun read(const Bytes& section, int stopAfterRecords = -1) {
  MemoryStream stream(section);
  RecordingSlots slots;
  slots.stopAfterRecords = stopAfterRecords;
  const bool ok = vel::ReadResultSection(stream, slots);
  return {ok, slots.calls, stream.output, slots.data, stream.input.size() - stream.position};
}

using Calls = std::vector<std::string>;

Barcode typeThreeWithFiveBytes() {
  Barcode b;
  b.data = Bytes{'H', 'e', 'l', 'l', 'o'};
  return b;
}

}  // namespace

TEST(ResultSection, BarcodeThenTimingCallsEverySlotInOrderAndAcknowledgesEachRecord) {
  Bytes section = barcodeRecord(typeThreeWithFiveBytes());
  append(section, timingRecord(1000, 5000, 3000, 8000));
  const SectionRun run = read(section);
  EXPECT_TRUE(run.succeeded);
  EXPECT_EQ(run.calls, (Calls{"begin", "type 3", "corners 10 20 110 21 12 80 111 81", "time 400", "data 5", "end",
                              "stop?", "timings 2000 2000 8000", "results end"}));
  EXPECT_EQ(run.data, (Bytes{'H', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(run.acks, (Bytes{1, 1}));
  EXPECT_EQ(run.unread, 0u);
}

TEST(ResultSection, FieldsAreReadByTheirOwnSizes) {
  // Configuration flag, sign-extended corners, long-length heads, data length 0.
  Barcode b;
  b.type = 19;
  b.flags = 0xFF;
  b.corners[0] = -1;
  b.corners[3] = -32768;
  b.corners[7] = 32767;
  b.ticks = 0xFFFFFFFF;
  Bytes section = barcodeRecord(b, true);
  append(section, timingRecord(0xFFFFFFF0, 7, 0x10, 9, true));
  const SectionRun run = read(section);
  EXPECT_TRUE(run.succeeded);
  EXPECT_EQ(run.calls, (Calls{"begin", "type 19", "configuration", "corners -1 20 110 -32768 12 80 111 32767",
                              "time 4294967295", "end", "stop?", "timings 32 4294967287 9", "results end"}));
  EXPECT_EQ(run.acks, (Bytes{1, 1}));
  EXPECT_EQ(run.unread, 0u);
}

TEST(ResultSection, RecordsOfOtherKindsAreAcknowledgedWithoutABody) {
  Bytes section = head(9, 40);
  append(section, head(0, 0, true));
  append(section, timingRecord(0, 0, 0, 0));
  const SectionRun run = read(section);
  EXPECT_TRUE(run.succeeded);
  EXPECT_EQ(run.calls, (Calls{"begin", "stop?", "stop?", "timings 0 0 0", "results end"}));
  EXPECT_EQ(run.acks, (Bytes{1, 1, 1}));
}

TEST(ResultSection, DataOfEveryLengthIsReadInFullAndTheSectionStaysInStep) {
  for (size_t length : {size_t{1}, size_t{4096}, size_t{4097}, size_t{65535}}) {
    Barcode b;
    for (size_t i = 0; i < length; ++i) b.data.push_back(static_cast<uint8_t>(i * 7));
    Bytes section = barcodeRecord(b);
    append(section, timingRecord(1, 2, 3, 4));
    const SectionRun run = read(section);
    EXPECT_TRUE(run.succeeded) << length;
    EXPECT_EQ(run.data, b.data) << length;
    EXPECT_EQ(run.calls.at(run.calls.size() - 2), "timings 2 4294967295 4") << length;
    EXPECT_EQ(run.unread, 0u) << length;
  }
}

TEST(ResultSection, StopAfterARecordAcknowledgesZeroAndReadsNoFurther) {
  Bytes section = barcodeRecord(typeThreeWithFiveBytes());
  append(section, barcodeRecord(typeThreeWithFiveBytes()));
  append(section, timingRecord(1, 2, 3, 4));
  const SectionRun afterFirst = read(section, 0);
  EXPECT_FALSE(afterFirst.succeeded);
  EXPECT_EQ(afterFirst.acks, (Bytes{0}));
  EXPECT_EQ(afterFirst.calls.back(), "results end");
  EXPECT_EQ(afterFirst.calls.at(afterFirst.calls.size() - 2), "stop?");
  EXPECT_EQ(afterFirst.unread, section.size() - barcodeRecord(typeThreeWithFiveBytes()).size());

  Bytes otherKind = head(5, 0);
  append(otherKind, timingRecord(1, 2, 3, 4));
  const SectionRun onOtherKind = read(otherKind, 0);
  EXPECT_FALSE(onOtherKind.succeeded);
  EXPECT_EQ(onOtherKind.calls, (Calls{"begin", "stop?", "results end"}));
  EXPECT_EQ(onOtherKind.acks, (Bytes{0}));
}

TEST(ResultSection, ARecordCutAnywhereEndsTheSectionAsFailed) {
  // Every prefix of a barcode record: the barcode is ended iff its type byte
  // arrived, data goes to its slot only when complete, nothing is acknowledged.
  const Bytes record = barcodeRecord(typeThreeWithFiveBytes());
  for (size_t cut = 0; cut < record.size(); ++cut) {
    const SectionRun run = read(Bytes(record.begin(), record.begin() + static_cast<long>(cut)));
    EXPECT_FALSE(run.succeeded) << cut;
    EXPECT_TRUE(run.acks.empty()) << cut;
    ASSERT_GE(run.calls.size(), 2u) << cut;
    EXPECT_EQ(run.calls.front(), "begin") << cut;
    EXPECT_EQ(run.calls.back(), "results end") << cut;
    const bool typeRead = cut > 2;
    EXPECT_EQ(run.calls.at(1), typeRead ? "type 3" : "results end") << cut;
    EXPECT_EQ(run.calls.at(run.calls.size() - 2), typeRead ? "end" : "begin") << cut;
    EXPECT_TRUE(run.data.empty()) << cut;
  }
  const Bytes timing = timingRecord(1, 2, 3, 4, true);
  for (size_t cut = 0; cut < timing.size(); ++cut) {
    const SectionRun run = read(Bytes(timing.begin(), timing.begin() + static_cast<long>(cut)));
    EXPECT_FALSE(run.succeeded) << cut;
    EXPECT_EQ(run.calls, (Calls{"begin", "results end"})) << cut;
    EXPECT_TRUE(run.acks.empty()) << cut;
  }
}

TEST(ResultSection, AFailureAfterCompleteRecordsKeepsTheirAcknowledgements) {
  Bytes section = barcodeRecord(typeThreeWithFiveBytes());
  append(section, head(2, 30));
  const SectionRun run = read(section);
  EXPECT_FALSE(run.succeeded);
  EXPECT_EQ(run.acks, (Bytes{1}));
  EXPECT_EQ(run.calls, (Calls{"begin", "type 3", "corners 10 20 110 21 12 80 111 81", "time 400", "data 5", "end",
                              "stop?", "results end"}));
}
