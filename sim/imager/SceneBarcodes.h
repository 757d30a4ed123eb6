// The barcodes of scenes: each one's module pattern, and reading the picture
// the imager took. Natively zxing-cpp encodes and reads, so a decoded barcode
// always matches the pixels sent; the Windows builds have no reader and use a
// synthetic pattern and the scene's own text (scripted results).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imager/ImagerScene.h"
#include "imager/SceneFile.h"

namespace sim {

// Modules, row by row: 1 = ink. A linear code has one row.
struct ModulePattern {
  int columns = 0;
  int rows = 0;
  std::vector<uint8_t> ink;
};

// The module pattern of a barcode with its quiet zone; empty when it cannot be encoded.
// text is UTF-8 text, or with bytes the content byte for byte (a scene's `data`).
ModulePattern encodeBarcode(const SceneSymbology& symbology, const std::string& text, bool bytes = false);

// Reads the barcodes of the enabled symbologies (configuration enable bits) in
// a grey picture. Without a reader the scripted records stand in, filtered the same way.
std::vector<SceneBarcode> readBarcodes(const uint8_t* grey, int width, int height, uint64_t enabledBits,
                                       const std::vector<std::pair<int, SceneBarcode>>& scripted);

// Whether results come from reading the picture.
bool barcodesAreRead();

}  // namespace sim
