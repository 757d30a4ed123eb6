// The benchmarks' grey image: a smooth texture under a fine stripe pattern, neither
// flat nor noise, width x height bytes in rows top to bottom.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> texturedPixels(int width, int height) {
  std::vector<uint8_t> p(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p[size_t(y) * size_t(width) + size_t(x)] = static_cast<uint8_t>(
          128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.031) + ((x / 7 + y / 5) % 3) * 20);
  return p;
}
