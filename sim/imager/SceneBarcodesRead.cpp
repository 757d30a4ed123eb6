// Scenes' barcodes with zxing-cpp: encoded by its writers, read back by its reader.
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>

#include "imager/SceneBarcodes.h"

namespace sim {

namespace {

constexpr int kQuietModules = 10;
constexpr int kMatrixQuietModules = 4;

const SceneSymbology* byReaderFormat(ZXing::BarcodeFormat format) {
  for (const SceneSymbology& s : sceneSymbologies())
    if (s.readerFormat == static_cast<int>(format)) return &s;
  return nullptr;
}

int16_t coordinate(int v) { return static_cast<int16_t>(v); }

}  // namespace

bool barcodesAreRead() { return true; }

ModulePattern encodeBarcode(const SceneSymbology& symbology, const std::string& text, bool bytes) {
  ModulePattern pattern;
  try {
    const auto format = static_cast<ZXing::BarcodeFormat>(symbology.readerFormat);
    const int margin = symbology.linear ? kQuietModules : kMatrixQuietModules;
    ZXing::MultiFormatWriter writer(format);
    writer.setMargin(margin);
    // Bytes go in as the characters U+0000..U+00FF of ISO 8859-1, which the writers
    // put in byte mode one byte each; text is UTF-8.
    std::wstring latin1;
    if (bytes) {
      for (const char c : text) latin1 += static_cast<wchar_t>(static_cast<unsigned char>(c));
      writer.setEncoding(ZXing::CharacterSet::ISO8859_1);
    }
    const ZXing::BitMatrix matrix = bytes ? writer.encode(latin1, 0, 0) : writer.encode(text, 0, 0);
    pattern.columns = matrix.width();
    pattern.rows = symbology.linear ? 1 : matrix.height();
    for (int y = 0; y < pattern.rows; ++y)
      for (int x = 0; x < pattern.columns; ++x) pattern.ink.push_back(matrix.get(x, y) ? 1 : 0);
  } catch (const std::exception&) {
    return ModulePattern{};
  }
  return pattern;
}

SceneBarcode record(const ZXing::Result& r, const SceneSymbology& s) {
  SceneBarcode b;
  b.type = s.typeId;
  const auto& p = r.position();
  b.corners = {coordinate(p.topLeft().x),     coordinate(p.topLeft().y),    coordinate(p.topRight().x),
               coordinate(p.topRight().y),    coordinate(p.bottomLeft().x), coordinate(p.bottomLeft().y),
               coordinate(p.bottomRight().x), coordinate(p.bottomRight().y)};
  b.data.assign(r.bytes().begin(), r.bytes().end());
  return b;
}

// The reader of this zxing-cpp release asserts when it compares the results of
// several linear symbols: each enabled linear symbology is read on its own, one
// symbol each; the matrix symbologies are read together. Each pass runs with
// the local and the fixed-threshold binarizer (the textured background defeats
// either one for some symbols); a symbol read twice counts once.
std::vector<SceneBarcode> readBarcodes(const uint8_t* grey, int width, int height, uint64_t enabledBits,
                                       const std::vector<std::pair<int, SceneBarcode>>&) {
  std::vector<SceneBarcode> out;
  if (width <= 0 || height <= 0) return out;
  const ZXing::ImageView image(grey, width, height, ZXing::ImageFormat::Lum);
  ZXing::BarcodeFormats matrix;
  std::vector<std::pair<ZXing::BarcodeFormats, int>> passes;  // formats, most symbols (0: all)
  for (const SceneSymbology& s : sceneSymbologies()) {
    if (!((enabledBits >> s.enableBit) & 1)) continue;
    const auto format = static_cast<ZXing::BarcodeFormat>(s.readerFormat);
    if (s.linear)
      passes.emplace_back(format, 1);
    else
      matrix |= format;
  }
  if (!matrix.empty()) passes.emplace_back(matrix, 0);
  for (const auto& [formats, most] : passes)
    for (ZXing::Binarizer binarizer : {ZXing::Binarizer::LocalAverage, ZXing::Binarizer::FixedThreshold}) {
      ZXing::DecodeHints hints;
      hints.setFormats(formats).setTryHarder(true).setTryRotate(true).setBinarizer(binarizer);
      if (most) hints.setMaxNumberOfSymbols(static_cast<uint8_t>(most));
      for (const ZXing::Result& r : ZXing::ReadBarcodes(image, hints)) {
        const SceneSymbology* s = byReaderFormat(r.format());
        if (!r.isValid() || !s) continue;
        SceneBarcode b = record(r, *s);
        const bool seen = std::any_of(out.begin(), out.end(),
                                      [&](const SceneBarcode& o) { return o.type == b.type && o.data == b.data; });
        if (!seen) out.push_back(std::move(b));
      }
    }
  return out;
}

}  // namespace sim
