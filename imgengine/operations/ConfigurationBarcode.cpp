#include "operations/ConfigurationBarcode.h"

#include "base/Crc16.h"
#include "base/LittleEndian.h"

namespace vel {

namespace {

constexpr uint8_t kNoChangeForm = 1;
constexpr size_t kCheckBytes = 2;

struct Affixes {
  size_t prefix = 0;
  size_t suffix = 0;
};

Affixes affixesOf(const DeviceConfiguration& record, int type) {
  if (!testBit(record.orderingFlags, kOrderingPrefixSuffixBit)) return {};
  for (const PrefixSuffixEntry& e : record.prefixSuffix)
    if (e.typeId == type) return {e.prefixLength, e.suffixLength};
  return {};
}

// Applies the payload to a copy and replaces the record in one assignment.
bool applyPayload(DeviceConfiguration& host, const uint8_t* payload, size_t length) {
  if (payload[0] == kNoChangeForm) return true;
  DeviceConfiguration changed = host;
  if (!ApplyConfigurationPayload(changed, payload, length)) return false;
  host = changed;
  return true;
}

}  // namespace

bool ApplyConfigurationBarcode(DeviceConfiguration& host, int type, const uint8_t* data, size_t length) {
  const Affixes affixes = affixesOf(host, type);
  if (length < affixes.prefix + kCheckBytes + affixes.suffix) return false;
  const size_t payloadLength = length - affixes.prefix - kCheckBytes - affixes.suffix;
  if (payloadLength == 0) return false;  // no form byte
  const uint8_t* payload = data + affixes.prefix + kCheckBytes;
  if (crc16(payload, payloadLength) != getLe16(data + affixes.prefix)) return false;
  return applyPayload(host, payload, payloadLength);
}

}  // namespace vel
