// What the scene tests share: a shipped scene by name, the texts of the barcodes
// the library published, the configuration enable bit of QR Code (off at the
// simulated imager's factory settings), the channel timeout for captures.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ImgEngine.h"
#include "imager/SceneFile.h"

namespace scenetest {

constexpr int kQrBit = 25;
// The simulated imager renders, reads and compresses its picture before it
// answers a capture, slowly under the sanitizers: the channel waits this long.
constexpr int kCaptureTimeoutMs = 30000;

inline sim::SceneDescription scene(const std::string& name) {
  std::string error;
  auto d = sim::loadScene(sim::sceneFolder() + "/" + name, &error);
  EXPECT_TRUE(d.has_value()) << error;
  return d.value_or(sim::SceneDescription{});
}

inline std::set<std::string> capturedTexts() {
  std::set<std::string> texts;
  for (int i = 0; i < VelGetNumberOfDecodedBarcodes(); ++i) {
    unsigned char data[512] = {};
    const int n = VelGetBarcodeData(i, sizeof data, data);
    texts.insert(std::string(reinterpret_cast<char*>(data), n > 0 ? size_t(n) : 0));
  }
  return texts;
}

}  // namespace scenetest
