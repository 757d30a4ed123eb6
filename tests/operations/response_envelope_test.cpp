// The response envelope against recorded slot calls: the status byte and the
// exposure report, the image size, the order of result and image sections as the
// operation flags ask, and where a failure ends the response; the previous-image
// forms.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "MemoryStream.h"
#include "SectionBytes.h"
#include "operations/OperationResponse.h"

using namespace sections;

namespace {

constexpr int32_t kBlockSize = 4096;

class Recorder : public vel::ResponseSlots, public vel::ResultSlots, public vel::ImageSlots {
 public:
  // ResponseSlots
  void exposureReport(uint16_t gain, uint16_t integration, uint8_t illumination) override {
    calls.push_back("exposure " + std::to_string(gain) + " " + std::to_string(integration) + " " +
                    std::to_string(illumination));
  }
  void presentationMode(bool on) override { calls.push_back(on ? "presentation on" : "presentation off"); }
  void setCompressed(bool on) override {
    // The library's flag is shared: another operation's response may set it right after.
    compressed = otherResponse ? *otherResponse : on;
    calls.push_back(on ? "compressed" : "uncompressed");
  }
  bool isCompressed() override { return compressed; }
  void transferFailed() override { calls.push_back("failed"); }
  vel::ResultSlots& results() override { return *this; }
  vel::ImageSlots& images() override { return *this; }

  // ResultSlots: only the section's ends are of interest here.
  bool shouldStop() override { return false; }
  void resultsBegin() override { calls.push_back("results"); }
  void resultType(int) override {}
  void resultIsConfiguration() override {}
  void resultCorners(const int32_t (&)[vel::kCornerValues]) override {}
  void resultTime(uint32_t) override {}
  void resultData(const uint8_t*, size_t) override {}
  void resultEnd() override {}
  void timings(uint32_t, uint32_t, uint32_t) override {}
  void resultsEnd() override {}

  // ImageSlots: each section reads its marker byte, as a stand-in for its content.
  void setSensorType(int) override {}
  void beginRun() override {}
  bool rejected() const override { return false; }
  bool readBinarySection(vel::ByteStream& s, uint16_t w, uint16_t h, int32_t blockSize) override {
    calls.push_back("binary " + std::to_string(w) + "x" + std::to_string(h) + " " + std::to_string(blockSize));
    return section(s);
  }
  bool readGreySection(vel::ByteStream& s, uint16_t w, uint16_t h, bool c, uint32_t size, int32_t) override {
    calls.push_back("grey " + std::to_string(w) + "x" + std::to_string(h) + (c ? " compressed " : " raw ") +
                    std::to_string(size));
    return section(s);
  }

  std::vector<std::string> calls;
  bool compressed = false;
  std::optional<bool> otherResponse;
  bool imagesFail = false;

 private:
  bool section(vel::ByteStream& s) {
    uint8_t marker = 0;
    s.read(&marker, 1);
    return !imagesFail && !s.failed() && marker == kImageMarker;
  }

 public:
  static constexpr uint8_t kImageMarker = 0xA5;
};

Bytes resultSection() {
  Bytes out;
  append(out, timingRecord(1, 2, 3, 4));
  return out;
}

Bytes sizeOf(uint16_t w, uint16_t h) {
  Bytes out;
  put16(out, w);
  put16(out, h);
  return out;
}

// A response with flags 0x0F: status, size, results, binary, grey, results.
Bytes everySection(uint16_t w, uint16_t h) {
  Bytes out{0x00};
  append(out, sizeOf(w, h));
  append(out, resultSection());
  out.push_back(Recorder::kImageMarker);
  out.push_back(Recorder::kImageMarker);
  append(out, resultSection());
  return out;
}

struct Parsed {
  std::vector<std::string> calls;
  int flushes;
  int reads;
  size_t unread;
  bool failed;
};

Parsed full(const Bytes& bytes, uint8_t flags, bool imagesFail = false) {
  MemoryStream stream(bytes);
  Recorder slots;
  slots.imagesFail = imagesFail;
  vel::ReadOperationResponse(stream, flags, kBlockSize, slots);
  return Parsed{slots.calls, stream.flushes, stream.reads, stream.input.size() - stream.position, stream.failed()};
}

using Calls = std::vector<std::string>;

}  // namespace

TEST(ResponseEnvelope, StatusByteExposureReportAndFlags) {
  Bytes bytes{0x01 | 0x02};
  put16(bytes, 5000);  // gain
  put16(bytes, 1200);  // integration time
  bytes.push_back(7);  // illumination
  const Parsed r = full(bytes, 0);
  EXPECT_EQ(r.calls, (Calls{"exposure 5000 1200 7", "presentation on", "uncompressed"}));
  EXPECT_EQ(r.reads, 4) << "status, gain, integration time and illumination are read one by one";
  EXPECT_EQ(r.flushes, 1);
  EXPECT_EQ(r.unread, 0u);

  for (uint8_t status : {0x10, 0x80, 0x90}) {
    EXPECT_EQ(full({status}, 0).calls, (Calls{"presentation off", "compressed"})) << int(status);
  }
}

TEST(ResponseEnvelope, AHeaderCutShortEndsTheResponseWithoutAFlush) {
  const Parsed exposure = full({0x01, 0x10, 0x00, 0x20}, 0);
  EXPECT_TRUE(exposure.calls.empty());
  EXPECT_EQ(exposure.flushes, 0);

  Bytes noHeight{0x00};
  put16(noHeight, 64);
  const Parsed size = full(noHeight, 0x04);
  EXPECT_EQ(size.calls, (Calls{"presentation off", "uncompressed"}));
  EXPECT_EQ(size.flushes, 0);

  Bytes noGreySize{0x10};
  append(noGreySize, sizeOf(64, 32));
  noGreySize.push_back(0x00);  // two of the size value's four bytes
  noGreySize.push_back(0x01);
  const Parsed grey = full(noGreySize, 0x04);
  EXPECT_EQ(grey.calls, (Calls{"presentation off", "compressed"}));
  EXPECT_EQ(grey.flushes, 0);
}

TEST(ResponseEnvelope, SectionsFollowInTheOrderTheFlagsAsk) {
  const Parsed r = full(everySection(640, 480), 0x0F);
  EXPECT_EQ(r.calls, (Calls{"presentation off", "uncompressed", "results", "binary 640x480 4096",
                            "grey 640x480 raw 307200", "results"}));
  EXPECT_EQ(r.unread, 0u);
  EXPECT_EQ(r.flushes, 1);

  Bytes compressed{0x80};
  append(compressed, sizeOf(320, 240));
  put32(compressed, 24045);
  compressed.push_back(Recorder::kImageMarker);
  EXPECT_EQ(full(compressed, 0x04).calls, (Calls{"presentation off", "compressed", "grey 320x240 compressed 24045"}));

  // Without an image flag no size is read.
  Bytes resultsOnly{0x00};
  append(resultsOnly, resultSection());
  const Parsed results = full(resultsOnly, 0x01);
  EXPECT_EQ(results.calls, (Calls{"presentation off", "uncompressed", "results"}));
  EXPECT_EQ(results.unread, 0u);
}

// The grey section of a response follows that response's own status, whatever
// another operation's response has meanwhile done to the library's flag.
TEST(ResponseEnvelope, TheGreySectionFollowsItsOwnResponsesStatus) {
  Bytes compressed{0x10};
  append(compressed, sizeOf(32, 8));
  put32(compressed, 300);
  compressed.push_back(Recorder::kImageMarker);
  Bytes raw{0x00};
  append(raw, sizeOf(32, 8));
  raw.push_back(Recorder::kImageMarker);
  for (const auto& [bytes, grey] : {std::pair{compressed, "grey 32x8 compressed 300"}, std::pair{raw, "grey 32x8 raw 256"}}) {
    MemoryStream stream(bytes);
    Recorder slots;
    slots.otherResponse = bytes[0] == 0x00;
    vel::ReadOperationResponse(stream, 0x04, kBlockSize, slots);
    EXPECT_EQ(slots.calls.back(), grey);
    EXPECT_EQ(stream.position, bytes.size());
  }
}

TEST(ResponseEnvelope, AFailedSectionSkipsTheRestButTheStreamIsFlushed) {
  const Parsed r = full(everySection(64, 8), 0x0F, /*imagesFail=*/true);
  EXPECT_EQ(r.calls, (Calls{"presentation off", "uncompressed", "results", "binary 64x8 4096"}));
  EXPECT_EQ(r.flushes, 1);

  Bytes cutResults{0x00};
  append(cutResults, sizeOf(64, 8));
  cutResults.push_back(0x02);  // a record head cut short
  const Parsed cut = full(cutResults, 0x0B);
  EXPECT_EQ(cut.calls, (Calls{"presentation off", "uncompressed", "results"}));
  EXPECT_EQ(cut.flushes, 1);
}

TEST(ResponseEnvelope, PreviousImageForms) {
  MemoryStream binary(sizeOf(104, 16));
  binary.input.push_back(Recorder::kImageMarker);
  Recorder b;
  vel::ReadBinaryOnlyResponse(binary, 512, b);
  EXPECT_EQ(b.calls, (Calls{"binary 104x16 512"}));
  EXPECT_EQ(binary.flushes, 1);

  Bytes greyBytes = sizeOf(20, 5);
  put32(greyBytes, 50);
  greyBytes.push_back(Recorder::kImageMarker);
  MemoryStream grey(greyBytes);
  Recorder g;
  vel::ReadGreyOnlyResponse(grey, 512, true, g);
  EXPECT_EQ(g.calls, (Calls{"grey 20x5 compressed 50"}));
  EXPECT_EQ(grey.flushes, 1);

  // A stream that failed before, or a header cut short: reset and failed.
  MemoryStream failed(sizeOf(20, 5));
  failed.abort();
  Recorder f;
  vel::ReadGreyOnlyResponse(failed, 512, false, f);
  EXPECT_EQ(f.calls, (Calls{"failed"}));
  EXPECT_FALSE(failed.failed()) << "the stream was reset";
  EXPECT_EQ(failed.position, 0u);

  MemoryStream shortHeader({20, 0, 5});
  Recorder s;
  vel::ReadGreyOnlyResponse(shortHeader, 512, false, s);
  EXPECT_EQ(s.calls, (Calls{"failed"}));
  EXPECT_EQ(shortHeader.flushes, 0);
}
