// The simulated imager (link, command set, long transfers) on an in-memory line,
// driven by a raw host: the host's own link and two port pairs, on which a test
// writes requests and reads each response field by field as the host reads it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "devices/MemoryLine.h"
#include "imager/ImagerCommands.h"
#include "imager/ImagerLink.h"
#include "imager/ImagerOperations.h"
#include "link/Link.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

// What a host reads of a transfer, one read per step, and the acknowledgements it writes.
class Script {
 public:
  struct Step {
    bool ack;
    Bytes bytes;  // the expected bytes of a read, or the acknowledgement byte
  };
  Script& read(Bytes bytes) {
    steps_.push_back(Step{false, std::move(bytes)});
    return *this;
  }
  Script& ack(uint8_t value = 1) {
    steps_.push_back(Step{true, {value}});
    return *this;
  }
  const std::vector<Step>& steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

inline Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

inline Bytes slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

// Reads n bytes; an empty answer when the channel failed.
inline Bytes readBytes(vel::PortPair& channel, size_t n, int timeoutMs = 2000) {
  Bytes b(n);
  channel.read(b.data(), n, timeoutMs);
  return channel.failed() ? Bytes{} : b;
}

inline void writeAck(vel::PortPair& channel, uint8_t value) {
  channel.write(&value, 1, 1000);
  channel.flush();
}

// Runs the script on the channel; reports the first step that differs.
inline ::testing::AssertionResult follows(vel::PortPair& channel, const Script& script) {
  size_t index = 0;
  for (const Script::Step& step : script.steps()) {
    if (step.ack) {
      writeAck(channel, step.bytes[0]);
    } else {
      const Bytes got = readBytes(channel, step.bytes.size());
      if (got != step.bytes) {
        auto failure = ::testing::AssertionFailure() << "step " << index << ": expected";
        for (uint8_t b : step.bytes) failure << ' ' << int(b);
        failure << ", got";
        for (uint8_t b : got) failure << ' ' << int(b);
        return failure << (got.empty() ? " (channel failed)" : "");
      }
    }
    ++index;
  }
  return ::testing::AssertionSuccess();
}

struct ImagerTest : ::testing::TestWithParam<vel::LinkKind> {
  sim::MemoryLine line;
  std::unique_ptr<sim::ImagerLink> imagerLink;
  std::unique_ptr<sim::ImagerCommands> commands;
  std::unique_ptr<sim::ImagerOperations> ops;
  std::unique_ptr<vel::Link> host;
  std::unique_ptr<vel::PortPair> command;
  std::unique_ptr<vel::PortPair> event;

  void start(int32_t blockSize = 4096) {
    sim::ImagerIdentity identity;
    identity.blockSize = blockSize;
    const bool packet = GetParam() == vel::LinkKind::Packet;
    imagerLink = std::make_unique<sim::ImagerLink>(line.imager(), packet ? sim::Framing::Packet : sim::Framing::Direct,
                                                   0x24680000);
    commands = std::make_unique<sim::ImagerCommands>(*imagerLink, identity);
    ops = std::make_unique<sim::ImagerOperations>(*commands);
    host = vel::createLink(GetParam(), line.host(), 29000000);
    command = host->openPortPair(0, 1);
    event = host->openPortPair(2, 3);
  }

  void TearDown() override {
    command.reset();
    event.reset();
    host.reset();
    if (imagerLink) imagerLink->shutdown();  // ends waits for credits and acknowledgements
    ops.reset();
    commands.reset();
    imagerLink.reset();
  }

  // The code byte, then each field in its own write, pushed out.
  void request(uint8_t code, const std::vector<Bytes>& fields = {}) {
    command->write(&code, 1, 1000);
    for (const Bytes& f : fields) command->write(f.data(), f.size(), 1000);
    command->flush();
  }

  // The block-size query answered at once: nothing of an earlier transfer is left on the channel.
  ::testing::AssertionResult channelIsClear(int32_t blockSize) {
    request(26);
    const Bytes got = readBytes(*command, 4);
    if (got == le32(static_cast<uint32_t>(blockSize))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the block-size answer did not come next";
  }

  sim::TransferReport lastTransfer(size_t count) {
    EXPECT_TRUE(ops->waitForTransfers(count, 3000));
    const auto all = ops->transfers();
    return all.size() >= count ? all[count - 1] : sim::TransferReport{};
  }
};

inline std::string kindName(const ::testing::TestParamInfo<vel::LinkKind>& info) {
  return info.param == vel::LinkKind::Packet ? "Packet" : "Direct";
}

}  // namespace simtest
