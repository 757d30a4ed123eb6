// Image options of the host configuration record: imager-side compression,
// perspective correction and the timestamp; and the texts of the timestamp record.
// No lock and nothing sent: the record travels with the next configuration store.
#include "ImgEngine.h"
#include "config/DeviceConfiguration.h"
#include "image/TimestampRecord.h"

using vel::deviceConfiguration;

namespace {

bool lowByteSet(int value) { return (value & 0xFF) != 0; }

// Sets bit 0 of a switch byte; answers the bit stored.
int setBit0(uint8_t& field, int value) {
  vel::putBit(field, 0, lowByteSet(value));
  return field & 1;
}

int storeByte(uint8_t& field, int value) {
  field = static_cast<uint8_t>(value);
  return field;
}

}  // namespace

extern "C" {

int VEL_API VelGetImageCompressedEnabled(void) { return deviceConfiguration().fwImageCompressedEnabled & 1; }
// Answers the whole byte after the change.
int VEL_API VelSetImageCompressedEnabled(int value) {
  setBit0(deviceConfiguration().fwImageCompressedEnabled, value);
  return deviceConfiguration().fwImageCompressedEnabled;
}
int VEL_API VelGetImageCompressedQuality(void) { return deviceConfiguration().imageCompressedQuality; }
int VEL_API VelSetImageCompressedQuality(int value) { return storeByte(deviceConfiguration().imageCompressedQuality, value); }

// The switch is mirrored in symbology bit 39; reading it brings the mirror in line.
int VEL_API VelGetPerspectiveCorrectionEnabled(void) {
  vel::DeviceConfiguration& c = deviceConfiguration();
  const int on = c.perspectiveCorrectionEnabled & 1;
  uint64_t flags = vel::symbologyFlags(c);
  vel::putBit(flags, vel::kSymbologyPerspectiveBit, on != 0);
  vel::setSymbologyFlags(c, flags);
  return on;
}
int VEL_API VelSetPerspectiveCorrectionEnabled(int value) {
  vel::DeviceConfiguration& c = deviceConfiguration();
  const int on = setBit0(c.perspectiveCorrectionEnabled, value);
  uint64_t flags = vel::symbologyFlags(c);
  vel::putBit(flags, vel::kSymbologyPerspectiveBit, on != 0);
  vel::setSymbologyFlags(c, flags);
  return on;
}

int VEL_API VelGetTimestampEnabled(void) { return deviceConfiguration().timestampEnabled & 1; }
int VEL_API VelSetTimestampEnabled(int value) { return setBit0(deviceConfiguration().timestampEnabled, value); }
int VEL_API VelGetTimestampDateOnly(void) { return deviceConfiguration().timestampDateOnly & 1; }
int VEL_API VelSetTimestampDateOnly(int value) { return setBit0(deviceConfiguration().timestampDateOnly, value); }
int VEL_API VelGetTimestampDateFormat(void) { return deviceConfiguration().timestampDateFormat; }
int VEL_API VelSetTimestampDateFormat(int value) { return storeByte(deviceConfiguration().timestampDateFormat, value); }
int VEL_API VelGetTimestampColor(void) { return deviceConfiguration().timestampColor; }
int VEL_API VelSetTimestampColor(int value) { return storeByte(deviceConfiguration().timestampColor, value); }
int VEL_API VelGetTimestampLocation(void) { return deviceConfiguration().timestampLocation; }
// 1, 2 and 3 are kept, anything else stored as 4, with the anchors of the corner.
int VEL_API VelSetTimestampLocation(int value) {
  vel::SetTimestampLocation(deviceConfiguration(), value);
  return deviceConfiguration().timestampLocation;
}

char* VEL_API VelGetCaptureTimestampStringInASCII(void) {
  return const_cast<char*>(vel::timestampStore().timestampString());
}
char* VEL_API VelGetAutoSaveFileFullPathName(void) { return const_cast<char*>(vel::timestampStore().autoSavePath()); }

}  // extern "C"
