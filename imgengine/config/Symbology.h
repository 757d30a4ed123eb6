// Barcode type ids and their display names. Ids 1..22 are types; 0 and anything
// above 22 are not.
#pragma once

namespace vel {

constexpr int kFirstBarcodeType = 1;
constexpr int kLastBarcodeType = 22;
constexpr int kConfigurationBarcodeType = 19;
constexpr int kPerspectivePatternType = 22;

inline bool isBarcodeType(int id) { return id >= kFirstBarcodeType && id <= kLastBarcodeType; }

// Display name of a type id; null for anything that is not a type.
const char* barcodeTypeName(int id);

}  // namespace vel
