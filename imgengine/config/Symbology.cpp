#include "config/Symbology.h"

namespace vel {

namespace {
const char* const kNames[kLastBarcodeType + 1] = {
    nullptr,
    "Aztec Code",
    "Codabar",
    "Code 128",
    "Code 39",
    "Code 93",
    "Data Matrix",
    "Interleaved 2-of-5",
    "MaxiCode",
    "Australia Post",
    "Japan Post",
    "Korea Post",
    "Planet",
    "Postnet",
    "Royal Mail 4-State Postal",
    "PDF417",
    "QR Code",
    "RSS",
    "UPC",
    "Velmora Configuration",
    "Dutch 4-State Postal (KIX Code)",
    "Canadian 4-State Postal",
    "Perspective Pattern",
};
}  // namespace

const char* barcodeTypeName(int id) { return isBarcodeType(id) ? kNames[id] : nullptr; }

}  // namespace vel
