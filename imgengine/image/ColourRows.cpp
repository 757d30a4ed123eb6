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

namespace {

using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
constexpr size_t kLanes = 4;
constexpr size_t kChunk = 64;  // pixels gathered into channel arrays at a time

// How close to a half a rounded single-precision value may come and still be
// taken: its error against the exact value stays below 1.2e-4 (the largest,
// the sector term: 2.7e-7 on the fraction of the sector times up to 255, plus
// 3e-5 on S x E and the roundings of the sums), and adjustPixel's double
// precision stays within 1e-11 of it, so beyond this margin both round alike.
constexpr float kMargin = 1.0f / 1024;

I4 broadcast(int32_t v) { return I4{v, v, v, v}; }
F4 broadcast(float v) { return F4{v, v, v, v}; }

}  // namespace

HsvRows::HsvRows(const HsvAdjustment& hsv) : hsv_(hsv) {
  if (!hsv.on) return;
  const double hue = hsv.hue * 64, saturation = hsv.saturation * 256, value = hsv.value * 256;
  auto whole = [](double v, double low, double high) { return v >= low && v <= high && v == std::floor(v); };
  if (!whole(hue, -32768, 32767) || !whole(saturation, 0, 65535) || !whole(value, 0, 65535)) return;
  // The shift in 1/64 degree, taken into [0, 360) degrees: the hue is wrapped whole.
  int32_t shift = static_cast<int32_t>(hue) % 23040;
  if (shift < 0) shift += 23040;
  hueSectors_ = shift / 3840;
  hueFraction_ = static_cast<float>(shift % 3840) / 3840.0f;
  saturation_ = static_cast<int32_t>(saturation);
  value_ = static_cast<int32_t>(value);
  // The output's maximum depends on the input's maximum alone: a grey pixel gives it.
  for (int m = 0; m < 256; ++m) {
    uint8_t grey[3] = {uint8_t(m), uint8_t(m), uint8_t(m)};
    adjustPixel(grey, hsv);
    valueOfMax_[m] = grey[0];
  }
  vectored_ = true;
}

void HsvRows::adjustByPixel(uint8_t* bgr, size_t pixels) const {
  // Neighbouring pixels often share their colour: the last one is remembered.
  uint8_t last[3] = {0, 0, 0}, lastAdjusted[3] = {0, 0, 0};
  adjustPixel(lastAdjusted, hsv_);
  for (size_t i = 0; i < pixels; ++i, bgr += 3) {
    if (bgr[0] != last[0] || bgr[1] != last[1] || bgr[2] != last[2]) {
      std::memcpy(last, bgr, 3);
      adjustPixel(bgr, hsv_);
      std::memcpy(lastAdjusted, bgr, 3);
    } else {
      std::memcpy(bgr, lastAdjusted, 3);
    }
  }
}

// adjustPixel in exact terms: with max, min and spread = max - min of the input,
// E = min(max x value, 255), S x E = min(spread / max x saturation, 1) x E,
// Vr = round(E), M = Vr - round(S x E); the hue in sectors of 60 degrees,
// (the difference of the other two channels) / spread + the maximum's sector +
// the shift, modulo 6, has a whole part j (the sector) and a fraction; the
// sector term round(f x S x E) has f = the fraction in even sectors, 1 - it in
// odd ones. On a sector boundary both sectors give the same pixel, so only the
// two roundings need the margin; Vr comes from adjustPixel itself.
void HsvRows::adjust(uint8_t* bgr, size_t pixels) const {
  if (!vectored_) {
    adjustByPixel(bgr, pixels);
    return;
  }
  alignas(16) int32_t blue[kChunk], green[kChunk], red[kChunk], top[kChunk], unsure[kChunk];
  const I4 zero = broadcast(0), one = broadcast(1), six = broadcast(6);
  const I4 saturation = broadcast(saturation_), value = broadcast(value_);
  const I4 hueSectors = broadcast(hueSectors_);
  const F4 hueFraction = broadcast(hueFraction_), unit = broadcast(1.0f), half = broadcast(0.5f);
  const F4 low = broadcast(kMargin), high = broadcast(1 - kMargin);
  for (size_t at = 0; at < pixels; at += kChunk) {
    const size_t count = std::min(kChunk, pixels - at);
    uint8_t* p = bgr + 3 * at;
    for (size_t i = 0; i < count; ++i) {
      blue[i] = p[3 * i];
      green[i] = p[3 * i + 1];
      red[i] = p[3 * i + 2];
      top[i] = valueOfMax_[std::max({p[3 * i], p[3 * i + 1], p[3 * i + 2]})];
    }
    const size_t lanes = (count + kLanes - 1) / kLanes * kLanes;
    for (size_t i = count; i < lanes; ++i) blue[i] = green[i] = red[i] = top[i] = 0;
    for (size_t i = 0; i < lanes; i += kLanes) {
      I4 b, g, r, vr;
      std::memcpy(&b, blue + i, sizeof b);
      std::memcpy(&g, green + i, sizeof g);
      std::memcpy(&r, red + i, sizeof r);
      std::memcpy(&vr, top + i, sizeof vr);
      I4 hi = r > g ? r : g;
      hi = hi > b ? hi : b;
      I4 lo = r < g ? r : g;
      lo = lo < b ? lo : b;
      const I4 spread = hi - lo;
      const I4 redMax = r == hi;
      const I4 greenMax = ~redMax & (g == hi);
      const I4 diff = redMax ? g - b : (greenMax ? b - r : r - g);
      const I4 base = redMax ? (diff < zero ? six : zero) : (greenMax ? broadcast(2) : broadcast(4));
      const F4 w = __builtin_convertvector(diff, F4) / __builtin_convertvector(spread > zero ? spread : one, F4) +
                   hueFraction;
      const I4 whole = (w < broadcast(0.0f)) - (w >= unit);  // -1, 0 or 1: w lies in [-1, 2)
      const F4 fraction = w - __builtin_convertvector(whole, F4);
      I4 sector = base + hueSectors + whole;
      sector = sector < zero ? sector + six : sector;
      sector = sector >= six ? sector - six : sector;
      sector = sector >= six ? sector - six : sector;
      const F4 f = (sector & one) != zero ? unit - fraction : fraction;
      F4 s = __builtin_convertvector(spread * saturation, F4) /
             __builtin_convertvector((hi > zero ? hi : one) * broadcast(256), F4);
      s = s < unit ? s : unit;
      I4 e = hi * value;
      e = e < broadcast(65280) ? e : broadcast(65280);
      const F4 se = s * (__builtin_convertvector(e, F4) * broadcast(1.0f / 256));
      const F4 crExact = se + half;
      const I4 cr = __builtin_convertvector(crExact, I4);
      const F4 crFraction = crExact - __builtin_convertvector(cr, F4);
      const F4 termExact = f * se + half;
      const I4 term = __builtin_convertvector(termExact, I4);
      const F4 termFraction = termExact - __builtin_convertvector(term, F4);
      const I4 doubt = (crFraction < low) | (crFraction > high) | (termFraction < low) | (termFraction > high);
      I4 m = vr - cr;
      m = m < zero ? zero : m;
      I4 mt = m + term;
      mt = mt > broadcast(255) ? broadcast(255) : mt;
      const I4 s0 = sector == zero, s1 = sector == one, s2 = sector == broadcast(2), s3 = sector == broadcast(3),
               s4 = sector == broadcast(4), s5 = sector == broadcast(5);
      r = (s0 | s5) ? vr : ((s1 | s4) ? mt : m);
      g = (s1 | s2) ? vr : ((s0 | s3) ? mt : m);
      b = (s3 | s4) ? vr : ((s2 | s5) ? mt : m);
      std::memcpy(blue + i, &b, sizeof b);
      std::memcpy(green + i, &g, sizeof g);
      std::memcpy(red + i, &r, sizeof r);
      std::memcpy(unsure + i, &doubt, sizeof doubt);
    }
    for (size_t i = 0; i < count; ++i, p += 3) {
      if (unsure[i]) {
        adjustPixel(p, hsv_);
        continue;
      }
      p[0] = static_cast<uint8_t>(blue[i]);
      p[1] = static_cast<uint8_t>(green[i]);
      p[2] = static_cast<uint8_t>(red[i]);
    }
  }
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
  adjusting_ = hsv.on;
  if (adjusting_) hsv_ = HsvRows(hsv);
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
  if (!adjusting_) {
    adjusted_ = end;
    return;
  }
  for (; adjusted_ < end; ++adjusted_) hsv_.adjust(at(0, adjusted_), width_);
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
