// Image bytes from files and from the imager: bitmap headers and their compression,
// JPEG streams decompressed and stamped, the EXIF capture date patched, and image
// buffers saved into DIB sections and grey bitmaps.
#include <vector>

#include "FuzzCursor.h"
#include "image/BmpFile.h"
#include "image/ImageSaves.h"
#include "image/JpegCodec.h"
#include "image/JpegExif.h"
#include "platform/DibSections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  const uint8_t mode = in.byte();
  // The buffer is the rest of the input exactly: every read past it is a fault.
  std::vector<uint8_t> bytes(in.rest(), in.rest() + in.restSize());
  std::vector<uint8_t> out;
  vel::DeviceConfiguration options{};
  options.timestampEnabled = 1;
  options.imageCompressedQuality = 30;
  const vel::TimestampRecord record =
      vel::makeTimestampRecord(options, {false, false, ".\\"}, 1, {2005, 9, 14, 10, 20, 30});
  switch (mode % 4) {
    case 0:
      vel::compressBmp(bytes.data(), bytes.size(), 50, vel::JpegHeader::kNormal, out);
      break;
    case 1:
      vel::decompressToGreyBmp(bytes.data(), bytes.size(), out);
      vel::imagerHeaderBytes(bytes.data(), bytes.size());
      break;
    case 2:
      vel::patchExifCaptureTime(bytes.data(), bytes.size(), record);
      vel::stampJpegStream(bytes.data(), bytes.size(), record, out);
      break;
    default: {
      const vel::ImageBuffer image{bytes.data(), bytes.size(), 0};
      vel::binaryToGreyBitmap(image);
      vel::stampBitmap(bytes.data(), bytes.size(), record);
      void* bitmap = vel::makeDibSection(nullptr, image, mode & 4 ? vel::DibRows::kFileSize : vel::DibRows::kImageSize,
                                         nullptr, nullptr);
      vel::platform::dibSectionDelete(bitmap);
      break;
    }
  }
  return 0;
}
