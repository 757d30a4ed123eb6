// The simulated imager's camera: a scene file rendered into an RGB picture
// (textured background, barcodes placed, scaled and turned, sensor noise), and
// what one capture of it sends: the configured window, subsampled and rotated,
// as a grey image or, for a colour sensor, as the Bayer mosaic of its RGB
// pixels; and the barcodes read in that very image.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imager/ImagerConfigStore.h"
#include "imager/ImagerScene.h"
#include "imager/SceneFile.h"

namespace sim {

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // red, green, blue per pixel, top row first
};

RgbPicture renderScene(const SceneDescription& description);

struct CameraSettings {
  std::array<uint16_t, 4> window{0, 0, 1280, 1024};  // x, y, width, height
  uint8_t log2Step = 0;                             // subsampling 1 << log2Step (at most 8)
  uint16_t rotation = 0;                            // 90, 180, 270 turn the image clockwise
  bool colour = false;                              // a colour sensor sends its Bayer mosaic
  uint64_t symbologies = ~uint64_t{0};              // configuration enable bits
  bool compressed = false;                          // the imager compresses every grey image it sends
  int quality = 0;                                  // JPEG quality (0: the imager's default)
  int maxBarcodes = 255;                            // results sent per capture, the first ones read
};
CameraSettings cameraSettings(const ImagerSettings& settings, bool colourSensor);

// The window of the picture as the imager sends it: luma values top row first,
// and the RGB pixels they came from (three bytes a pixel).
struct CameraView {
  SceneImage image;
  std::vector<uint8_t> rgb;
};
CameraView viewScene(const RgbPicture& picture, const CameraSettings& camera);

// A capture: the image (a mosaic for a colour sensor) and the results read in it.
Scene captureScene(const SceneDescription& description, const RgbPicture& picture, const CameraSettings& camera);

// The Bayer channel sampled at (x, y) of an image sent with this rotation and
// window Y origin: 0 red, 1 green, 2 blue.
int bayerChannel(uint16_t rotation, uint16_t windowY, uint32_t x, uint32_t y);

}  // namespace sim
