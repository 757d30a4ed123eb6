// Reads pcapng files of the library's recording: section headers (either byte
// order), interface descriptions (name, description, time resolution) and enhanced
// packets with their direction flags, and the 8-byte record header in front of each
// payload. Interfaces are numbered across sections: an interface of a later section
// with the same name and description as an earlier one continues it (a rotated file).
// Every length in the file is checked against what is left before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ImgEngineTrace.h"

namespace trace {

enum class RecordKind : uint8_t {
  kData = VEL_TRACE_DATA,
  kLineEvent = VEL_TRACE_LINE_EVENT,
  kSettings = VEL_TRACE_SETTINGS,
  kOpen = VEL_TRACE_OPEN,
  kClose = VEL_TRACE_CLOSE,
  kApiCall = VEL_TRACE_API_CALL,
  kNotification = VEL_TRACE_NOTIFICATION,
  kNote = VEL_TRACE_NOTE,
};
const char* recordKindName(uint8_t kind);

// Line event bits (a record's detail).
enum LineBit : uint32_t {
  kBreakSet = VEL_TRACE_LINE_BREAK_SET,
  kBreakCleared = VEL_TRACE_LINE_BREAK_CLEARED,
  kCtsChanged = VEL_TRACE_LINE_CTS_CHANGED,
  kDsrChanged = VEL_TRACE_LINE_DSR_CHANGED,
  kLineError = VEL_TRACE_LINE_ERROR,
  kCtsOn = VEL_TRACE_LINE_CTS_ON,
  kDsrOn = VEL_TRACE_LINE_DSR_ON,
};

enum class Direction { kNone, kIn, kOut };  // in: imager to host

struct Interface {
  std::string name;
  std::string description;
};

struct Record {
  size_t interface = 0;      // index into interfaces()
  uint64_t timeUs = 0;       // microseconds since 1970
  Direction direction = Direction::kNone;
  uint8_t kind = 0;          // RecordKind, or 0 when the payload has no valid header
  uint32_t detail = 0;
  std::vector<uint8_t> payload;  // after the 8-byte header
};

class PcapngReader {
 public:
  PcapngReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // The next enhanced packet; false at the end of the file or at damage (error() tells).
  bool next(Record& record);
  const std::string& error() const { return error_; }
  const std::vector<Interface>& interfaces() const { return interfaces_; }
  // Records skipped because their payload did not start with a valid header.
  size_t foreignRecords() const { return foreign_; }

 private:
  struct Local {
    size_t global;
    uint8_t tsresol;
  };
  bool fail(const std::string& why);
  uint16_t get16(const uint8_t* p) const;
  uint32_t get32(const uint8_t* p) const;
  bool readSection(const uint8_t* body, size_t length);
  bool readInterface(const uint8_t* body, size_t length);
  bool readPacket(const uint8_t* body, size_t length, Record& record);

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool inSection_ = false;
  bool swapped_ = false;
  std::vector<Local> locals_;  // this section's interfaces
  std::vector<Interface> interfaces_;
  std::string error_;
  size_t foreign_ = 0;
};

// Microseconds from a timestamp in units of the given if_tsresol.
uint64_t toMicroseconds(uint64_t stamp, uint8_t tsresol);

}  // namespace trace
