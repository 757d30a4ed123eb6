// Win32 bitmaps: GDI DIB sections.
#include "platform/DibSections.h"

#include <windows.h>

namespace vel::platform {

namespace {

size_t bitsBytesOf(const DIBSECTION& ds) {
  return static_cast<size_t>(ds.dsBm.bmWidthBytes) * static_cast<size_t>(ds.dsBm.bmHeight);
}

}  // namespace

void* dibSectionCreate(void* dc, const uint8_t* info, size_t infoBytes, DibView* view) {
  if (!info || infoBytes < sizeof(BITMAPINFOHEADER)) return nullptr;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(static_cast<HDC>(dc), reinterpret_cast<const BITMAPINFO*>(info),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  if (view && !dibSectionView(bitmap, view)) {
    DeleteObject(bitmap);
    return nullptr;
  }
  return bitmap;
}

// The information block stays with GDI (GetDIBits reads it): info is null here.
bool dibSectionView(void* bitmap, DibView* view) {
  DIBSECTION ds{};
  if (!view || GetObjectA(static_cast<HBITMAP>(bitmap), sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return false;
  *view = {nullptr, 0, static_cast<uint8_t*>(ds.dsBm.bmBits), bitsBytesOf(ds)};
  return true;
}

void dibSectionDelete(void* bitmap) {
  if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
}

}  // namespace vel::platform
