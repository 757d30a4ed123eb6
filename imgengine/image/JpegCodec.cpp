#include "image/JpegCodec.h"

// libjpeg's header needs the standard types declared first.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "image/BmpFile.h"

namespace vel {

namespace {

constexpr uint32_t kMaxDimension = static_cast<uint32_t>(JPEG_MAX_DIMENSION);

// Errors jump back to the conversion, which destroys its object and answers
// failure; nothing is printed.
struct ErrorExit {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

[[noreturn]] void jumpBack(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorExit*>(cinfo->err)->back, 1); }

// Of the warnings, those of a stream that ends early (no bytes left, or a marker
// where entropy-coded data should go on) end the conversion as well: the rest of
// the picture would be made up. Other warnings, such as stray bytes before a
// marker, leave a picture that decodes whole.
void onMessage(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) jumpBack(cinfo);
}

void printNothing(j_common_ptr) {}

void installErrorExit(ErrorExit& error, j_common_ptr cinfo) {
  cinfo->err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jumpBack;
  error.manager.emit_message = onMessage;
  error.manager.output_message = printNothing;
}

// Destination: a growing vector. A failed growth is libjpeg's out-of-memory error.
struct VectorDestination {
  jpeg_destination_mgr manager;
  std::vector<uint8_t>* out;
  size_t initialBytes;  // a guess at the whole stream, so that it seldom grows
};

bool grow(std::vector<uint8_t>& out, size_t size) {
  try {
    out.resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void startDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!grow(*d->out, d->initialBytes)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  d->manager.next_output_byte = d->out->data();
  d->manager.free_in_buffer = d->out->size();
}

boolean emptyDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const size_t used = d->out->size();
  if (!grow(*d->out, 2 * used)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  d->manager.next_output_byte = d->out->data() + used;
  d->manager.free_in_buffer = d->out->size() - used;
  return TRUE;
}

void endDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->out->resize(d->out->size() - d->manager.free_in_buffer);
}

// Source: the whole stream in memory. Running past its end is a truncated stream.
struct MemorySource {
  jpeg_source_mgr manager;
};

void noSourceAction(j_decompress_ptr) {}

boolean fillSource(j_decompress_ptr cinfo) {
  WARNMS(cinfo, JWRN_JPEG_EOF);  // fatal here: see onMessage
  return FALSE;
}

void skipSource(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* s = cinfo->src;
  if (count <= 0) return;
  if (static_cast<unsigned long>(count) > s->bytes_in_buffer) fillSource(cinfo);
  s->next_input_byte += count;
  s->bytes_in_buffer -= static_cast<size_t>(count);
}

// Scanlines of RGB from the bitmap, top row first (the file keeps them bottom-up).
void bitmapRowToRgb(const uint8_t* bmp, const BmpLayout& l, uint32_t topRow, uint8_t* rgb) {
  const uint8_t* row = bmp + l.pixelOffset + size_t{l.stride} * (l.height - 1 - topRow);
  if (l.bitsPerPixel == 24) {
    for (uint32_t x = 0; x < l.width; ++x, row += 3, rgb += 3) {
      rgb[0] = row[2];
      rgb[1] = row[1];
      rgb[2] = row[0];
    }
    return;
  }
  const uint8_t* palette = bmp + kBmpFileHeaderBytes + l.infoSize;
  for (uint32_t x = 0; x < l.width; ++x, rgb += 3) {
    const uint8_t* entry = palette + size_t{row[x]} * l.paletteEntryBytes;  // index checked by the caller
    rgb[0] = entry[2];
    rgb[1] = entry[1];
    rgb[2] = entry[0];
  }
}

bool indicesInPalette(const uint8_t* bmp, const BmpLayout& l) {
  if (l.bitsPerPixel != 8 || l.paletteEntries == 256) return true;
  for (uint32_t y = 0; y < l.height; ++y) {
    const uint8_t* row = bmp + l.pixelOffset + size_t{l.stride} * y;
    for (uint32_t x = 0; x < l.width; ++x)
      if (row[x] >= l.paletteEntries) return false;
  }
  return true;
}

// Whether every palette entry of an 8-bit bitmap is the grey of its own index:
// the RGB rows are then grey, and libjpeg turns a grey RGB pixel into exactly
// its level as luminance and 128 as both chroma values (the weights of each sum
// add up to a whole, or to nothing).
bool greyIdentityPalette(const uint8_t* bmp, const BmpLayout& l) {
  if (l.bitsPerPixel != 8) return false;
  const uint8_t* palette = bmp + kBmpFileHeaderBytes + l.infoSize;
  for (uint32_t i = 0; i < l.paletteEntries; ++i) {
    const uint8_t* entry = palette + size_t{i} * l.paletteEntryBytes;
    if (entry[0] != i || entry[1] != i || entry[2] != i) return false;
  }
  return true;
}

// The rows of one call to jpeg_write_raw_data for a grey bitmap: the pixel rows
// as libjpeg's own colour conversion, downsampling and edge padding would have
// made them. Luminance rows point into the bitmap where a row holds whole blocks,
// else into a copy widened by repeating its last pixel; rows below the image
// repeat its last row; both chroma planes are 128 throughout.
struct GreyRawRows {
  std::vector<uint8_t> padded;  // kRows rows of paddedWidth (only when needed)
  std::vector<uint8_t> chroma;  // one row of 128
  size_t paddedWidth = 0;
  JSAMPROW luma[2 * DCTSIZE];
  JSAMPROW chromaRows[DCTSIZE];
  JSAMPARRAY planes[3] = {luma, chromaRows, chromaRows};
};

void fillGreyRawRows(const uint8_t* bmp, const BmpLayout& l, uint32_t firstRow, GreyRawRows& rows) {
  for (uint32_t i = 0; i < 2 * DCTSIZE; ++i) {
    const uint32_t y = std::min(firstRow + i, l.height - 1);
    const uint8_t* row = bmp + l.pixelOffset + size_t{l.stride} * (l.height - 1 - y);
    if (rows.padded.empty()) {
      rows.luma[i] = const_cast<JSAMPROW>(row);  // libjpeg only reads raw input rows
      continue;
    }
    uint8_t* out = rows.padded.data() + rows.paddedWidth * i;
    std::memcpy(out, row, l.width);
    std::memset(out + l.width, row[l.width - 1], rows.paddedWidth - l.width);
    rows.luma[i] = out;
  }
}

// The compression proper; false when libjpeg failed. Kept free of objects with
// destructors: a longjmp leaves it. A grey bitmap (greyRows not null) goes in as
// raw luminance and chroma planes, which gives the bytes its RGB rows would.
bool runCompression(const uint8_t* bmp, const BmpLayout& l, int quality, JpegHeader header,
                    std::vector<uint8_t>& jpeg, std::vector<uint8_t>& rgbRow, GreyRawRows* greyRows) {
  jpeg_compress_struct cinfo;
  ErrorExit error;
  VectorDestination destination{};
  installErrorExit(error, reinterpret_cast<j_common_ptr>(&cinfo));
  if (setjmp(error.back)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  destination.manager.init_destination = startDestination;
  destination.manager.empty_output_buffer = emptyDestination;
  destination.manager.term_destination = endDestination;
  destination.out = &jpeg;
  destination.initialBytes = std::max<size_t>(size_t{1} << 16, size_t{l.width} * l.height / 4);
  cinfo.dest = &destination.manager;

  cinfo.in_color_space = JCS_RGB;
  cinfo.input_components = 3;
  cinfo.data_precision = 8;
  cinfo.image_width = l.width;
  cinfo.image_height = l.height;
  jpeg_set_defaults(&cinfo);
  jpeg_default_colorspace(&cinfo);
  jpeg_set_quality(&cinfo, quality, FALSE);
  if (l.infoSize >= 40 && l.xPelsPerMeter > 0 && l.yPelsPerMeter > 0) {
    cinfo.density_unit = 2;  // dots per centimetre
    cinfo.X_density = static_cast<UINT16>(l.xPelsPerMeter / 100);
    cinfo.Y_density = static_cast<UINT16>(l.yPelsPerMeter / 100);
  }
  if (header == JpegHeader::kContinuation) {
    cinfo.write_JFIF_header = FALSE;
    cinfo.write_Adobe_marker = FALSE;
  }
  if (greyRows) {
    // The defaults: YCbCr, luminance 2x2, chroma 1x1. Anything else would need
    // other planes; the check guards against a library with other defaults.
    if (cinfo.num_components != 3 || cinfo.comp_info[0].h_samp_factor != 2 ||
        cinfo.comp_info[0].v_samp_factor != 2 || cinfo.comp_info[1].h_samp_factor != 1 ||
        cinfo.comp_info[1].v_samp_factor != 1 || cinfo.comp_info[2].h_samp_factor != 1 ||
        cinfo.comp_info[2].v_samp_factor != 1)
      ERREXIT(&cinfo, JERR_NOTIMPL);
    cinfo.raw_data_in = TRUE;
  }
  jpeg_start_compress(&cinfo, TRUE);
  if (greyRows) {
    const size_t lumaWidth = size_t{cinfo.comp_info[0].width_in_blocks} * DCTSIZE;
    const size_t chromaWidth = size_t{cinfo.comp_info[1].width_in_blocks} * DCTSIZE;
    greyRows->paddedWidth = lumaWidth;
    if (!grow(greyRows->chroma, chromaWidth) ||
        (lumaWidth != l.width && !grow(greyRows->padded, lumaWidth * 2 * DCTSIZE)))
      ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    std::fill(greyRows->chroma.begin(), greyRows->chroma.end(), uint8_t{128});
    for (JSAMPROW& row : greyRows->chromaRows) row = greyRows->chroma.data();
    while (cinfo.next_scanline < cinfo.image_height) {
      fillGreyRawRows(bmp, l, cinfo.next_scanline, *greyRows);
      jpeg_write_raw_data(&cinfo, greyRows->planes, 2 * DCTSIZE);
    }
  } else {
    JSAMPROW rows[1] = {rgbRow.data()};
    while (cinfo.next_scanline < cinfo.image_height) {
      bitmapRowToRgb(bmp, l, cinfo.next_scanline, rgbRow.data());
      jpeg_write_scanlines(&cinfo, rows, 1);
    }
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

// The decompression proper, into bmp; false when libjpeg failed or the image is
// too large for a bitmap file.
bool runDecompression(const uint8_t* data, size_t bytes, std::vector<uint8_t>& bmp) {
  jpeg_decompress_struct cinfo;
  ErrorExit error;
  MemorySource source{};
  installErrorExit(error, reinterpret_cast<j_common_ptr>(&cinfo));
  if (setjmp(error.back)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  source.manager.init_source = noSourceAction;
  source.manager.fill_input_buffer = fillSource;
  source.manager.skip_input_data = skipSource;
  source.manager.resync_to_restart = jpeg_resync_to_restart;
  source.manager.term_source = noSourceAction;
  source.manager.next_input_byte = data;
  source.manager.bytes_in_buffer = bytes;
  cinfo.src = &source.manager;

  // No image larger than a bitmap file may hold, and no more memory for libjpeg's
  // own buffers (a progressive image keeps all its coefficients).
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxBmpFileBytes);
  jpeg_read_header(&cinfo, TRUE);
  if (kBmpGreyPixelOffset + uint64_t{bmpStride(cinfo.image_width, 8)} * cinfo.image_height > kMaxBmpFileBytes)
    ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
  cinfo.out_color_space = JCS_GRAYSCALE;
  cinfo.dither_mode = JDITHER_NONE;
  cinfo.quantize_colors = FALSE;
  jpeg_start_decompress(&cinfo);
  const int32_t pelsPerMeter[2] = {cinfo.density_unit == 2 ? cinfo.X_density * 100 : 0,
                                   cinfo.density_unit == 2 ? cinfo.Y_density * 100 : 0};
  try {
    bmp = makeGreyBmp(cinfo.output_width, cinfo.output_height, pelsPerMeter[0], pelsPerMeter[1]);
  } catch (const std::bad_alloc&) {
    bmp.clear();
  }
  if (bmp.empty() || cinfo.output_components != 1) ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
  const size_t stride = bmpStride(cinfo.output_width, 8);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row[1] = {bmp.data() + kBmpGreyPixelOffset + stride * (cinfo.output_height - 1 - cinfo.output_scanline)};
    jpeg_read_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

namespace {

bool compress(const uint8_t* bmp, size_t bytes, int quality, JpegHeader header, std::vector<uint8_t>& jpeg,
              bool greyAsLuminance) {
  jpeg.clear();
  BmpLayout l;
  if (!readBmpLayout(bmp, bytes, l) || l.bitsPerPixel == 1 || l.width > kMaxDimension ||
      l.height > kMaxDimension || !indicesInPalette(bmp, l))
    return false;
  const bool grey = greyAsLuminance && greyIdentityPalette(bmp, l);
  std::vector<uint8_t> rgbRow;
  GreyRawRows greyRows;
  try {
    if (!grey) rgbRow.resize(size_t{l.width} * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!runCompression(bmp, l, quality, header, jpeg, rgbRow, grey ? &greyRows : nullptr)) {
    jpeg.clear();
    return false;
  }
  // The continuation stream begins after the SOI that libjpeg always writes.
  if (header == JpegHeader::kContinuation) {
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
      jpeg.clear();
      return false;
    }
    jpeg.erase(jpeg.begin(), jpeg.begin() + 2);
  }
  return true;
}

}  // namespace

bool compressBmp(const uint8_t* bmp, size_t bytes, int quality, JpegHeader header, std::vector<uint8_t>& jpeg) {
  return compress(bmp, bytes, quality, header, jpeg, true);
}

bool compressBmpThroughRgb(const uint8_t* bmp, size_t bytes, int quality, JpegHeader header,
                           std::vector<uint8_t>& jpeg) {
  return compress(bmp, bytes, quality, header, jpeg, false);
}

bool decompressToGreyBmp(const uint8_t* jpeg, size_t bytes, std::vector<uint8_t>& bmp) {
  bmp.clear();
  if (!jpeg || bytes == 0) return false;
  if (!runDecompression(jpeg, bytes, bmp)) {
    bmp.clear();
    return false;
  }
  return true;
}

}  // namespace vel
