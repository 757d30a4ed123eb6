// Exports whose parts of the library are not built yet. Each answers what its
// function answers when no imager is connected and nothing has been received.
// Functions leave this file as their parts are built.
#include "ImgEngine.h"

extern "C" {


}  // extern "C"
