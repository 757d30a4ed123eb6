// Configuration barcodes: decoded data that carries settings for the host copy of
// the configuration record. Layout: the type's prefix, a 16-bit check value
// (CRC-16/CCITT-FALSE of the payload), the payload, the type's suffix; prefix and
// suffix count only while the prefix/suffix option is on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/DeviceConfiguration.h"

namespace vel {

// Examines a configuration barcode of the given type and applies its payload to
// the host record: form 7 (tagged) and 6 (compact) change it, form 1 leaves it
// as it is. Answers whether one of these forms was applied, so that the change is
// announced; a layout that does not fit, a wrong check value, a compact form too
// short or any other form change nothing and answer false.
bool ApplyConfigurationBarcode(DeviceConfiguration& host, int type, const uint8_t* data, size_t length);

}  // namespace vel
