#include "operations/ResultSection.h"

#include <vector>

#include "operations/StreamFields.h"

namespace vel {

namespace {

constexpr uint8_t kTimingRecord = 1;
constexpr uint8_t kBarcodeRecord = 2;
constexpr uint8_t kLongLength = 255;  // a 32-bit length follows the head
constexpr uint8_t kConfigurationFlag = 0x01;

// The record head; its length is not used, each field is read by its own size.
bool readHead(ByteStream& s, uint8_t& kind) {
  uint8_t head[2];
  if (!readBytes(s, head, sizeof head)) return false;
  kind = head[0];
  uint8_t longLength[4];
  return head[1] != kLongLength || readBytes(s, longLength, sizeof longLength);
}

// The fields after the type byte, each handed to its slot once it is complete.
bool readBarcodeFields(ByteStream& s, ResultSlots& slots, std::vector<uint8_t>& data) {
  uint8_t flags;
  if (!readBytes(s, &flags, 1)) return false;
  if (flags & kConfigurationFlag) slots.resultIsConfiguration();

  uint8_t cornerBytes[2 * kCornerValues];
  if (!readBytes(s, cornerBytes, sizeof cornerBytes)) return false;
  int32_t corners[kCornerValues];
  for (int i = 0; i < kCornerValues; ++i) corners[i] = static_cast<int16_t>(getLe16(cornerBytes + 2 * i));
  slots.resultCorners(corners);

  uint8_t ticks[4];
  if (!readBytes(s, ticks, sizeof ticks)) return false;
  slots.resultTime(getLe32(ticks));

  uint8_t lengthBytes[2];
  if (!readBytes(s, lengthBytes, sizeof lengthBytes)) return false;
  const size_t length = getLe16(lengthBytes);
  if (length == 0) return true;
  data.resize(length);
  if (!readBytes(s, data.data(), length)) return false;
  slots.resultData(data.data(), length);
  return true;
}

// A record cut short before its type byte is not a barcode; once the type is
// known, the barcode is ended on every way out.
bool readBarcodeRecord(ByteStream& s, ResultSlots& slots, std::vector<uint8_t>& data) {
  uint8_t type;
  if (!readBytes(s, &type, 1)) return false;
  slots.resultType(type);
  const bool complete = readBarcodeFields(s, slots, data);
  slots.resultEnd();
  return complete;
}

bool readTimingRecord(ByteStream& s, ResultSlots& slots) {
  uint8_t bytes[16];
  if (!readBytes(s, bytes, sizeof bytes)) return false;
  const uint32_t t0 = getLe32(bytes), t1 = getLe32(bytes + 4);
  const uint32_t t2 = getLe32(bytes + 8), t3 = getLe32(bytes + 12);
  slots.timings(t2 - t0, t1 - t2, t3);
  return true;
}

bool endSection(ResultSlots& slots, bool succeeded) {
  slots.resultsEnd();
  return succeeded;
}

}  // namespace

bool ReadResultSection(ByteStream& stream, ResultSlots& slots) {
  std::vector<uint8_t> data;
  slots.resultsBegin();
  for (;;) {
    uint8_t kind = 0;
    if (!readHead(stream, kind)) return endSection(slots, false);
    if (kind == kTimingRecord) {
      if (!readTimingRecord(stream, slots)) return endSection(slots, false);
      acknowledge(stream, true);
      return endSection(slots, !stream.failed());
    }
    if (kind == kBarcodeRecord && !readBarcodeRecord(stream, slots, data)) return endSection(slots, false);
    if (slots.shouldStop()) {
      acknowledge(stream, false);
      return endSection(slots, false);
    }
    acknowledge(stream, true);
  }
}

}  // namespace vel
