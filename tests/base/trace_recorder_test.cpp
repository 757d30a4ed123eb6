// The field-trace recorder's file, read back by the trace reader: each record's
// kind, direction, detail and bytes (payloads of every length modulo 4), the note
// of a dropped record, and the rotation at the size limit with the open channel
// announced again in the new file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PcapngReader.h"
#include "base/trace/Recorder.h"
#include "platform/Files.h"

namespace {

using vel::trace::Kind;
using vel::trace::Recorder;

struct Read {
  std::vector<trace::Interface> interfaces;
  std::vector<trace::Record> records;
  std::string error;
};

Read readFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  Read out;
  if (!vel::platform::fileReadAll(path.c_str(), bytes, 64u << 20)) {
    out.error = "cannot read " + path;
    return out;
  }
  trace::PcapngReader reader(bytes.data(), bytes.size());
  trace::Record r;
  while (reader.next(r)) out.records.push_back(r);
  out.interfaces = reader.interfaces();
  out.error = reader.error();
  return out;
}

std::string text(const trace::Record& r) { return std::string(r.payload.begin(), r.payload.end()); }

class TraceRecorder : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/veltraceXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/t.pcapng";
  }
  void TearDown() override {
    for (const char* suffix : {"", ".1"}) std::remove((path_ + suffix).c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_, path_;
};

TEST_F(TraceRecorder, RecordsOfEveryLengthComeBackWithTheirKindDirectionAndDetail) {
  std::vector<std::vector<uint8_t>> payloads;
  for (size_t n : {0, 1, 2, 3, 4, 5, 1021, 70000}) {
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 7 + n);
    payloads.push_back(p);
  }
  {
    Recorder recorder(path_, 64u << 20);
    const uint32_t line = recorder.openChannel("serial COM3", "serial line COM3");
    for (size_t i = 0; i < payloads.size(); ++i) {
      recorder.record(line, Kind::kData, i % 2 ? vel::trace::kInbound : vel::trace::kOutbound, 0, payloads[i].data(),
                      payloads[i].size());
    }
    recorder.text(line, Kind::kLineEvent, vel::trace::kNoDirection,
                  vel::trace::kEventCtsChanged | vel::trace::kEventCtsOn, "line events 0x0008");
    recorder.text(Recorder::kApiChannel, Kind::kApiCall, vel::trace::kOutbound, 0, "VelCaptureGreyImage()");
    recorder.closeChannel(line, "close");
  }
  const Read file = readFile(path_);
  ASSERT_EQ(file.error, "");
  ASSERT_EQ(file.interfaces.size(), 2u);
  EXPECT_EQ(file.interfaces[0].name, "serial COM3");
  EXPECT_EQ(file.interfaces[0].description, "serial line COM3");
  EXPECT_EQ(file.interfaces[1].name, "api");
  ASSERT_EQ(file.records.size(), payloads.size() + 4);
  EXPECT_EQ(file.records.front().kind, static_cast<uint8_t>(Kind::kOpen));
  for (size_t i = 0; i < payloads.size(); ++i) {
    const trace::Record& r = file.records[1 + i];
    EXPECT_EQ(r.interface, 0u);
    EXPECT_EQ(r.kind, static_cast<uint8_t>(Kind::kData));
    EXPECT_EQ(r.direction, i % 2 ? trace::Direction::kIn : trace::Direction::kOut);
    EXPECT_EQ(r.payload, payloads[i]) << "payload of " << payloads[i].size() << " bytes";
  }
  const trace::Record& event = file.records[1 + payloads.size()];
  EXPECT_EQ(event.kind, static_cast<uint8_t>(Kind::kLineEvent));
  EXPECT_EQ(event.detail, uint32_t{trace::kCtsChanged | trace::kCtsOn});
  EXPECT_EQ(event.direction, trace::Direction::kNone);
  const trace::Record& call = file.records[2 + payloads.size()];
  EXPECT_EQ(call.interface, 1u);
  EXPECT_EQ(text(call), "VelCaptureGreyImage()");
  EXPECT_EQ(file.records.back().kind, static_cast<uint8_t>(Kind::kClose));
  for (size_t i = 1; i < file.records.size(); ++i) EXPECT_LE(file.records[i - 1].timeUs, file.records[i].timeUs);
}

TEST_F(TraceRecorder, ARecordTooLargeForTheQueueIsDroppedAndNotedBeforeTheNext) {
  const std::vector<uint8_t> huge(vel::trace::kQueueBytes + 1, 0x11);
  const uint8_t small[3] = {1, 2, 3};
  {
    Recorder recorder(path_, 64u << 20);
    const uint32_t line = recorder.openChannel("usb \\\\.\\Dev0", "USB driver device");
    recorder.record(line, Kind::kData, vel::trace::kInbound, 0, huge.data(), huge.size());
    EXPECT_EQ(recorder.dropped(), 1u);
    recorder.record(line, Kind::kData, vel::trace::kInbound, 0, small, sizeof small);
    recorder.closeChannel(line, "close");
  }
  const Read file = readFile(path_);
  ASSERT_EQ(file.error, "");
  std::vector<std::string> seen;
  for (const trace::Record& r : file.records)
    seen.push_back(std::to_string(r.kind) + ":" + (r.kind == 1 ? std::to_string(r.payload.size()) : text(r)));
  const std::vector<std::string> wanted = {"4:open usb \\\\.\\Dev0", "8:dropped 1 blocks", "1:3", "5:close"};
  EXPECT_EQ(seen, wanted);
}

TEST_F(TraceRecorder, TheLimitRotatesTheFileAndTheNewOneAnnouncesTheOpenChannel) {
  constexpr uint64_t kLimit = 256 * 1024;
  const std::vector<uint8_t> chunk(20000, 0x5A);
  constexpr int kChunks = 20;  // about 400 KB: one rotation
  {
    Recorder recorder(path_, kLimit);
    const uint32_t line = recorder.openChannel("rfc2217 127.0.0.1:4000", "network serial port");
    for (int i = 0; i < kChunks; ++i) {
      recorder.record(line, Kind::kData, vel::trace::kInbound, uint32_t(i), chunk.data(), chunk.size());
      // Some records reach the writer on their own, some together.
      if (i % 3 == 0) {
        ASSERT_TRUE(recorder.flush(5000));
      }
    }
    recorder.closeChannel(line, "close");
  }
  const Read older = readFile(path_ + ".1"), newer = readFile(path_);
  ASSERT_EQ(older.error, "");
  ASSERT_EQ(newer.error, "");
  struct stat st {};
  ASSERT_EQ(::stat((path_ + ".1").c_str(), &st), 0);
  EXPECT_LE(uint64_t(st.st_size), kLimit);
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_LE(uint64_t(st.st_size), kLimit);
  ASSERT_FALSE(newer.interfaces.empty());
  EXPECT_EQ(newer.interfaces[0].name, "rfc2217 127.0.0.1:4000");
  ASSERT_FALSE(older.records.empty());
  EXPECT_EQ(older.records.front().kind, static_cast<uint8_t>(Kind::kOpen));
  // Every chunk is in one of the two files, in order.
  std::vector<uint32_t> details;
  for (const Read* file : {&older, &newer}) {
    for (const trace::Record& r : file->records) {
      if (r.kind == static_cast<uint8_t>(Kind::kData)) {
        details.push_back(r.detail);
        EXPECT_EQ(r.payload, chunk);
      }
    }
  }
  std::vector<uint32_t> wanted;
  for (int i = 0; i < kChunks; ++i) wanted.push_back(uint32_t(i));
  EXPECT_EQ(details, wanted);
  EXPECT_EQ(newer.records.back().kind, static_cast<uint8_t>(Kind::kClose));
}

}  // namespace
