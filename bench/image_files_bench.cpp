// Image files of a 1280 x 1024 capture in the shared grey buffer: the grey JPEG
// save through the export beside libjpeg-turbo compressing the same pixels from
// memory to memory with the same settings (quality 75, 4:2:0 YCbCr, the default
// integer DCT: the check below finds the same bytes), the same compression of ours
// from memory to memory, and libjpeg-turbo's stream written to a file as the save
// writes its own; the BMP save through the export; and the stamping of a
// compressed capture (decode, draw, re-encode). Files go to VEL_BENCH_DIR (default
// /tmp). The argument of the saves: 1 each save writes a new file (the last one
// removed untimed), 0 each replaces the last one; neither syncs the file to disk.
#include <benchmark/benchmark.h>

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "image/BmpFile.h"
#include "image/JpegCodec.h"
#include "image/JpegExif.h"

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 1024;
constexpr size_t kGreyCapacity = 3932214;

// A capture-like picture: gradients and a pattern of bars.
std::vector<uint8_t> greyBuffer() {
  std::vector<uint8_t> buffer(kGreyCapacity);
  const std::vector<uint8_t> bmp = vel::makeGreyBmp(kWidth, kHeight, 0, 0);
  std::copy(bmp.begin(), bmp.end(), buffer.begin());
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      buffer[vel::kBmpGreyPixelOffset + size_t{y} * kWidth + x] =
          static_cast<uint8_t>((x / 7) % 2 ? 40 + y / 8 : 200 - x / 16);
  return buffer;
}

std::string scratch(const char* name) {
  const char* folder = std::getenv("VEL_BENCH_DIR");
  return std::string(folder && *folder ? folder : "/tmp") + "/vel-bench-" + std::to_string(getpid()) + "-" + name;
}

// libjpeg-turbo alone, as a program would call it for these pixels: the grey rows
// expanded to RGB scanlines, library defaults, quality 75, into memory.
// The stream is libjpeg's buffer: the caller frees it.
struct LibjpegStream {
  unsigned char* data = nullptr;
  unsigned long size = 0;
};
LibjpegStream libjpegCompress(const std::vector<uint8_t>& buffer, std::vector<uint8_t>& rgb) {
  LibjpegStream out;
  {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out.data, &out.size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, FALSE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < kHeight) {
      const uint8_t* row = &buffer[vel::kBmpGreyPixelOffset + size_t{kHeight - 1 - cinfo.next_scanline} * kWidth];
      for (uint32_t x = 0; x < kWidth; ++x) rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = row[x];
      JSAMPROW rows[1] = {rgb.data()};
      jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
  }
  return out;
}

// 1 when libjpeg-turbo's stream and the save's compression are the same bytes:
// the same settings on both sides.
double sameBytes(const std::vector<uint8_t>& buffer) {
  std::vector<uint8_t> rgb(size_t{kWidth} * 3), ours;
  const LibjpegStream stream = libjpegCompress(buffer, rgb);
  const std::vector<uint8_t> theirs(stream.data, stream.data + stream.size);
  free(stream.data);
  return vel::compressBmp(buffer.data(), vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight, 75,
                          vel::JpegHeader::kNormal, ours) &&
                 ours == theirs
             ? 1
             : 0;
}

void BM_LibjpegMemoryToMemory(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  std::vector<uint8_t> rgb(size_t{kWidth} * 3);
  size_t bytes = 0;
  for (auto _ : state) {
    const LibjpegStream stream = libjpegCompress(buffer, rgb);
    bytes = stream.size;
    free(stream.data);
  }
  state.counters["jpeg_bytes"] = double(bytes);
  state.counters["same_bytes_as_ours"] = sameBytes(buffer);
}
BENCHMARK(BM_LibjpegMemoryToMemory)->Unit(benchmark::kMillisecond);

// The reference of the saves: libjpeg-turbo's stream written to a file as the
// save writes one (created, written at once, closed; the argument as theirs).
void BM_LibjpegMemoryToFile(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  std::vector<uint8_t> rgb(size_t{kWidth} * 3);
  const std::string path = scratch("libjpeg.jpg");
  for (auto _ : state) {
    if (state.range(0)) {
      state.PauseTiming();
      std::remove(path.c_str());
      state.ResumeTiming();
    }
    const LibjpegStream stream = libjpegCompress(buffer, rgb);
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0 || ::write(file, stream.data, stream.size) != static_cast<ssize_t>(stream.size))
      state.SkipWithError("write failed");
    if (file >= 0) ::close(file);
    free(stream.data);
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_LibjpegMemoryToFile)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Ours from memory to memory: the save's compression without the file.
void BM_GreyJpegCompress(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  std::vector<uint8_t> jpeg;
  for (auto _ : state)
    if (!vel::compressBmp(buffer.data(), vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight, 75,
                          vel::JpegHeader::kNormal, jpeg))
      state.SkipWithError("compression failed");
  state.counters["jpeg_bytes"] = double(jpeg.size());
}
BENCHMARK(BM_GreyJpegCompress)->Unit(benchmark::kMillisecond);

// Argument 1: each save writes a new file; 0: each replaces the last one (the file
// system may then write the data out at once).
void BM_GreyJpegSave(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  vel::library().images.publishGrey(buffer.data(), vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight,
                                    kWidth * kHeight, false);
  const std::string path = scratch("grey.jpg");
  for (auto _ : state) {
    if (state.range(0)) {
      state.PauseTiming();
      std::remove(path.c_str());
      state.ResumeTiming();
    }
    if (VelSaveGreyImageAsJpegFile(path.c_str(), 1) != 1) state.SkipWithError("save failed");
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_GreyJpegSave)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_BmpSave(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  vel::library().images.publishGrey(buffer.data(), vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight,
                                    kWidth * kHeight, false);
  const std::string path = scratch("grey.bmp");
  for (auto _ : state) {
    if (state.range(0)) {
      state.PauseTiming();
      std::remove(path.c_str());
      state.ResumeTiming();
    }
    if (VelSaveGreyImageAsBmpFile(path.c_str(), 1) != 1) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight));
  state.counters["file_bytes"] = double(vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight);
  std::remove(path.c_str());
}
BENCHMARK(BM_BmpSave)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StampCompressedCapture(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  std::vector<uint8_t> jpeg, stamped;
  vel::compressBmp(buffer.data(), vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight, 75, vel::JpegHeader::kNormal,
                   jpeg);
  vel::DeviceConfiguration options{};
  options.timestampEnabled = 1;
  options.imageCompressedQuality = 75;
  const vel::TimestampRecord record =
      vel::makeTimestampRecord(options, {false, false, ".\\"}, 1, {2026, 12, 8, 4, 5, 6});
  for (auto _ : state)
    if (!vel::stampJpegStream(jpeg.data(), jpeg.size(), record, stamped)) state.SkipWithError("stamp failed");
}
BENCHMARK(BM_StampCompressedCapture)->Unit(benchmark::kMillisecond);

// The reference of the stamp: libjpeg-turbo decoding the same stream to grey rows
// and compressing them again as BM_LibjpegMemoryToMemory does, memory to memory
// (the stamp's drawing, a few hundred pixels, left out).
void BM_LibjpegDecodeEncode(benchmark::State& state) {
  const std::vector<uint8_t> buffer = greyBuffer();
  std::vector<uint8_t> jpeg, decoded(vel::kBmpGreyPixelOffset + size_t{kWidth} * kHeight), rgb(size_t{kWidth} * 3);
  vel::compressBmp(buffer.data(), buffer.size(), 75, vel::JpegHeader::kNormal, jpeg);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row[1] = {&decoded[vel::kBmpGreyPixelOffset + size_t{kHeight - 1 - cinfo.output_scanline} * kWidth]};
      jpeg_read_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    const LibjpegStream stream = libjpegCompress(decoded, rgb);
    free(stream.data);
  }
}
BENCHMARK(BM_LibjpegDecodeEncode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
