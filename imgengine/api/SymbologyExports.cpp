// The barcode type order list and the per-type prefix and suffix strings of the
// host record. Byte strings are raw: nothing is NUL-terminated.
#include <algorithm>
#include <cstring>

#include "ImgEngine.h"
#include "config/DeviceConfiguration.h"
#include "config/Symbology.h"

using vel::deviceConfiguration;
using vel::PrefixSuffixEntry;

namespace {

PrefixSuffixEntry* findEntry(int typeId) {
  const uint8_t id = static_cast<uint8_t>(typeId);
  for (PrefixSuffixEntry& e : deviceConfiguration().prefixSuffix)
    if (e.typeId == id) return &e;
  return nullptr;
}

int getAffix(int typeId, unsigned char* buffer, bool prefix) {
  const PrefixSuffixEntry* e = findEntry(typeId);
  if (!e) return 0;
  const uint8_t length = std::min<uint8_t>(prefix ? e->prefixLength : e->suffixLength, vel::kAffixBytes);
  if (length == 0 || !buffer) return 0;
  std::memcpy(buffer, prefix ? e->prefix : e->suffix, length);
  return length;
}

void setAffix(int typeId, unsigned int length, const unsigned char* bytes, bool prefix) {
  const unsigned int kept = std::min<unsigned int>(length, vel::kAffixBytes);
  PrefixSuffixEntry* e = findEntry(typeId);
  if (!e || (kept > 0 && !bytes)) return;
  if (kept > 0) std::memcpy(prefix ? e->prefix : e->suffix, bytes, kept);
  (prefix ? e->prefixLength : e->suffixLength) = static_cast<uint8_t>(kept);
}

}  // namespace

extern "C" {

int VEL_API VelGetBarcodeTypeOrderList(unsigned char* buffer) {
  if (!buffer) return 0;
  int written = 0;
  for (uint8_t id : deviceConfiguration().barcodeTypeOrderList)
    if (vel::isBarcodeType(id)) buffer[written++] = id;
  return written;
}

int VEL_API VelSetBarcodeTypeOrderList(int count, const unsigned char* ids) {
  uint8_t list[vel::kBarcodeTypeCount] = {};
  const int n = ids ? std::min(count, vel::kBarcodeTypeCount) : 0;
  int stored = 0;
  for (int i = 0; i < n; ++i)
    if (vel::isBarcodeType(ids[i])) list[stored++] = ids[i];
  std::memcpy(deviceConfiguration().barcodeTypeOrderList, list, sizeof list);
  return stored;
}

int VEL_API VelGetPrefixBarcodeList(int typeId, unsigned char* buffer) { return getAffix(typeId, buffer, true); }
int VEL_API VelGetSuffixBarcodeList(int typeId, unsigned char* buffer) { return getAffix(typeId, buffer, false); }

int VEL_API VelSetPrefixBarcodeList(int typeId, unsigned int length, const unsigned char* bytes) {
  setAffix(typeId, length, bytes, true);
  return 0;
}
int VEL_API VelSetSuffixBarcodeList(int typeId, unsigned int length, const unsigned char* bytes) {
  setAffix(typeId, length, bytes, false);
  return 0;
}

}  // extern "C"
