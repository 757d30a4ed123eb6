// Device-independent bitmaps created for a caller's device context. On Windows a
// GDI DIB section (CreateDIBSection with RGB palette colours, no file mapping);
// elsewhere a heap bitmap object of the library that holds a copy of the
// information block and the pixel bits. The caller owns the bitmap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

// A bitmap's information block (the 40-byte header and its palette) and bits.
struct DibView {
  const uint8_t* info;
  size_t infoBytes;
  uint8_t* bits;
  size_t bitsBytes;  // rows x stride of the header's width, height and bit count
};

// A new bitmap described by info (header and palette, infoBytes bytes) for the
// device context dc; null when it cannot be created. On success view describes it.
void* dibSectionCreate(void* dc, const uint8_t* info, size_t infoBytes, DibView* view);
// What a bitmap of dibSectionCreate holds; false for anything else.
bool dibSectionView(void* bitmap, DibView* view);
void dibSectionDelete(void* bitmap);

}  // namespace vel::platform
