// The Windows builds of the simulator have no JPEG encoder: a compressed grey
// image travels as its raw pixels.
#include "imager/SceneJpeg.h"

namespace sim {

std::vector<uint8_t> compressGrey(const SceneImage&, int) { return {}; }

}  // namespace sim
