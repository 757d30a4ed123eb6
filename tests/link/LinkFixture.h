// A host link over a MemoryLine with a hand-driven imager at the other end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "devices/MemoryLine.h"
#include "RawImager.h"
#include "link/Link.h"

namespace linktest {

constexpr uint32_t kImagerToken = 0x5A5A0010;
// The priority parameter the device connection gives its link.
constexpr int kLinkPriority = 29000000;

// A link over the line, built while the imager answers its first resynchronisation.
inline std::unique_ptr<vel::Link> connect(vel::LinkKind kind, sim::MemoryLine& line, RawImager& imager) {
  std::thread answer([&] { EXPECT_TRUE(imager.resync(kImagerToken)); });
  auto link = vel::createLink(kind, line.host(), kLinkPriority);
  answer.join();
  return link;
}

struct RawLinkFixture : ::testing::Test {
  sim::MemoryLine line;
  RawImager imager{line.imager()};
  std::unique_ptr<vel::Link> link;

  void start(vel::LinkKind kind) { link = connect(kind, line, imager); }
  void TearDown() override { link.reset(); }
};

}  // namespace linktest
