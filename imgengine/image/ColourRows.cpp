#include "image/ColourRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// SSE2 where the target has it (x86-64, and the i686 build, which enables it), AVX2
// chosen at run time.
#if defined(__SSE2__)
#define VEL_SSE2 1
#include <immintrin.h>
#endif

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

#if VEL_SSE2
namespace {

bool hasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// Four pixels (twelve bytes at p, sixteen readable) as four words, byte 3 of each the next pixel's first.
inline void unpackPixels(const uint8_t* p, uint32_t* words) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i c = _mm_unpacklo_epi64(v, _mm_srli_si128(v, 6));  // bytes 0..7, 6..13
  const __m128i d = _mm_srli_epi64(c, 24);                        // bytes 3..10, 9..16
  const __m128i w = _mm_unpacklo_epi32(_mm_shuffle_epi32(c, _MM_SHUFFLE(2, 0, 2, 0)),
                                       _mm_shuffle_epi32(d, _MM_SHUFFLE(2, 0, 2, 0)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(words), w);
}

// Four words' low three bytes as four pixels, twelve bytes at p.
inline void packPixels(const uint32_t* words, uint8_t* p) {
  const __m128i x = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words)), _mm_set1_epi32(0xFFFFFF));
  const __m128i y = _mm_or_si128(_mm_and_si128(x, _mm_set1_epi64x(0xFFFFFF)),
                                 _mm_and_si128(_mm_srli_epi64(x, 8), _mm_set1_epi64x(0xFFFFFF000000)));
  const __m128i z = _mm_or_si128(_mm_and_si128(y, _mm_set_epi64x(0, -1)), _mm_slli_si128(_mm_srli_si128(y, 8), 6));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), z);
  const int32_t rest = _mm_cvtsi128_si32(_mm_srli_si128(z, 8));
  std::memcpy(p + 8, &rest, 4);
}

}  // namespace
#endif

#if VEL_SSE2
namespace {

constexpr size_t kChunk = 64;  // pixels taken apart into lanes at a time

// How close to a half a rounded single-precision value may come and still be
// taken: its error against the exact value stays below 1.2e-4 (the largest,
// the sector term: 2.7e-7 on the fraction of the sector times up to 255, plus
// 3e-5 on S x E and the roundings of the sums), and adjustPixel's double
// precision stays within 1e-11 of it, so beyond this margin both round alike.
constexpr float kMargin = 1.0f / 1024;

// Lane results: the pixel as four bytes (its own three, then the next pixel's
// first as it was), and whether the pixel needs adjustPixel (-1) or, with the
// maximum's rounding at a half, which maximum it had (else 0).
struct HsvConstants {
  float saturation;  // 1/256 of the configuration value: exact
  float value;       // the configuration value
  float hueFraction;
  int32_t hueSectors;
  int32_t valueTies;  // -1: report maxima at a rounding half
};

// Adjusts lanes (a multiple of the vector width) words in place, in vectors of
// type F (floats) and I (32-bit integers) of the same width.
template <typename F, typename I>
[[gnu::always_inline]] inline void adjustWords(uint32_t* words, int32_t* unsure, size_t lanes, const HsvConstants& k) {
  constexpr size_t width = sizeof(F) / sizeof(float);
  const I zero = I{} + 0, one = I{} + 1, two = I{} + 2, three = I{} + 3, four = I{} + 4, five = I{} + 5,
          six = I{} + 6, byte = I{} + 255;
  const F zeroF = F{} + 0.0f, unit = F{} + 1.0f, half = F{} + 0.5f;
  const F saturation = F{} + k.saturation, value = F{} + k.value, hueFraction = F{} + k.hueFraction;
  const F low = F{} + kMargin, high = F{} + (1 - kMargin), cap = F{} + 65280.0f, scale = F{} + (1.0f / 256);
  const I hueSectors = I{} + k.hueSectors, valueTies = I{} + k.valueTies;
  for (size_t i = 0; i < lanes; i += width) {
    I word;
    std::memcpy(&word, words + i, sizeof word);
    const F b = __builtin_convertvector(word & byte, F);
    const F g = __builtin_convertvector((word >> 8) & byte, F);
    const F r = __builtin_convertvector((word >> 16) & byte, F);
    F hi = r > g ? r : g;
    hi = hi > b ? hi : b;
    F lo = r < g ? r : g;
    lo = lo < b ? lo : b;
    const F spread = hi - lo;
    const I redMax = r == hi;
    const I greenMax = ~redMax & (g == hi);
    const F diff = redMax ? g - b : (greenMax ? b - r : r - g);
    const I base = ~redMax & (greenMax ? two : four);
    // The hue in sectors: w in [-1, 2) and whole sectors, kept apart for precision.
    const F w = diff / (spread > zeroF ? spread : unit) + hueFraction;
    const I whole = (w < zeroF) - (w >= unit);  // floor(w)
    const F fraction = w - __builtin_convertvector(whole, F);
    I sector = base + hueSectors + whole;  // -1 .. 10
    sector = sector < zero ? sector + six : sector;
    sector = sector >= six ? sector - six : sector;
    const F f = (sector & one) != zero ? unit - fraction : fraction;
    F sat = spread * saturation / (hi > zeroF ? hi : unit);
    sat = sat < unit ? sat : unit;
    F e = hi * value;
    e = (e < cap ? e : cap) * scale;
    const F se = sat * e;
    const F vrExact = e + half;  // exact: e has eight fraction bits
    const I vr = __builtin_convertvector(vrExact, I);
    const F crExact = se + half;
    const I cr = __builtin_convertvector(crExact, I);
    const F crFraction = crExact - __builtin_convertvector(cr, F);
    const F termExact = f * se + half;
    const I term = __builtin_convertvector(termExact, I);
    const F termFraction = termExact - __builtin_convertvector(term, F);
    const I doubt = (crFraction < low) | (crFraction > high) | (termFraction < low) | (termFraction > high);
    const I tie = valueTies & (vrExact == __builtin_convertvector(vr, F));
    I m = vr - cr;
    m = m < zero ? zero : m;
    I mt = m + term;
    mt = mt > byte ? byte : mt;
    const I s0 = sector == zero, s1 = sector == one, s2 = sector == two, s3 = sector == three, s4 = sector == four,
            s5 = sector == five;
    const I red = (s0 | s5) ? vr : ((s1 | s4) ? mt : m);
    const I green = (s1 | s2) ? vr : ((s0 | s3) ? mt : m);
    const I blue = (s3 | s4) ? vr : ((s2 | s5) ? mt : m);
    const I out = doubt ? word : (blue | (green << 8) | (red << 16));
    const I flag = doubt | (tie & __builtin_convertvector(hi, I));
    std::memcpy(words + i, &out, sizeof out);
    std::memcpy(unsure + i, &flag, sizeof flag);
  }
}

using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using F8 = float __attribute__((vector_size(32)));
using I8 = int32_t __attribute__((vector_size(32)));

void adjustWordsBy4(uint32_t* words, int32_t* unsure, size_t lanes, const HsvConstants& k) {
  adjustWords<F4, I4>(words, unsure, lanes, k);
}

[[gnu::target("avx2")]] void adjustWordsBy8(uint32_t* words, int32_t* unsure, size_t lanes, const HsvConstants& k) {
  adjustWords<F8, I8>(words, unsure, lanes, k);
}

}  // namespace
#endif

HsvRows::HsvRows(const HsvAdjustment& hsv, bool wide) : hsv_(hsv) {
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
  // The output's maximum, round(min(max x value, 255)), may round a half either
  // way: when it does not always round it up, those pixels go to adjustPixel.
  for (int m = 0; m < 256; ++m) {
    uint8_t grey[3] = {uint8_t(m), uint8_t(m), uint8_t(m)};
    adjustPixel(grey, hsv);
    const int e = std::min(m * value_, 65280);
    valueRoundedDown_[m] = grey[0] != (e + 128) >> 8;
    if (valueRoundedDown_[m]) valueTiesExact_ = false;
  }
#if VEL_SSE2
  vectored_ = true;
  wide_ = wide && hasAvx2();
#else
  (void)wide;
#endif
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
// two roundings need the margin. E is exact in single precision: Vr is exact but
// where E is a half, which adjustPixel may round down; all three channels then
// are one less.
void HsvRows::adjust(uint8_t* bgr, size_t pixels) const {
#if VEL_SSE2
  if (!vectored_) {
    adjustByPixel(bgr, pixels);
    return;
  }
  alignas(16) uint32_t words[kChunk];
  alignas(16) int32_t unsure[kChunk];
  const HsvConstants k{static_cast<float>(saturation_) / 256, static_cast<float>(value_), hueFraction_,
                       hueSectors_, valueTiesExact_ ? 0 : -1};
  const size_t width = wide_ ? 8 : 4;
  for (size_t at = 0; at < pixels; at += kChunk) {
    const size_t count = std::min(kChunk, pixels - at);
    uint8_t* p = bgr + 3 * at;
    size_t i = 0;
    for (; i + 6 <= count; i += 4) unpackPixels(p + 3 * i, words + i);  // sixteen bytes readable
    for (; i < count; ++i) words[i] = p[3 * i] | uint32_t{p[3 * i + 1]} << 8 | uint32_t{p[3 * i + 2]} << 16;
    const size_t lanes = (count + width - 1) / width * width;
    for (; i < lanes; ++i) words[i] = 0;
    if (wide_)
      adjustWordsBy8(words, unsure, lanes, k);
    else
      adjustWordsBy4(words, unsure, lanes, k);
    for (i = 0; i + 4 <= count; i += 4) packPixels(words + i, p + 3 * i);
    for (; i < count; ++i) {
      p[3 * i] = uint8_t(words[i]);
      p[3 * i + 1] = uint8_t(words[i] >> 8);
      p[3 * i + 2] = uint8_t(words[i] >> 16);
    }
    size_t doubts = 0;
    for (size_t i = 0; i < count; ++i) {
      if (unsure[i] == 0) continue;
      uint8_t* q = p + 3 * i;
      if (unsure[i] < 0) {
        adjustPixel(q, hsv_);
        ++doubts;
      } else if (valueRoundedDown_[unsure[i]]) {
        // Vr one less: so are M and M + the sector term.
        --q[0], --q[1], --q[2];
      }
    }
    // Adjustments whose exact results often fall on a half (value 1/2, say) leave
    // most pixels in doubt: the rest of the run goes pixel by pixel.
    if (doubts * 2 > count && at + count < pixels) {
      adjustByPixel(p + 3 * count, pixels - at - count);
      return;
    }
  }
#else
  adjustByPixel(bgr, pixels);
#endif
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

namespace {

using U8x8 = uint8_t __attribute__((vector_size(8)));
using U16x8 = uint16_t __attribute__((vector_size(16)));
using U32x8 = uint32_t __attribute__((vector_size(32)));

constexpr uint32_t kWholeRowsFrom = 12;  // the narrowest image built in whole rows

// Eight samples widened (through a reference: no vector return on targets without SSE).
void load8(const uint8_t* p, U16x8& out) {
  U8x8 v;
  std::memcpy(&v, p, sizeof v);
  out = __builtin_convertvector(v, U16x8);
}

// Pixels first .. last (first >= 2, last + 3 <= width, at least eight) of the
// row above the received row down, whole, from the samples of the rows up
// (two above down), mid and down: the values the interpolation rules give them.
// greenAt: the parity of the green columns in row mid; midRed: row mid's other
// samples are red.
void interpolateRow(uint8_t* pixels, const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint32_t first,
                    uint32_t last, uint32_t greenAt, bool midRed) {
  alignas(16) uint32_t words[8];
  for (uint32_t x = first;; x += 8) {
    if (x + 7 > last) x = last - 7;  // the last eight, overlapping
    U16x8 u, ul, ur, m, ml, mr, d, dl, dr;
    load8(up + x, u), load8(up + x - 1, ul), load8(up + x + 1, ur);
    load8(mid + x, m), load8(mid + x - 1, ml), load8(mid + x + 1, mr);
    load8(down + x, d), load8(down + x - 1, dl), load8(down + x + 1, dr);
    // Green pixels of row mid: green the sample, its row's colour across, the other colour down.
    // The others: their own colour the sample, green of the four beside, the other colour diagonal.
    const U16x8 across = (ml + mr) >> 1, vertical = (u + d) >> 1;
    const U16x8 greenOfFour = (u + ml + mr + d) >> 2, diagonal = (ul + ur + dl + dr) >> 2;
    const U16x8 green = ((x & 1) == greenAt) ? U16x8{0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0}
                                               : U16x8{0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF};
    const U16x8 g = green ? m : greenOfFour;
    const U16x8 own = green ? across : m;       // row mid's colour
    const U16x8 other = green ? vertical : diagonal;
    const U32x8 red = __builtin_convertvector(midRed ? own : other, U32x8);
    const U32x8 blue = __builtin_convertvector(midRed ? other : own, U32x8);
    const U32x8 word = blue | __builtin_convertvector(g, U32x8) << 8 | red << 16;
    std::memcpy(words, &word, sizeof word);
    uint8_t* p = pixels + 3 * size_t{x};
#if VEL_SSE2
    packPixels(words, p);
    packPixels(words + 4, p + 12);
#else
    for (int i = 0; i < 8; ++i) std::memcpy(p + 3 * i, &words[i], 3);
#endif
    if (x + 7 == last) return;
  }
}

#if VEL_SSE2
// Byte k of the three sixteen-byte pieces of sixteen pixels: channel k % 3 of pixel k / 3.
struct Interleave {
  uint8_t mask[3][3][16];  // piece, channel, byte: the lane or 0x80 for none
  constexpr Interleave() : mask() {
    for (int piece = 0; piece < 3; ++piece)
      for (int channel = 0; channel < 3; ++channel)
        for (int k = 0; k < 16; ++k) {
          const int at = 16 * piece + k;
          mask[piece][channel][k] = static_cast<uint8_t>(at % 3 == channel ? at / 3 : 0x80);
        }
  }
};
constexpr Interleave kInterleave;

// interpolateRow thirty-two pixels at a time, where the processor has AVX2: in
// bytes, a truncated average of two as the rounded-up one less the dropped bit.
[[gnu::target("avx2")]] void interpolateRowBy32(uint8_t* pixels, const uint8_t* up, const uint8_t* mid,
                                                const uint8_t* down, uint32_t first, uint32_t last, uint32_t greenAt,
                                                bool midRed) {
  __m256i masks[3][3];
  for (int piece = 0; piece < 3; ++piece)
    for (int channel = 0; channel < 3; ++channel)
      masks[piece][channel] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kInterleave.mask[piece][channel])));
  const __m256i bit = _mm256_set1_epi8(1);
  const __m256i greenEven = _mm256_set1_epi16(0x00FF), greenOdd = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
#define VEL_LOAD(p) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
  for (uint32_t x = first;; x += 32) {
    if (x + 31 > last) x = last - 31;  // the last thirty-two, overlapping
    const __m256i ul = VEL_LOAD(up + x - 1), u = VEL_LOAD(up + x), ur = VEL_LOAD(up + x + 1);
    const __m256i ml = VEL_LOAD(mid + x - 1), m = VEL_LOAD(mid + x), mr = VEL_LOAD(mid + x + 1);
    const __m256i dl = VEL_LOAD(down + x - 1), d = VEL_LOAD(down + x), dr = VEL_LOAD(down + x + 1);
    // (a + b) >> 1 with its dropped bit; (a + b + c + d) >> 2 from two of them.
    const __m256i verticalBit = _mm256_and_si256(_mm256_xor_si256(u, d), bit);
    const __m256i vertical = _mm256_sub_epi8(_mm256_avg_epu8(u, d), verticalBit);
    const __m256i acrossBit = _mm256_and_si256(_mm256_xor_si256(ml, mr), bit);
    const __m256i across = _mm256_sub_epi8(_mm256_avg_epu8(ml, mr), acrossBit);
    const __m256i greenOfFour = _mm256_sub_epi8(
        _mm256_avg_epu8(vertical, across),
        _mm256_andnot_si256(_mm256_and_si256(verticalBit, acrossBit),
                            _mm256_and_si256(_mm256_xor_si256(vertical, across), bit)));
    const __m256i upBit = _mm256_and_si256(_mm256_xor_si256(ul, ur), bit);
    const __m256i upPair = _mm256_sub_epi8(_mm256_avg_epu8(ul, ur), upBit);
    const __m256i downBit = _mm256_and_si256(_mm256_xor_si256(dl, dr), bit);
    const __m256i downPair = _mm256_sub_epi8(_mm256_avg_epu8(dl, dr), downBit);
    const __m256i diagonal =
        _mm256_sub_epi8(_mm256_avg_epu8(upPair, downPair),
                        _mm256_andnot_si256(_mm256_and_si256(upBit, downBit),
                                            _mm256_and_si256(_mm256_xor_si256(upPair, downPair), bit)));
    const __m256i green = ((x & 1) == greenAt) ? greenEven : greenOdd;
    const __m256i g = _mm256_blendv_epi8(greenOfFour, m, green);
    const __m256i own = _mm256_blendv_epi8(m, across, green);  // row mid's colour
    const __m256i other = _mm256_blendv_epi8(diagonal, vertical, green);
    const __m256i r = midRed ? own : other, b = midRed ? other : own;
    // Pixels 0..15 in the low halves, 16..31 in the high ones.
    uint8_t* p = pixels + 3 * size_t{x};
    for (int piece = 0; piece < 3; ++piece) {
      const __m256i out = _mm256_or_si256(
          _mm256_or_si256(_mm256_shuffle_epi8(b, masks[piece][0]), _mm256_shuffle_epi8(g, masks[piece][1])),
          _mm256_shuffle_epi8(r, masks[piece][2]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * piece), _mm256_castsi256_si128(out));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48 + 16 * piece), _mm256_extracti128_si256(out, 1));
    }
    if (x + 31 == last) return;
  }
#undef VEL_LOAD
}
#endif

}  // namespace

void ColourRows::begin(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride, int firstPhase,
                       const HsvAdjustment& hsv) {
  pixels_ = pixels;
  width_ = width;
  height_ = width == 0 ? 0 : height;  // no pixels: every sample is beyond the image
  stride_ = stride;
  rowPhase_ = firstPhase;
  x_ = y_ = adjusted_ = 0;
  adjusting_ = hsv.on;
  if (adjusting_) hsv_ = HsvRows(hsv);
  wholeRows_ = width >= kWholeRowsFrom && height >= 5;
  if (wholeRows_ && raw_.size() < size_t{width} * 3) raw_.resize(size_t{width} * 3);
  // Rows of an image this short miss channels the rules never fill: start them black.
  if (height < 3) std::memset(pixels, 0, size_t{height} * stride);
}

void ColourRows::put(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length && y_ < height_;) {
    if (wholeRow()) {
      // Kept until the row is complete, then built with the row above.
      const size_t n = std::min<size_t>(length - i, width_ - x_);
      std::memcpy(rawRow(y_) + x_, data + i, n);
      i += n;
      x_ += static_cast<uint32_t>(n);
      if (x_ == width_) buildRow();
    } else if (x_ >= 2 && x_ + 2 < width_ && interiorRow()) {
      // The samples whose neighbours all exist, in one run.
      const size_t n = std::min<size_t>(length - i, width_ - 2 - x_);
      interiorSamples(data + i, n);
      if (wholeRows_) std::memcpy(rawRow(y_) + x_, data + i, n);
      i += n;
      x_ += static_cast<uint32_t>(n);
    } else {
      if (wholeRows_) rawRow(y_)[x_] = data[i];
      sample(x_, data[i++]);
      ++x_;
    }
    if (x_ < width_) continue;
    x_ = 0;
    rowPhase_ ^= 2;
    if (++y_ >= 2) adjustRows(y_ - 2);
  }
}

// Rows 2 .. height - 3 of an image at least kWholeRowsFrom wide.
bool ColourRows::wholeRow() const { return wholeRows_ && interiorRow(); }

// The rules applied to the complete row y_ at once: the row above is then final
// and is written whole in its columns 2 .. width - 3; its other columns, and
// the samples 0, 1, 2, width - 2 and width - 1 of row y_ take the rules one by
// one (reading the samples as the bitmap holds them, written below).
void ColourRows::buildRow() {
  const uint32_t w = width_, y = y_;
  const uint8_t* down = rawRow(y);
  // Phases 0 and 3 are green; the other phase of a row is its colour: 1 red, 2 blue.
  const int midPhase = rowPhase_ ^ 2;
  const bool midGreenFirst = midPhase == 0 || midPhase == 3;
  const bool midRed = (midGreenFirst ? midPhase ^ 1 : midPhase) == 1;
#if VEL_SSE2
  if (hasAvx2() && w >= 2 + 32 + 3)
    interpolateRowBy32(at(0, y - 1), rawRow(y - 2), rawRow(y - 1), down, 2, w - 3, midGreenFirst ? 0 : 1, midRed);
  else
#endif
    interpolateRow(at(0, y - 1), rawRow(y - 2), rawRow(y - 1), down, 2, w - 3, midGreenFirst ? 0 : 1, midRed);
  // Row y_ keeps its samples in their channels for the rules below and the
  // next row's; before a row built one sample at a time, all of them, and its
  // colour across its green pixels.
  const bool last = y + 3 == height_;
  const int colour = midRed ? kBlue : kRed;
  for (uint32_t x = last ? 2 : w - 4; x + 2 < w; ++x) {
    const int phase = rowPhase_ ^ static_cast<int>(x & 1);
    uint8_t* p = at(x, y);
    if (phase == 0 || phase == 3) {
      p[kGreen] = down[x];
      if (last) p[colour] = static_cast<uint8_t>((down[x - 1] + down[x + 1]) >> 1);
    } else {
      p[colour] = down[x];
    }
  }
  for (uint32_t x : {0u, 1u, 2u, w - 2, w - 1}) sample(x, down[x]);
}

void ColourRows::sample(uint32_t x, uint8_t v) {
  const int phase = rowPhase_ ^ static_cast<int>(x & 1);
  if (phase == 0 || phase == 3)
    green(x, y_, v);
  else
    redOrBlue(x, y_, phase == 1 ? kRed : kBlue, v);
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
