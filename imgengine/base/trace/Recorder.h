// Field traces: what crossed the line to the imager and what the API was asked,
// recorded as a pcapng file. VEL_TRACE=PATH in the environment, else the host
// settings string TraceFile, switches recording on; VEL_TRACE_MAX_MB (1..4096,
// default 64) bounds the file. Each opened device is a channel with its own
// interface in the file; the API events and the recorder's notes share the
// interface "api". Callers hand over a copy of each record and go on: a writer
// thread writes the records, at least every 100 ms, and a full queue drops them
// (counted in a note), so recording never waits for the disk.
//
// Each record is an Enhanced Packet Block (microsecond timestamps, epb_flags
// with the direction) whose payload starts with the record header of the public
// ImgEngineTrace.h, which defines the format for writer and readers alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ImgEngineTrace.h"

namespace vel::trace {

enum class Kind : uint8_t {
  kData = VEL_TRACE_DATA,
  kLineEvent = VEL_TRACE_LINE_EVENT,
  kSettings = VEL_TRACE_SETTINGS,
  kOpen = VEL_TRACE_OPEN,
  kClose = VEL_TRACE_CLOSE,
  kApiCall = VEL_TRACE_API_CALL,
  kNotification = VEL_TRACE_NOTIFICATION,
  kNote = VEL_TRACE_NOTE,
};

// epb_flags direction bits.
constexpr uint32_t kNoDirection = VEL_TRACE_NO_DIRECTION, kInbound = VEL_TRACE_INBOUND,
                   kOutbound = VEL_TRACE_OUTBOUND;

// The detail bits of a line event.
constexpr uint32_t kEventBreakSet = VEL_TRACE_LINE_BREAK_SET, kEventBreakCleared = VEL_TRACE_LINE_BREAK_CLEARED,
                   kEventCtsChanged = VEL_TRACE_LINE_CTS_CHANGED, kEventDsrChanged = VEL_TRACE_LINE_DSR_CHANGED,
                   kEventLineError = VEL_TRACE_LINE_ERROR, kEventCtsOn = VEL_TRACE_LINE_CTS_ON,
                   kEventDsrOn = VEL_TRACE_LINE_DSR_ON;

constexpr uint8_t kHeaderMagic = VEL_TRACE_HEADER_MAGIC, kHeaderVersion = VEL_TRACE_HEADER_VERSION;
constexpr size_t kHeaderBytes = VEL_TRACE_HEADER_BYTES;
constexpr uint16_t kLinkType = VEL_TRACE_LINKTYPE;
// Blocks waiting for the writer at most; beyond it they are dropped and
// counted.
constexpr size_t kQueueBytes = 8u << 20;
// The longest the writer waits before it writes what has arrived.
constexpr int kFlushIntervalMs = 100;
constexpr uint32_t kDefaultMaxMb = 64, kMaxMaxMb = 4096;

class Recorder;

// What the environment or the host settings ask for: an empty path is off.
struct Wanted {
  std::string path;
  uint64_t maxBytes = uint64_t(kDefaultMaxMb) << 20;
  std::string problem;  // a VEL_TRACE_MAX_MB that was not used, and why
};
Wanted wanted();
// The limit VEL_TRACE_MAX_MB text gives; false (and *mb left alone) when it is
// not a whole number of 1..kMaxMaxMb.
bool parseMaxMb(const std::string &text, uint32_t *mb);

// The recorder of a device being opened now: recording starts (or moves to a
// new path while no device is open) or stops as wanted() says. Null when off.
std::shared_ptr<Recorder> forOpen();
// The recorder in use, null when recording is off.
std::shared_ptr<Recorder> current();
// Stops recording (the file is completed); the devices still open keep their
// recorder until they close.
void stop();

// True while a recorder exists: the test the API events make before anything
// else.
bool on();
// API events: the call with its arguments and result, a notification posted.
void apiCall(const std::string &text);
void notification(const std::string &text);

class Recorder {
 public:
  // Starts writing path (or the next free "path.N" when path exists).
  Recorder(const std::string &path, uint64_t maxBytes);
  ~Recorder();
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;

  // A new channel: its interface (ifName, description) and the open record.
  uint32_t openChannel(const std::string &ifName, const std::string &description);
  // The close record; waits (bounded) until the writer has written it, so that
  // a process ending right after a disconnect leaves the whole conversation.
  void closeChannel(uint32_t channel, const std::string &text);
  void record(uint32_t channel, Kind kind, uint32_t direction, uint32_t detail, const void *payload, size_t length);
  void text(uint32_t channel, Kind kind, uint32_t direction, uint32_t detail, const std::string &text) {
    record(channel, kind, direction, detail, text.data(), text.size());
  }
  // Returns once everything recorded so far is written, or after timeoutMs.
  bool flush(int timeoutMs);

  // The file written now (path, or path.N when path existed); empty when none
  // could be created.
  std::string file() const;
  const std::string &wantedPath() const { return path_; }
  // Blocks dropped because the queue was full, since the start.
  uint64_t dropped() const;

  // The channel of the API events and notes.
  static constexpr uint32_t kApiChannel = 0;

 private:
  struct Impl;
  std::string path_;
  std::unique_ptr<Impl> impl_;
};

// The library static that holds the recorder in use (core/LibraryStatics.cpp
// keeps it alive while connections close, and stops it at unload).
class Recorders {
 public:
  Recorders();
  ~Recorders();
  Recorders(const Recorders &) = delete;
  Recorders &operator=(const Recorders &) = delete;
  struct Impl;
  Impl &impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};
Recorders &recorders();

}  // namespace vel::trace
