#include "image/TimestampDrawing.h"

#include <algorithm>
#include <cstdint>

namespace vel {

namespace {

constexpr int kGlyphRows = 5;
constexpr int kWideCells = 5;
constexpr int kNarrowCells = 3;

// Each glyph's rows, bottom row first: '#' ink, '.' background; a narrower glyph
// has fewer cells.
constexpr const char* kFont[13][kGlyphRows] = {
    {".###.", ".#.#.", ".#.#.", ".#.#.", ".###."},  // 0
    {".#.", ".#.", ".#.", ".#.", ".#."},            // 1
    {".###.", ".#...", ".###.", "...#.", ".###."},  // 2
    {".###.", "...#.", ".###.", "...#.", ".###."},  // 3
    {"...#.", "...#.", ".###.", ".#.#.", ".#.#."},  // 4
    {".###.", "...#.", ".###.", ".#...", ".###."},  // 5
    {".###.", ".#.#.", ".###.", ".#...", ".###."},  // 6
    {"...#.", "...#.", "...#.", "...#.", ".###."},  // 7
    {".###.", ".#.#.", ".###.", ".#.#.", ".###."},  // 8
    {".###.", "...#.", ".###.", ".#.#.", ".###."},  // 9
    {"...", "...", "###", "...", "..."},            // minus
    {"...", "...", "...", "...", "..."},            // blank
    {"...", ".#.", "...", ".#.", "..."},            // colon
};

int cellsOf(uint8_t glyph) { return glyph == 1 || glyph >= kGlyphMinus ? kNarrowCells : kWideCells; }

// The date's BCD bytes in the order of each format, with the separators between them.
enum Date : uint8_t { kCentury = 0, kYear = 1, kMonth = 2, kDay = 3, kSeparator = 0xFF };
constexpr uint8_t kDateFormats[4][6] = {
    {kMonth, kSeparator, kDay, kSeparator, kCentury, kYear},  // MM-DD-YYYY
    {kDay, kSeparator, kMonth, kSeparator, kCentury, kYear},  // DD-MM-YYYY
    {kMonth, kSeparator, kDay, kSeparator, kYear, kSeparator},  // MM-DD-YY (last entry unused)
    {kCentury, kYear, kSeparator, kMonth, kSeparator, kDay},  // YYYY-MM-DD
};
constexpr int kDateFormatLength[4] = {6, 6, 5, 6};

bool addDigits(std::vector<uint8_t>& glyphs, uint8_t bcd) {
  const uint8_t high = bcd >> 4, low = bcd & 0x0F;
  if (high > 9 || low > 9) return false;
  glyphs.push_back(high);
  glyphs.push_back(low);
  return true;
}

}  // namespace

std::vector<uint8_t> timestampGlyphs(const TimestampRecord& r) {
  std::vector<uint8_t> glyphs;
  if (r.dateFormat > 3) return {};
  for (int i = 0; i < kDateFormatLength[r.dateFormat]; ++i) {
    const uint8_t part = kDateFormats[r.dateFormat][i];
    if (part == kSeparator) {
      glyphs.push_back(kGlyphMinus);
    } else if (!addDigits(glyphs, r.timeDigits[part])) {
      return {};
    }
  }
  if (!r.dateOnly) {
    constexpr uint8_t kTime[3][2] = {{kGlyphBlank, 4}, {kGlyphColon, 5}, {kGlyphColon, 6}};
    for (const auto& [lead, digits] : kTime) {
      glyphs.push_back(lead);
      if (!addDigits(glyphs, r.timeDigits[digits])) return {};
    }
  }
  return glyphs;
}

int timestampScale(int width) { return width < 426 ? 1 : width < 1280 ? 3 : 4; }

void drawTimestamp(uint8_t* pixels, size_t bytes, int width, int height, int bitsPerPixel,
                   const TimestampRecord& r) {
  if (!pixels || width <= 0 || height <= 0 || (bitsPerPixel != 8 && bitsPerPixel != 24)) return;
  const size_t stride = ((static_cast<size_t>(width) * bitsPerPixel + 31) / 8) & ~size_t{3};
  if (stride * static_cast<size_t>(height) > bytes) return;
  const std::vector<uint8_t> glyphs = timestampGlyphs(r);
  if (glyphs.empty()) return;

  const int f = timestampScale(width);
  int cells = 0;
  for (uint8_t g : glyphs) cells += cellsOf(g);
  const int textWidth = cells * f, textHeight = kGlyphRows * f;
  if (textWidth > width || textHeight > height) return;
  // At the top the text ends one row below the top row; an image exactly as high
  // as the text has no room for that.
  const int base = r.verticalPlacement != 0 ? 0 : height - textHeight - 1;
  if (base < 0) return;
  const int x = std::min<int>(r.horizontalPlacement, width - textWidth);

  const uint8_t ink = r.color == 0 ? 0x00 : 0xFF;
  const uint8_t background = r.color == 0 ? 0xFF : 0x00;
  const int pixelBytes = bitsPerPixel / 8;
  std::vector<uint8_t> run(static_cast<size_t>(textWidth) * pixelBytes);
  for (int row = 0; row < kGlyphRows; ++row) {
    size_t at = 0;
    for (uint8_t g : glyphs) {
      for (const char* cell = kFont[g][row]; *cell; ++cell) {
        const uint8_t value = *cell == '#' ? ink : background;
        std::fill_n(run.begin() + static_cast<std::ptrdiff_t>(at), f * pixelBytes, value);
        at += static_cast<size_t>(f) * pixelBytes;
      }
    }
    for (int copy = 0; copy < f; ++copy) {
      const size_t imageRow = static_cast<size_t>(base + row * f + copy);
      std::copy(run.begin(), run.end(), pixels + imageRow * stride + static_cast<size_t>(x) * pixelBytes);
    }
  }
}

}  // namespace vel
