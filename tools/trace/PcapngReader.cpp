#include "PcapngReader.h"

namespace trace {

namespace {
constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kByteOrderSwapped = 0x4D3C2B1A;
constexpr size_t kBlockOverhead = 12;  // type, total length before and after
constexpr uint16_t kOptEnd = 0;
constexpr uint16_t kOptIfName = 2;
constexpr uint16_t kOptIfDescription = 3;
constexpr uint16_t kOptIfTsresol = 9;
constexpr uint16_t kOptEpbFlags = 2;
constexpr uint8_t kHeaderMagic = VEL_TRACE_HEADER_MAGIC;
constexpr uint8_t kHeaderVersion = VEL_TRACE_HEADER_VERSION;
constexpr size_t kRecordHeader = VEL_TRACE_HEADER_BYTES;
// Interfaces beyond this many in one file are taken for damage.
constexpr size_t kMaxInterfaces = 4096;

size_t padded(size_t n) { return (n + 3) & ~size_t{3}; }
}  // namespace

const char* recordKindName(uint8_t kind) {
  switch (kind) {
    case 1: return "data";
    case 2: return "line";
    case 3: return "settings";
    case 4: return "open";
    case 5: return "close";
    case 6: return "api";
    case 7: return "notification";
    case 8: return "note";
    default: return "unknown";
  }
}

uint64_t toMicroseconds(uint64_t stamp, uint8_t tsresol) {
  if (tsresol & 0x80) {
    const unsigned shift = tsresol & 0x7F;
    if (shift >= 64) return 0;
    // stamp / 2^shift seconds
    const uint64_t seconds = stamp >> shift;
    uint64_t fraction = stamp - (seconds << shift);
    // fraction x 10^6 must fit 64 bits: below 2^44 it does; finer bits are beyond a microsecond.
    unsigned bits = shift;
    if (bits > 44) {
      fraction >>= bits - 44;
      bits = 44;
    }
    return seconds * 1000000u + ((fraction * 1000000u) >> bits);
  }
  if (tsresol == 6) return stamp;
  if (tsresol < 6) {
    uint64_t v = stamp;
    for (int i = tsresol; i < 6; ++i) v *= 10;
    return v;
  }
  if (tsresol > 19) return 0;
  uint64_t v = stamp;
  for (int i = 6; i < tsresol; ++i) v /= 10;
  return v;
}

bool PcapngReader::fail(const std::string& why) {
  error_ = why + " at offset " + std::to_string(at_);
  at_ = size_;
  return false;
}

uint16_t PcapngReader::get16(const uint8_t* p) const {
  return swapped_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t PcapngReader::get32(const uint8_t* p) const {
  return swapped_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                  : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

bool PcapngReader::next(Record& record) {
  while (at_ < size_) {
    if (size_ - at_ < kBlockOverhead) return fail("truncated block");
    const uint8_t* p = data_ + at_;
    const uint32_t rawType = uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    if (rawType == kSectionHeader) {
      // The byte order comes from the section's own magic, after the length.
      const uint32_t magic = uint32_t{p[11]} << 24 | uint32_t{p[10]} << 16 | uint32_t{p[9]} << 8 | p[8];
      if (magic == kByteOrderMagic)
        swapped_ = false;
      else if (magic == kByteOrderSwapped)
        swapped_ = true;
      else
        return fail("bad byte-order magic");
    } else if (!inSection_) {
      return fail("no section header");
    }
    const uint32_t type = get32(p);
    const uint32_t total = get32(p + 4);
    if (total > size_ - at_) return fail("truncated block");
    if (total < kBlockOverhead || total % 4 != 0) return fail("bad block length");
    if (get32(p + total - 4) != total) return fail("block lengths differ");
    const uint8_t* body = p + 8;
    const size_t length = total - kBlockOverhead;
    at_ += total;
    if (type == kSectionHeader) {
      if (!readSection(body, length)) return false;
    } else if (type == kInterfaceDescription) {
      if (!readInterface(body, length)) return false;
    } else if (type == kEnhancedPacket) {
      if (readPacket(body, length, record)) return true;
      if (!error_.empty()) return false;
    }
  }
  return false;
}

bool PcapngReader::readSection(const uint8_t* body, size_t length) {
  if (length < 16) return fail("short section header");
  if (get16(body + 4) != 1) return fail("unknown pcapng major version");
  inSection_ = true;
  locals_.clear();
  return true;
}

bool PcapngReader::readInterface(const uint8_t* body, size_t length) {
  if (length < 8) return fail("short interface description");
  Interface i;
  uint8_t tsresol = 6;
  for (size_t at = 8; at + 4 <= length;) {
    const uint16_t code = get16(body + at);
    const uint16_t len = get16(body + at + 2);
    at += 4;
    if (code == kOptEnd) break;
    if (len > length - at) return fail("option beyond its block");
    const char* text = reinterpret_cast<const char*>(body + at);
    if (code == kOptIfName) i.name.assign(text, len);
    if (code == kOptIfDescription) i.description.assign(text, len);
    if (code == kOptIfTsresol && len >= 1) tsresol = body[at];
    at += padded(len);
  }
  // Names end at a NUL where a writer put one.
  for (std::string* s : {&i.name, &i.description}) s->resize(s->find('\0') == std::string::npos ? s->size() : s->find('\0'));
  size_t global = interfaces_.size();
  for (size_t k = 0; k < interfaces_.size(); ++k)
    if (interfaces_[k].name == i.name && interfaces_[k].description == i.description) global = k;
  if (global == interfaces_.size()) {
    if (interfaces_.size() == kMaxInterfaces) return fail("too many interfaces");
    interfaces_.push_back(i);
  }
  if (locals_.size() == kMaxInterfaces) return fail("too many interfaces");
  locals_.push_back({global, tsresol});
  return true;
}

bool PcapngReader::readPacket(const uint8_t* body, size_t length, Record& record) {
  if (length < 20) return fail("short enhanced packet");
  const uint32_t id = get32(body);
  if (id >= locals_.size()) return fail("packet of an undescribed interface");
  const uint64_t stamp = uint64_t{get32(body + 4)} << 32 | get32(body + 8);
  const uint32_t captured = get32(body + 12);
  if (captured > length - 20) return fail("packet longer than its block");
  const uint8_t* data = body + 20;
  uint32_t flags = 0;
  for (size_t at = 20 + padded(captured); at + 4 <= length;) {
    const uint16_t code = get16(body + at);
    const uint16_t len = get16(body + at + 2);
    at += 4;
    if (code == kOptEnd) break;
    if (len > length - at) return fail("option beyond its block");
    if (code == kOptEpbFlags && len >= 4) flags = get32(body + at);
    at += padded(len);
  }
  record = Record{};
  record.interface = locals_[id].global;
  record.timeUs = toMicroseconds(stamp, locals_[id].tsresol);
  record.direction = (flags & 3) == VEL_TRACE_INBOUND    ? Direction::kIn
                     : (flags & 3) == VEL_TRACE_OUTBOUND ? Direction::kOut
                                                         : Direction::kNone;
  if (captured < kRecordHeader || data[0] != kHeaderMagic || data[1] != kHeaderVersion) {
    ++foreign_;
    return false;
  }
  record.kind = data[2];
  record.detail = uint32_t{data[7]} << 24 | uint32_t{data[6]} << 16 | uint32_t{data[5]} << 8 | data[4];
  record.payload.assign(data + kRecordHeader, data + captured);
  return true;
}

}  // namespace trace
