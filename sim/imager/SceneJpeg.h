// The imager's compressed grey images: a baseline JPEG whose first segment is
// the imager's EXIF APP1 block. The block holds the copyright text "Copyright
// (c) Velmora" and, right after its terminating zero, the capture-date entry
// (DateTimeOriginal) left as 19 blanks for the host to fill in.
#pragma once

#include <cstdint>
#include <vector>

#include "imager/ImagerScene.h"

namespace sim {

// The APP1 segment's content (after its marker and length).
std::vector<uint8_t> imagerExifBlock();
// The image compressed with this quality (1..100); empty where the simulator
// has no JPEG encoder (the raw pixels then stand in for the stream).
std::vector<uint8_t> compressGrey(const SceneImage& image, int quality);

}  // namespace sim
