// The long responses of the simulated imager, written on a ResponseStream: the
// full operation response and the previous-image forms, with their result,
// binary run-length and grey sections. Each field is one write, in the pieces
// the host reads it: the status byte; gain, integration time and illumination;
// width and height; a record head's kind, length and long length; a barcode's
// type, flag, each corner, ticks, data length and its data in pieces of at most
// 4,096 bytes; each timing value; the binary colour byte, each block's length
// and its run bytes; the grey size value, each block length and every grey
// piece (at most the block size). Each answers whether the transfer went to its end.
#pragma once

#include <cstdint>

#include "imager/ImagerScene.h"
#include "imager/ResponseStream.h"

namespace sim {

struct ResponseLimits {
  uint32_t blockSize = 4096;        // bytes between acknowledgements in the image sections
  uint32_t greyBlockLength = 4096;  // grey bytes per block of the length-prefixed form
};

// Operation flags of the full response.
constexpr uint8_t kDecodeFirst = 0x01;
constexpr uint8_t kBinaryImage = 0x02;
constexpr uint8_t kGreyImage = 0x04;
constexpr uint8_t kDecodeAfterImages = 0x08;
constexpr uint8_t kCompressedGrey = 0x10;

// Status byte, exposure report, image size, sections as the flags ask. The grey
// image is compressed when the scene says so or the flags ask for it.
bool fullResponse(ResponseStream& s, const Scene& scene, uint8_t flags, const ResponseLimits& limits);
// Width, height and the binary section of the image.
bool binaryOnlyResponse(ResponseStream& s, const SceneImage& image, const ResponseLimits& limits);
// Width, height, the size value when the scene compresses, and the grey section
// of image (the scene's whole image, or a window of it).
bool greyOnlyResponse(ResponseStream& s, const Scene& scene, const SceneImage& image, bool wholeImage,
                      const ResponseLimits& limits);

}  // namespace sim
