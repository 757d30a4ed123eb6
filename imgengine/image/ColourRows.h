// Builds the 24-bit bitmap of a colour sensor's image from its Bayer mosaic as
// the samples arrive: each sample goes into its own channel and fills in the
// neighbours' missing channels (averages of the samples around them), and every
// row, once no later sample changes it (two rows behind the input; the last two
// at the end), gets the HSV adjustment. Rows away from the image's edges (in
// images at least twelve wide) are built whole once complete, from the samples
// of the last three rows kept aside; the result is the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel {

// The HSV adjustment: hue in degrees, saturation and value factors; off leaves
// the pixels as interpolated.
struct HsvAdjustment {
  bool on = false;
  double hue = 0;
  double saturation = 1;
  double value = 1;
};

// From the configuration: the adjustment bit, the signed hue (1/64 degree), and
// saturation and value (1/256). With the bit clear, or the identity values, it is off.
HsvAdjustment hsvAdjustment(bool enabled, int16_t hue, uint16_t saturation, uint16_t value);
// Applies an adjustment that is on to one pixel (blue, green, red).
void adjustPixel(uint8_t* bgr, const HsvAdjustment& hsv);

// An adjustment that is on, applied to runs of pixels with adjustPixel's
// results. With the configuration's units (hue in 1/64 degree, saturation and
// value in 1/256) the pixels go four or eight at a time in single precision; a pixel
// whose roundings come within a margin of a half, where single precision
// cannot tell the side, goes through adjustPixel. Other adjustments go through
// adjustPixel throughout.
class HsvRows {
 public:
  HsvRows() = default;
  // wide: eight pixels at a time where the processor can (else four).
  explicit HsvRows(const HsvAdjustment& hsv, bool wide = true);
  void adjust(uint8_t* bgr, size_t pixels) const;

 private:
  void adjustByPixel(uint8_t* bgr, size_t pixels) const;

  HsvAdjustment hsv_;
  bool vectored_ = false;
  bool wide_ = false;
  int32_t hueSectors_ = 0;     // whole 60-degree sectors of the hue shift, 0..5
  float hueFraction_ = 0;      // the rest, in sectors
  int32_t saturation_ = 256;   // 1/256
  int32_t value_ = 256;        // 1/256
  bool valueTiesExact_ = true;  // adjustPixel rounds every half of max x value up
  bool valueRoundedDown_[256] = {};  // by the maximum: it rounds it down
};

// The Bayer phase of the first pixel from the image rotation and the window's Y
// origin: 0 or 3 green, 1 red, 2 blue.
int firstBayerPhase(uint16_t rotationDegrees, uint16_t windowY);

class ColourRows {
 public:
  void begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride, int firstPhase,
             const HsvAdjustment& hsv);
  // The next length samples; samples beyond width x height are dropped.
  void put(const uint8_t* data, size_t length);
  // Completes the image: the last pixel's missing green, and the adjustment of
  // the rows not yet adjusted.
  void finish();

 private:
  uint8_t* at(uint32_t x, uint32_t y) const { return pixels_ + size_t{height_ - 1 - y} * stride_ + 3 * size_t{x}; }
  void sample(uint32_t x, uint8_t v);
  bool interiorRow() const;
  bool wholeRow() const;
  uint8_t* rawRow(uint32_t y) { return raw_.data() + size_t{y % 3} * width_; }
  void buildRow();
  void interiorSamples(const uint8_t* data, size_t n);
  void green(uint32_t x, uint32_t y, uint8_t v);
  void redOrBlue(uint32_t x, uint32_t y, int channel, uint8_t v);
  void adjustRows(uint32_t end);

  uint8_t* pixels_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t stride_ = 0;
  int rowPhase_ = 0;
  uint32_t x_ = 0;
  uint32_t y_ = 0;
  uint32_t adjusted_ = 0;  // rows adjusted so far
  bool adjusting_ = false;
  HsvRows hsv_;
  // The samples of the last three rows, for the rows built whole.
  bool wholeRows_ = false;
  std::vector<uint8_t> raw_;
};

}  // namespace vel
