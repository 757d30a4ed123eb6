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
// with the direction) whose payload starts with an 8-byte little-endian header:
// 'V', version 1, the kind, 0, and a 32-bit detail (line events: the kEvent*
// bits; settings: the baud rate; else 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vel::trace {

enum class Kind : uint8_t {
  kData = 1,
  kLineEvent = 2,
  kSettings = 3,
  kOpen = 4,
  kClose = 5,
  kApiCall = 6,
  kNotification = 7,
  kNote = 8,
};

// epb_flags direction bits.
constexpr uint32_t kNoDirection = 0, kInbound = 1, kOutbound = 2;

// The detail bits of a line event.
constexpr uint32_t kEventBreakSet = 1, kEventBreakCleared = 2, kEventCtsChanged = 4, kEventDsrChanged = 8,
                   kEventLineError = 16, kEventCtsOn = 32, kEventDsrOn = 64;

constexpr uint8_t kHeaderMagic = 0x56, kHeaderVersion = 1;
constexpr size_t kHeaderBytes = 8;
// The pcapng link type of every interface (LINKTYPE_USER0).
constexpr uint16_t kLinkType = 147;
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
