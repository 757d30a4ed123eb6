// A host link over a MemoryLine with a hand-driven imager at the other end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "devices/MemoryLine.h"
#include "RawImager.h"
#include "link/DirectLink.h"
#include "link/Link.h"

namespace linktest {

constexpr uint32_t kImagerToken = 0x5A5A0010;

struct RawLinkFixture : ::testing::Test {
  sim::MemoryLine line;
  RawImager imager{line.imager()};
  std::unique_ptr<vel::Link> link;

  void start(vel::LinkKind kind) {
    std::thread answer([&] { EXPECT_TRUE(imager.resync(kImagerToken)); });
    link = vel::createLink(kind, line.host(), 29000000);
    answer.join();
  }
  void TearDown() override { link.reset(); }
};

}  // namespace linktest
