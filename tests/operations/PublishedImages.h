// The images the library has published, read through the exports, top row first.
#pragma once

#include <cstdint>
#include <vector>

#include "ImgEngine.h"

namespace published {

using Bytes = std::vector<uint8_t>;

// Grey pixels of the shared grey bitmap (empty when none).
inline Bytes greyPixels() {
  const int w = VelGetGreyImageWidth(), h = VelGetGreyImageHeight();
  if (w <= 0 || h <= 0 || !VelGetGreyImageData()) return {};
  const int stride = (w + 3) & ~3;
  Bytes out;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = VelGetGreyImageData() + (h - 1 - y) * stride;
    out.insert(out.end(), row, row + w);
  }
  return out;
}

// Binary pixels (0 or 1) of the shared binary bitmap (empty when none).
inline Bytes binaryPixels() {
  const int w = VelGetBinaryImageWidth(), h = VelGetBinaryImageHeight();
  if (w <= 0 || h <= 0 || !VelGetBinaryImageData()) return {};
  const int stride = ((w + 31) / 32) * 4;
  Bytes out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out.push_back((VelGetBinaryImageData()[(h - 1 - y) * stride + x / 8] >> (7 - x % 8)) & 1);
  return out;
}

}  // namespace published
