#include "image/ColourRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vel {

namespace {

constexpr int kBlue = 0;
constexpr int kGreen = 1;
constexpr int kRed = 2;

int truncHalf(double v) { return static_cast<int>(v + 0.5); }

uint8_t byteOf(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

HsvAdjustment hsvAdjustment(bool enabled, int16_t hue, uint16_t saturation, uint16_t value) {
  HsvAdjustment hsv;
  if (!enabled) return hsv;
  hsv.hue = hue / 64.0;
  hsv.saturation = saturation / 256.0;
  hsv.value = value / 256.0;
  hsv.on = hsv.hue != 0 || hsv.saturation != 1 || hsv.value != 1;
  return hsv;
}

void adjustPixel(uint8_t* bgr, const HsvAdjustment& hsv) {
  const double r = bgr[kRed], g = bgr[kGreen], b = bgr[kBlue];
  const double max = std::max({r, g, b}), min = std::min({r, g, b});
  double v = max / 255, s = 0, h = 0;
  if (max != min) {
    s = (max - min) / max;
    const double d = (max - min) / 60;
    if (r == max)
      h = (g - b) / d + ((g - b) < 0 ? 360 : 0);
    else if (g == max)
      h = (b - r) / d + 120;
    else
      h = (r - g) / d + 240;
  }
  h += hsv.hue;
  if (h < 0) h += 360;
  if (h >= 360) h -= 360;
  // A shift of more than a turn (the configuration allows 512 degrees) is wrapped whole.
  if (h < 0 || h >= 360) {
    h = std::fmod(h, 360.0);
    if (h < 0) h += 360;
  }
  s = std::min(s * hsv.saturation, 1.0);
  v = std::min(v * hsv.value, 1.0);

  const double e = v * 255;
  const int vr = truncHalf(e);
  int red = vr, grn = vr, blu = vr;
  if (s != 0) {
    const int m = vr - truncHalf(s * e);
    const double d = s * e / 60;
    if (h < 60) {
      grn = m + truncHalf(h * d);
      blu = m;
    } else if (h < 120) {
      red = m + truncHalf((120 - h) * d);
      blu = m;
    } else if (h < 180) {
      red = m;
      blu = m + truncHalf((h - 120) * d);
    } else if (h < 240) {
      red = m;
      grn = m + truncHalf((240 - h) * d);
    } else if (h < 300) {
      red = m + truncHalf((h - 240) * d);
      grn = m;
    } else {
      grn = m;
      blu = m + truncHalf((360 - h) * d);
    }
  }
  bgr[kRed] = byteOf(red);
  bgr[kGreen] = byteOf(grn);
  bgr[kBlue] = byteOf(blu);
}

int firstBayerPhase(uint16_t rotationDegrees, uint16_t windowY) {
  int phase = 2;
  switch (rotationDegrees) {
    case 90: phase = 3; break;
    case 180: phase = 1; break;
    case 270: phase = 0; break;
    default: break;
  }
  return (windowY & 1) ? phase ^ 2 : phase;
}

void ColourRows::begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride, int firstPhase,
                       const HsvAdjustment& hsv) {
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  stride_ = stride;
  rowPhase_ = firstPhase;
  x_ = y_ = adjusted_ = 0;
  hsv_ = hsv;
  // Rows of an image this short miss channels the rules never fill: start them black.
  if (height < 3) std::memset(pixels, 0, size_t{height} * stride);
}

void ColourRows::put(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length && y_ < height_;) {
    if (x_ >= 2 && x_ + 2 < width_ && interiorRow()) {
      // The samples whose neighbours all exist, in one run.
      const size_t n = std::min<size_t>(length - i, width_ - 2 - x_);
      interiorSamples(data + i, n);
      i += n;
      x_ += static_cast<uint32_t>(n);
    } else {
      sample(data[i++]);
      ++x_;
    }
    if (x_ < width_) continue;
    x_ = 0;
    rowPhase_ ^= 2;
    if (++y_ >= 2) adjustRows(y_ - 2);
  }
}

void ColourRows::sample(uint8_t v) {
  const int phase = rowPhase_ ^ static_cast<int>(x_ & 1);
  if (phase == 0 || phase == 3)
    green(x_, y_, v);
  else
    redOrBlue(x_, y_, phase == 1 ? kRed : kBlue, v);
}

// Rows 2 .. height - 3 have all neighbours of their samples 2 .. width - 3: the
// rules below are those of green() and redOrBlue() without their edge cases.
bool ColourRows::interiorRow() const { return y_ >= 2 && y_ + 2 < height_; }

void ColourRows::interiorSamples(const uint8_t* data, size_t n) {
  // Bitmap rows are bottom-up: received row y - 1 lies one stride above row y in memory.
  uint8_t* row = at(x_, y_);
  for (size_t i = 0; i < n; ++i, row += 3) {
    const int v = data[i];
    const int phase = rowPhase_ ^ static_cast<int>((x_ + i) & 1);
    uint8_t* above = row + stride_;
    uint8_t* twoAbove = above + stride_;
    if (phase == 0 || phase == 3) {
      row[kGreen] = static_cast<uint8_t>(v);
      above[kGreen] = static_cast<uint8_t>((twoAbove[kGreen] + above[kGreen - 3] + above[kGreen + 3] + v) >> 2);
      continue;
    }
    const int c = phase == 1 ? kRed : kBlue;
    row[c] = static_cast<uint8_t>(v);
    row[c - 3] = static_cast<uint8_t>((row[c - 6] + v) >> 1);
    above[c] = static_cast<uint8_t>((twoAbove[c] + v) >> 1);
    above[c - 3] = static_cast<uint8_t>((twoAbove[c - 6] + twoAbove[c] + row[c - 6] + v) >> 2);
  }
}

void ColourRows::green(uint32_t x, uint32_t y, uint8_t v) {
  at(x, y)[kGreen] = v;
  if (y >= 1) {
    int sum = v, n = 1;
    if (y >= 2) sum += at(x, y - 2)[kGreen], ++n;
    if (x >= 1) sum += at(x - 1, y - 1)[kGreen], ++n;
    if (x + 1 < width_) sum += at(x + 1, y - 1)[kGreen], ++n;
    at(x, y - 1)[kGreen] = static_cast<uint8_t>(n == 4 ? sum >> 2 : n == 3 ? sum / 3 : n == 2 ? sum >> 1 : sum);
  }
  if (y + 1 == height_ && height_ >= 3 && x >= 1) {
    at(x - 1, y)[kGreen] = static_cast<uint8_t>(x == 1 ? (at(0, y - 1)[kGreen] + v) >> 1
                                                       : (at(x - 1, y - 1)[kGreen] + at(x - 2, y)[kGreen] + v) / 3);
  }
}

void ColourRows::redOrBlue(uint32_t x, uint32_t y, int c, uint8_t v) {
  at(x, y)[c] = v;
  if (x >= 1) at(x - 1, y)[c] = x >= 2 ? static_cast<uint8_t>((at(x - 2, y)[c] + v) >> 1) : v;
  if (y >= 1) at(x, y - 1)[c] = y >= 2 ? static_cast<uint8_t>((at(x, y - 2)[c] + v) >> 1) : v;
  if (x >= 1 && y >= 1) {
    int diagonal = v;
    if (x >= 2 && y >= 2)
      diagonal = (at(x - 2, y - 2)[c] + at(x, y - 2)[c] + at(x - 2, y)[c] + v) >> 2;
    else if (x >= 2)
      diagonal = (at(x - 2, y)[c] + v) >> 1;
    else if (y >= 2)
      diagonal = (at(1, y - 2)[c] + v) >> 1;
    at(x - 1, y - 1)[c] = static_cast<uint8_t>(diagonal);
  }
  if (x + 2 == width_) {
    at(x + 1, y)[c] = v;
    if (y >= 1) at(x + 1, y - 1)[c] = v;
  }
  if (y + 2 == height_) {
    at(x, y + 1)[c] = v;
    if (x >= 1) at(x - 1, y + 1)[c] = at(x - 1, y)[c];
    if (x + 2 == width_) at(x + 1, y + 1)[c] = v;
  }
}

void ColourRows::adjustRows(uint32_t end) {
  if (!hsv_.on) {
    adjusted_ = end;
    return;
  }
  for (; adjusted_ < end; ++adjusted_) {
    // Neighbouring pixels often share their colour: the last one is remembered.
    uint8_t last[3] = {0, 0, 0}, lastAdjusted[3] = {0, 0, 0};
    adjustPixel(lastAdjusted, hsv_);
    uint8_t* p = at(0, adjusted_);
    for (uint32_t x = 0; x < width_; ++x, p += 3) {
      if (p[0] != last[0] || p[1] != last[1] || p[2] != last[2]) {
        std::memcpy(last, p, 3);
        adjustPixel(p, hsv_);
        std::memcpy(lastAdjusted, p, 3);
      } else {
        std::memcpy(p, lastAdjusted, 3);
      }
    }
  }
}

void ColourRows::finish() {
  // The last pixel, when it is red or blue, gets no green from the rules: it
  // takes the average of its upper and left green neighbours.
  const uint32_t x = width_ - 1, y = height_ - 1;
  if (width_ >= 2 && height_ >= 2 && y_ == height_) {
    const int lastPhase = (rowPhase_ ^ 2) ^ static_cast<int>(x & 1);  // rowPhase_ has moved past the last row
    if (lastPhase == 1 || lastPhase == 2)
      at(x, y)[kGreen] = static_cast<uint8_t>((at(x, y - 1)[kGreen] + at(x - 1, y)[kGreen]) >> 1);
  }
  adjustRows(height_);
}

}  // namespace vel
