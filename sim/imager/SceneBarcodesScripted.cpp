// Scenes' barcodes without a reader (the Windows builds): a synthetic pattern
// drawn from the text, and the scene's own barcodes as the results.
#include "imager/SceneBarcodes.h"

namespace sim {

namespace {
constexpr int kMatrixModules = 21;
constexpr int kQuietModules = 4;
}  // namespace

bool barcodesAreRead() { return false; }

// Stripes (linear) or a checker (matrix) keyed to the text's bytes, inside a quiet zone;
// text and bytes alike.
ModulePattern encodeBarcode(const SceneSymbology& symbology, const std::string& text, bool) {
  ModulePattern pattern;
  const int inner = symbology.linear ? static_cast<int>(text.size()) * 8 : kMatrixModules;
  pattern.columns = inner + 2 * kQuietModules;
  pattern.rows = symbology.linear ? 1 : pattern.columns;
  pattern.ink.assign(static_cast<size_t>(pattern.columns) * pattern.rows, 0);
  for (int y = 0; y < pattern.rows; ++y)
    for (int x = 0; x < inner; ++x) {
      const int row = symbology.linear ? 0 : y - kQuietModules;
      if (row < 0 || row >= inner) continue;
      const auto byte = static_cast<uint8_t>(text[static_cast<size_t>((x / 8 + row) % static_cast<int>(text.size()))]);
      pattern.ink[static_cast<size_t>(y) * pattern.columns + kQuietModules + x] = (byte >> (7 - x % 8)) & 1;
    }
  return pattern;
}

std::vector<SceneBarcode> readBarcodes(const uint8_t*, int, int, uint64_t enabledBits,
                                       const std::vector<std::pair<int, SceneBarcode>>& scripted) {
  std::vector<SceneBarcode> out;
  for (const auto& [bit, barcode] : scripted)
    if ((enabledBits >> bit) & 1) out.push_back(barcode);
  return out;
}

}  // namespace sim
