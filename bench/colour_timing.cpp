// Times the colour conversion of one 1280 x 1024 frame without the benchmark
// library, so that the same program runs natively and under Wine (both Windows
// architectures): the frame build from the Bayer mosaic with and without the HSV
// adjustment, and the HSV adjustment alone over the built frame, eight pixels at
// a time where the processor can and four at a time. Each figure is the thread's
// CPU time per frame in milliseconds (the machine may be shared), over frames
// repeated until a second of CPU time has passed, and the median wall time of them.
//   colour_timing [seconds]   (default 1)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "TexturedPixels.h"
#include "image/BitmapFormat.h"
#include "image/ColourRows.h"

namespace {

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Timing {
  double cpu;   // ms per frame
  double wall;  // median ms
};

// Wine counts thread CPU time in ticks of 10 ms: it is taken over all the frames.
template <typename Frame>
Timing timeFrames(double seconds, Frame frame) {
  frame();  // warm: buffers touched, the processor's choice made
  std::vector<double> wall;
  const double cpuStart = threadCpuSeconds();
  double cpu = 0;
  while (wall.size() < 5 || cpu < seconds) {
    const Clock::time_point start = Clock::now();
    frame();
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    cpu = threadCpuSeconds() - cpuStart;
  }
  std::sort(wall.begin(), wall.end());
  return {cpu * 1e3 / double(wall.size()), wall[wall.size() / 2]};
}

// A checksum of the pixels, printed so that the work cannot be dropped and two
// builds can be compared.
uint32_t checksum(const std::vector<uint8_t>& pixels) {
  uint32_t sum = 2166136261u;
  for (uint8_t v : pixels) sum = (sum ^ v) * 16777619u;
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 1.0;
  const std::vector<uint8_t> mosaic = texturedPixels(int(kWidth), int(kHeight));
  const uint32_t stride = vel::bitmapStride(vel::PixelKind::Colour, kWidth);
  std::vector<uint8_t> pixels(size_t{stride} * kHeight);
  const vel::HsvAdjustment off = vel::hsvAdjustment(false, 0, 256, 256);
  const vel::HsvAdjustment hsv = vel::hsvAdjustment(true, 10 * 64, 300, 280);

  auto build = [&](const vel::HsvAdjustment& adjustment) {
    vel::ColourRows rows;
    rows.begin(pixels.data(), kWidth, kHeight, stride, 2, adjustment);
    rows.put(mosaic.data(), mosaic.size());
    rows.finish();
  };
  const Timing plain = timeFrames(seconds, [&] { build(off); });
  const std::vector<uint8_t> built = pixels;
  const Timing adjusted = timeFrames(seconds, [&] { build(hsv); });
  const uint32_t adjustedSum = checksum(pixels);

  // The HSV adjustment alone, row by row over the built frame as ColourRows runs it
  // (the copy that restores the frame first is timed apart and taken off).
  auto adjustOnly = [&](bool wide) {
    const vel::HsvRows rows(hsv, wide);
    return timeFrames(seconds, [&] {
      std::memcpy(pixels.data(), built.data(), pixels.size());
      for (uint32_t y = 0; y < kHeight; ++y) rows.adjust(pixels.data() + size_t{y} * stride, kWidth);
    });
  };
  const Timing copy = timeFrames(seconds, [&] { std::memcpy(pixels.data(), built.data(), pixels.size()); });
  const Timing wide = adjustOnly(true);
  const Timing narrow = adjustOnly(false);

  std::printf("colour frame %ux%u, ms per frame: thread CPU / median wall (HSV checksum %08x)\n", kWidth, kHeight,
              adjustedSum);
  auto line = [](const char* what, Timing t, Timing less = {0, 0}) {
    std::printf("  %-22s %8.2f %8.2f\n", what, t.cpu - less.cpu, t.wall - less.wall);
  };
  line("build, no HSV", plain);
  line("build with HSV", adjusted);
  line("HSV alone, wide", wide, copy);
  line("HSV alone, four wide", narrow, copy);
  return 0;
}
