// POSIX bitmaps: heap objects holding the information block and the bits, checked
// as CreateDIBSection checks its BITMAPINFO. The live ones are registered, so
// that a handle the library did not make is refused.
#include "platform/DibSections.h"

#include <mutex>
#include <set>
#include <vector>

namespace vel::platform {

namespace {

struct HeapBitmap {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
};

// The live bitmaps. A caller of the shared library has no function to delete its
// bitmaps with: those still live when the library is unloaded go with it.
struct LiveBitmaps : std::set<HeapBitmap*> {
  ~LiveBitmaps() {
    for (HeapBitmap* b : *this) delete b;
  }
};

std::mutex g_lock;
LiveBitmaps g_live;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Bytes of the bits that the header describes, 0 when it describes no bitmap.
size_t bitsBytesOf(const uint8_t* info, size_t infoBytes) {
  constexpr uint32_t kBiRgb = 0;
  constexpr uint64_t kMaxBits = 1ull << 31;
  if (!info || infoBytes < 40) return 0;
  const uint32_t headerSize = le32(info);
  const auto width = static_cast<int32_t>(le32(info + 4));
  const auto height = static_cast<int32_t>(le32(info + 8));
  const uint16_t planes = le16(info + 12), bitCount = le16(info + 14);
  const uint32_t compression = le32(info + 16), colorsUsed = le32(info + 32);
  if (headerSize < 40 || headerSize > infoBytes || width <= 0 || height == 0 || height == INT32_MIN ||
      planes != 1 || compression != kBiRgb)
    return 0;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) return 0;
  if (bitCount <= 8) {
    const uint64_t entries = colorsUsed ? colorsUsed : 1u << bitCount;
    if (entries > (1u << bitCount) || headerSize + 4 * entries > infoBytes) return 0;
  }
  const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
  const uint64_t bytes = stride * static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
  return bytes <= kMaxBits ? static_cast<size_t>(bytes) : 0;
}

void describe(const HeapBitmap& b, DibView* view) {
  *view = {b.info.data(), b.info.size(), const_cast<uint8_t*>(b.bits.data()), b.bits.size()};
}

}  // namespace

void* dibSectionCreate(void*, const uint8_t* info, size_t infoBytes, DibView* view) {
  const size_t bitsBytes = bitsBytesOf(info, infoBytes);
  if (bitsBytes == 0) return nullptr;
  auto* b = new HeapBitmap{std::vector<uint8_t>(info, info + infoBytes), std::vector<uint8_t>(bitsBytes)};
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_live.insert(b);
  }
  if (view) describe(*b, view);
  return b;
}

bool dibSectionView(void* bitmap, DibView* view) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto* b = static_cast<HeapBitmap*>(bitmap);
  if (!view || !g_live.count(b)) return false;
  describe(*b, view);
  return true;
}

void dibSectionDelete(void* bitmap) {
  auto* b = static_cast<HeapBitmap*>(bitmap);
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_live.erase(b)) return;
  }
  delete b;
}

}  // namespace vel::platform
