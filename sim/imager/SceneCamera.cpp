#include "imager/SceneCamera.h"

#include <algorithm>
#include <cmath>

#include "imager/SceneBarcodes.h"
#include "imager/SceneJpeg.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint8_t kMaxLog2Step = 3;
constexpr uint32_t kFirstTicks = 1200;
constexpr uint32_t kTicksPerBarcode = 150;
constexpr uint8_t kCompressedStatus = 0x10;
constexpr int kDefaultQuality = 75;

uint8_t clampByte(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }

// A small deterministic generator for the sensor noise.
struct Noise {
  uint32_t state;
  int next(int amplitude) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return amplitude ? static_cast<int>(state % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude : 0;
  }
};

struct Placed {
  const ScenePlacement* barcode;
  ModulePattern pattern;
  double width, height, cosA, sinA;
};

Placed place(const ScenePlacement& b) {
  Placed p{&b, encodeBarcode(*b.symbology, b.text, b.bytes), 0, 0, std::cos(b.angle * kPi / 180), std::sin(b.angle * kPi / 180)};
  p.width = double(p.pattern.columns) * b.module;
  p.height = b.symbology->linear ? double(b.height) : double(p.pattern.rows) * b.module;
  return p;
}

// Corner (sx, sy) of a placed barcode, each -1 or +1, in picture coordinates.
std::pair<double, double> corner(const Placed& p, int sx, int sy) {
  const double u = sx * p.width / 2, v = sy * p.height / 2;
  return {p.barcode->centreX + u * p.cosA - v * p.sinA, p.barcode->centreY + u * p.sinA + v * p.cosA};
}

void draw(RgbPicture& picture, const Placed& p) {
  if (p.pattern.columns == 0) return;
  double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
  for (int sx : {-1, 1})
    for (int sy : {-1, 1}) {
      const auto [x, y] = corner(p, sx, sy);
      minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
  const int module = p.barcode->module;
  for (int y = std::max(0, int(minY)); y <= std::min(picture.height - 1, int(maxY) + 1); ++y)
    for (int x = std::max(0, int(minX)); x <= std::min(picture.width - 1, int(maxX) + 1); ++x) {
      const double dx = x + 0.5 - p.barcode->centreX, dy = y + 0.5 - p.barcode->centreY;
      const double u = dx * p.cosA + dy * p.sinA + p.width / 2, v = -dx * p.sinA + dy * p.cosA + p.height / 2;
      if (u < 0 || v < 0 || u >= p.width || v >= p.height) continue;
      const int column = int(u) / module, row = p.pattern.rows == 1 ? 0 : int(v) / module;
      const bool ink = p.pattern.ink[size_t(row) * p.pattern.columns + column] != 0;
      const Rgb& c = ink ? p.barcode->ink : p.barcode->paper;
      std::copy(c.begin(), c.end(), picture.rgb.begin() + (ptrdiff_t(y) * picture.width + x) * 3);
    }
}

uint8_t luma(const uint8_t* rgb) { return clampByte(0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2] + 0.5); }

// The pixel of a w x h image that lands on (x, y) when it is turned clockwise by rotation.
std::pair<uint32_t, uint32_t> sourceOf(uint16_t rotation, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  switch (rotation) {
    case 90: return {y, h - 1 - x};
    case 180: return {w - 1 - x, h - 1 - y};
    case 270: return {w - 1 - y, x};
    default: return {x, y};
  }
}

SceneBarcode scripted(const Placed& p, const CameraSettings& camera, size_t index) {
  SceneBarcode b;
  b.type = p.barcode->symbology->typeId;
  b.data.assign(p.barcode->text.begin(), p.barcode->text.end());
  const int step = 1 << std::min(camera.log2Step, kMaxLog2Step);
  const int signs[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  for (int i = 0; i < 4; ++i) {
    const auto [x, y] = corner(p, signs[i][0], signs[i][1]);
    b.corners[2 * i] = static_cast<int16_t>((x - camera.window[0]) / step);
    b.corners[2 * i + 1] = static_cast<int16_t>((y - camera.window[1]) / step);
  }
  b.ticks = kFirstTicks + kTicksPerBarcode * static_cast<uint32_t>(index);
  return b;
}

}  // namespace

RgbPicture renderScene(const SceneDescription& d) {
  RgbPicture picture{d.width, d.height, std::vector<uint8_t>(size_t(d.width) * d.height * 3)};
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      const double t = d.texture * (std::sin(x * 0.05) + std::cos(y * 0.037) + std::sin((x + 2 * y) * 0.011)) / 3;
      uint8_t* p = &picture.rgb[(size_t(y) * d.width + x) * 3];
      for (int c = 0; c < 3; ++c) p[c] = clampByte(d.background[c] + t * (1 + 0.2 * c));
    }
  for (const ScenePlacement& b : d.barcodes) draw(picture, place(b));
  Noise noise{d.seed ? d.seed : 1};
  for (uint8_t& v : picture.rgb) v = clampByte(v + noise.next(d.noise));
  return picture;
}

CameraSettings cameraSettings(const ImagerSettings& s, bool colourSensor) {
  CameraSettings c;
  c.window = s.window;
  c.log2Step = s.hwSubsamplingLog2;
  c.rotation = s.rotation;
  c.colour = colourSensor;
  c.symbologies = s.symbologies;
  c.compressed = s.compressImages;
  c.quality = s.compressQuality;
  c.maxBarcodes = s.maxBarcodes;
  return c;
}

int bayerChannel(uint16_t rotation, uint16_t windowY, uint32_t x, uint32_t y) {
  // The first pixel: blue unless the rotation moves another corner of the
  // sensor's blue-green / green-red cell there; an odd window row swaps rows.
  int first = rotation == 90 ? 3 : rotation == 180 ? 1 : rotation == 270 ? 0 : 2;
  if (windowY & 1) first ^= 2;
  const int phase = first ^ static_cast<int>((y & 1) << 1) ^ static_cast<int>(x & 1);
  return phase == 1 ? 0 : phase == 2 ? 2 : 1;
}

CameraView viewScene(const RgbPicture& picture, const CameraSettings& camera) {
  CameraView view;
  const uint32_t step = 1u << std::min(camera.log2Step, kMaxLog2Step);
  const uint32_t x0 = std::min<uint32_t>(camera.window[0], picture.width);
  const uint32_t y0 = std::min<uint32_t>(camera.window[1], picture.height);
  const uint32_t right = std::min<uint32_t>(x0 + camera.window[2], picture.width);
  const uint32_t bottom = std::min<uint32_t>(y0 + camera.window[3], picture.height);
  const uint32_t w = (right - x0 + step - 1) / step, h = (bottom - y0 + step - 1) / step;
  const bool turned = camera.rotation == 90 || camera.rotation == 270;
  view.image.width = static_cast<uint16_t>(turned ? h : w);
  view.image.height = static_cast<uint16_t>(turned ? w : h);
  for (uint32_t y = 0; y < view.image.height; ++y)
    for (uint32_t x = 0; x < view.image.width; ++x) {
      const auto [px, py] = sourceOf(camera.rotation, x, y, w, h);
      const uint8_t* rgb = &picture.rgb[(size_t(y0 + py * step) * picture.width + x0 + px * step) * 3];
      view.rgb.insert(view.rgb.end(), rgb, rgb + 3);
      view.image.grey.push_back(luma(rgb));
    }
  return view;
}

Scene captureScene(const SceneDescription& d, const RgbPicture& picture, const CameraSettings& camera) {
  Scene scene;
  CameraView view = viewScene(picture, camera);
  std::vector<std::pair<int, SceneBarcode>> script;
  for (size_t i = 0; i < d.barcodes.size(); ++i)
    script.emplace_back(d.barcodes[i].symbology->enableBit, scripted(place(d.barcodes[i]), camera, i));
  uint32_t ticks = kFirstTicks;
  for (SceneBarcode& b : readBarcodes(view.image.grey.data(), view.image.width, view.image.height,
                                      camera.symbologies, script)) {
    if (scene.records.size() >= static_cast<size_t>(std::max(camera.maxBarcodes, 0))) break;
    b.ticks = ticks;
    ticks += kTicksPerBarcode;
    scene.records.push_back(std::move(b));
  }
  scene.timing = {1000, 5000, 3000, 8000};
  if (camera.colour) {
    for (uint32_t y = 0; y < view.image.height; ++y)
      for (uint32_t x = 0; x < view.image.width; ++x) {
        const size_t i = size_t(y) * view.image.width + x;
        view.image.grey[i] = view.rgb[i * 3 + bayerChannel(camera.rotation, camera.window[1], x, y)];
      }
  }
  scene.image = std::move(view.image);
  // Sent when the configuration or the capture asks for compression.
  if (camera.compressed) scene.compressedMark = kCompressedStatus;
  scene.compressed = compressGrey(scene.image, camera.quality ? camera.quality : kDefaultQuality);
  return scene;
}

}  // namespace sim
