// Scene files: what the simulated imager "sees", as a small text format shared
// by tests, benchmarks and velcli --simulate. One item a line, '#' starts a comment:
//
//   size 1280 1024                      # the sensor's picture
//   background 150 160 140 texture 30 noise 8 seed 7
//   barcode qr at 640 400 module 6 angle 15 text https://example.invalid/qr
//   barcode code128 at 300 200 module 3 height 80 ink 20 20 90 paper 250 250 240 text VEL-0042
//   barcode qr at 640 512 module 6 data 00 01 b5 ff
//
// A barcode is placed by its centre, drawn with modules of `module` pixels
// (linear codes `height` pixels tall), turned by `angle` degrees clockwise;
// `text` takes the rest of the line. `data` gives the content as bytes instead, the
// rest of the line as pairs of hex digits (spaces between pairs allowed), so that a
// scene holds any byte value, line ends included; only the 2-D symbologies take it,
// in their byte mode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A symbology a scene can hold: its name in scene files, the reader's format
// bit (zxing-cpp's BarcodeFormat value), the imager's type id and the
// configuration's enable bit.
struct SceneSymbology {
  const char* name;
  int readerFormat;
  uint8_t typeId;
  int enableBit;
  bool linear;
};
const SceneSymbology* sceneSymbology(const std::string& name);
const std::vector<SceneSymbology>& sceneSymbologies();

using Rgb = std::array<uint8_t, 3>;

struct ScenePlacement {
  const SceneSymbology* symbology = nullptr;
  std::string text;   // the content's bytes
  bool bytes = false;  // from `data`: encoded byte for byte, not as UTF-8 text
  int centreX = 0;
  int centreY = 0;
  int module = 2;
  int height = 60;
  double angle = 0;
  Rgb ink{0, 0, 0};
  Rgb paper{255, 255, 255};
};

struct SceneDescription {
  int width = 1280;
  int height = 1024;
  Rgb background{160, 160, 160};
  int texture = 20;  // amplitude of the background's pattern
  int noise = 6;     // amplitude of the sensor noise
  uint32_t seed = 1;
  std::vector<ScenePlacement> barcodes;
};

// Parses a scene; on a malformed line answers nothing and says why in error.
std::optional<SceneDescription> parseScene(const std::string& text, std::string* error = nullptr);
std::optional<SceneDescription> loadScene(const std::string& path, std::string* error = nullptr);
// The folder of the scene files shipped with the simulator.
std::string sceneFolder();

}  // namespace sim
