// Compressed grey images with libjpeg: SOI, the imager's APP1 block, then the
// baseline stream without a JFIF marker.
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "imager/SceneJpeg.h"

namespace sim {

std::vector<uint8_t> compressGrey(const SceneImage& image, int quality) {
  if (image.width == 0 || image.height == 0 || image.grey.size() < size_t{image.width} * image.height) return {};
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = image.width;
  c.image_height = image.height;
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
  c.write_JFIF_header = FALSE;
  jpeg_start_compress(&c, TRUE);
  const std::vector<uint8_t> exif = imagerExifBlock();
  jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), static_cast<unsigned int>(exif.size()));
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.grey.data() + size_t{c.next_scanline} * image.width);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> stream(out, out + outSize);
  std::free(out);
  return stream;
}

}  // namespace sim
