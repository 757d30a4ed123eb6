#include "base/trace/Recorder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "base/Sync.h"
#include "base/WorkerThread.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostSettings.h"
#include "platform/Time.h"

namespace vel::trace {

namespace {

// Set while a recorder exists; constant-initialised, no destructor.
std::atomic<bool> g_on{false};

constexpr size_t kSettingCapacity = 1024;
// The writer is woken early once this much waits, so that a fast line does not
// fill the queue.
constexpr size_t kWakeBytes = 1u << 20;
// Disk space is allocated ahead of the writes in steps of this size.
constexpr uint64_t kReserveBytes = 4u << 20;
// The highest N tried for "path.N" when path exists.
constexpr int kLastFreeNumber = 99;
constexpr int kCloseFlushMs = 1000;
constexpr size_t kWriterStack = 64 * 1024;

constexpr uint32_t kShbType = 0x0A0D0D0A, kIdbType = 1, kEpbType = 6;
constexpr uint16_t kOptEnd = 0, kOptShbUserAppl = 4, kOptIfName = 2, kOptIfDescription = 3, kOptIfTsresol = 9,
                   kOptEpbFlags = 2;

// A record is queued as the Enhanced Packet Block it becomes, so that the
// writer writes the queue's bytes as they are. Offsets in the block:
constexpr size_t kEpbLengthAt = 4;     // total length (also the block's last 4 bytes)
constexpr size_t kEpbInterfaceAt = 8;  // the channel while queued, the file's interface id once written
constexpr size_t kEpbKindAt = 28 + 2;  // the record header's kind
constexpr size_t kEpbFixed = 28;       // type, length, interface, timestamp, both lengths
constexpr size_t kEpbTail = 8 + 4 + 4; // epb_flags option, end of options, trailing length

size_t enhancedPacketBytes(size_t length) {
  return kEpbFixed + ((kHeaderBytes + length + 3) & ~size_t(3)) + kEpbTail;
}

void store32(uint8_t *at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}
uint32_t load32(const uint8_t *at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

// Writes the block of one record at out (enhancedPacketBytes(length) bytes).
void enhancedPacket(uint8_t *out, uint64_t micros, uint32_t channel, Kind kind, uint32_t direction, uint32_t detail,
                    const void *payload, size_t length) {
  const size_t total = enhancedPacketBytes(length);
  const uint32_t captured = uint32_t(kHeaderBytes + length);
  store32(out, kEpbType);
  store32(out + kEpbLengthAt, uint32_t(total));
  store32(out + kEpbInterfaceAt, channel);
  store32(out + 12, uint32_t(micros >> 32));
  store32(out + 16, uint32_t(micros));
  store32(out + 20, captured);
  store32(out + 24, captured);
  uint8_t *h = out + kEpbFixed;
  h[0] = kHeaderMagic;
  h[1] = kHeaderVersion;
  h[2] = uint8_t(kind);
  h[3] = 0;
  store32(h + 4, detail);
  if (length) std::memcpy(h + kHeaderBytes, payload, length);
  uint8_t *tail = h + captured;
  while ((tail - out) % 4 != 0) *tail++ = 0;
  store32(tail, uint32_t(kOptEpbFlags) | uint32_t(4) << 16);
  store32(tail + 4, direction & 3u);
  store32(tail + 8, kOptEnd);
  store32(tail + 12, uint32_t(total));
}

// Room beyond the queue's bound for the note of the drops at the end.
constexpr size_t kNoteRoom = 256;

// One half of the queue: callers fill one while the writer writes the other.
// Its bytes are allocated once and never cleared (pages are touched as used).
struct QueueBuffer {
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kQueueBytes + kNoteRoom]};
  size_t used = 0;
};

void put16(std::vector<uint8_t> &out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void pad4(std::vector<uint8_t> &out, size_t length) {
  for (size_t i = length; i % 4 != 0; ++i) out.push_back(0);
}
void option(std::vector<uint8_t> &out, uint16_t code, const void *data, size_t length) {
  length = std::min<size_t>(length, 0xFFFF - 3);
  put16(out, code);
  put16(out, uint16_t(length));
  const auto *p = static_cast<const uint8_t *>(data);
  out.insert(out.end(), p, p + length);
  pad4(out, length);
}
void option(std::vector<uint8_t> &out, uint16_t code, const std::string &text) {
  option(out, code, text.data(), text.size());
}

// Opens a block of type at the end of out; closeBlock writes both its lengths.
size_t openBlock(std::vector<uint8_t> &out, uint32_t type) {
  const size_t start = out.size();
  put32(out, type);
  put32(out, 0);
  return start;
}
void closeBlock(std::vector<uint8_t> &out, size_t start) {
  const uint32_t total = uint32_t(out.size() - start + 4);
  put32(out, total);
  for (int i = 0; i < 4; ++i) out[start + 4 + i] = uint8_t(total >> (8 * i));
}

void sectionHeader(std::vector<uint8_t> &out) {
  const size_t b = openBlock(out, kShbType);
  put32(out, 0x1A2B3C4D);
  put16(out, 1);
  put16(out, 0);
  put32(out, 0xFFFFFFFFu);  // section length unknown (-1)
  put32(out, 0xFFFFFFFFu);
  option(out, kOptShbUserAppl, std::string("ImgEngine"));
  put32(out, kOptEnd);
  closeBlock(out, b);
}

void interfaceDescription(std::vector<uint8_t> &out, const std::string &name, const std::string &description) {
  const size_t b = openBlock(out, kIdbType);
  put16(out, kLinkType);
  put16(out, 0);
  put32(out, 0);  // snaplen: no limit
  option(out, kOptIfName, name);
  option(out, kOptIfDescription, description);
  const uint8_t microseconds = 6;
  option(out, kOptIfTsresol, &microseconds, 1);
  put32(out, kOptEnd);
  closeBlock(out, b);
}

std::string settingString(const char *environmentName, const char *settingName) {
  std::string text;
  if (platform::environmentValue(environmentName, &text)) return text;
  if (!settingName) return {};
  char buffer[kSettingCapacity];
  const int n = platform::hostSettingsReadString(settingName, buffer, sizeof buffer);
  if (n <= 0) return {};
  // A registry string may carry its terminating NUL.
  return std::string(buffer, strnlen(buffer, std::min(static_cast<size_t>(n), sizeof buffer)));
}

}  // namespace

bool parseMaxMb(const std::string &text, uint32_t *mb) {
  if (text.empty() || text.size() > 4) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint32_t(c - '0');
  }
  if (value < 1 || value > kMaxMaxMb) return false;
  *mb = value;
  return true;
}

Wanted wanted() {
  Wanted w;
  w.path = settingString("VEL_TRACE", "TraceFile");
  std::string limit;
  if (platform::environmentValue("VEL_TRACE_MAX_MB", &limit) && !limit.empty()) {
    uint32_t mb = kDefaultMaxMb;
    if (parseMaxMb(limit, &mb)) {
      w.maxBytes = uint64_t(mb) << 20;
    } else {
      w.problem = "VEL_TRACE_MAX_MB=" + limit.substr(0, 32) + " ignored (1.." + std::to_string(kMaxMaxMb) +
                  " expected): " + std::to_string(kDefaultMaxMb) + " MB used";
    }
  }
  return w;
}

struct Recorder::Impl {
  struct Channel {
    std::string name, description;
  };

  explicit Impl(uint64_t maxBytes) : maxBytes(maxBytes) {}

  // Shared with the callers, under lock.
  Mutex lock;
  std::unique_ptr<QueueBuffer> pending = std::make_unique<QueueBuffer>();
  uint64_t appended = 0;
  uint64_t droppedSinceNote = 0;
  uint64_t droppedTotal = 0;
  bool woken = false;
  std::map<uint32_t, Channel> channels;
  uint32_t nextChannel = 1;
  std::string fileName;
  std::atomic<uint64_t> written{0};
  Event wake{false};
  std::unique_ptr<WorkerThread> writer;

  // The writer's own.
  const uint64_t maxBytes;
  platform::PlainFile *file = nullptr;
  std::string path;  // the file written
  uint64_t fileBytes = 0;  // counted as blocks are placed
  uint64_t onDisk = 0;     // written to the file
  uint64_t reservedTo = 0;
  bool reserving = true;  // until the system refuses a reservation
  uint64_t headerBytes = 0;
  bool broken = false;
  std::map<uint32_t, uint32_t> interfaces;  // channel -> interface of the current file
  std::set<uint32_t> openChannels;          // opened, not yet closed, as written
  std::vector<uint8_t> out;                 // the file's own blocks: section header, interfaces
  std::unique_ptr<QueueBuffer> spare = std::make_unique<QueueBuffer>();

  // Caller side, under lock: appends one record, or counts it dropped.
  void append(uint64_t micros, uint32_t channel, Kind kind, uint32_t direction, uint32_t detail, const void *payload,
              size_t length) {
    std::string note;
    if (droppedSinceNote) note = "dropped " + std::to_string(droppedSinceNote) + " blocks";
    if (length > kQueueBytes ||
        pending->used + enhancedPacketBytes(length) + (note.empty() ? 0 : enhancedPacketBytes(note.size())) >
            kQueueBytes) {
      ++droppedSinceNote;
      ++droppedTotal;
      return;
    }
    if (!note.empty()) {
      put(micros, kApiChannel, Kind::kNote, kNoDirection, 0, note.data(), note.size());
      droppedSinceNote = 0;
    }
    put(micros, channel, kind, direction, detail, payload, length);
    if (pending->used >= kWakeBytes && !woken) {
      woken = true;
      wake.set();
    }
  }

  // The caller has checked that the block fits.
  void put(uint64_t micros, uint32_t channel, Kind kind, uint32_t direction, uint32_t detail, const void *payload,
           size_t length) {
    enhancedPacket(pending->bytes.get() + pending->used, micros, channel, kind, direction, detail, payload, length);
    pending->used += enhancedPacketBytes(length);
    ++appended;
  }

  // Writer side.
  bool create(const std::string &name) {
    file = platform::fileCreatePrivate(name.c_str());
    if (!file) return false;
    path = name;
    fileBytes = 0;
    onDisk = 0;
    reservedTo = 0;
    interfaces.clear();
    sectionHeader(out);
    fileBytes += out.size();
    return true;
  }

  void write(const uint8_t *data, size_t length) {
    if (!length || !file || broken) return;
    // Space allocated ahead of the writes costs the file system less than
    // growing the file page by page.
    if (reserving && onDisk + length > reservedTo) {
      const uint64_t end = std::min<uint64_t>(onDisk + length + kReserveBytes, maxBytes);
      if (end > reservedTo) reserving = platform::fileReserve(file, reservedTo, end - reservedTo);
      if (reserving) reservedTo = end;
    }
    if (platform::fileWrite(file, data, length) != length) broken = true;
    onDisk += length;
  }
  void writeOut() {
    write(out.data(), out.size());
    out.clear();
  }

  void announce(uint32_t channel) {
    Channel c;
    if (channel == kApiChannel) {
      c = {"api", "ImgEngine API events"};
    } else {
      ScopedLock hold(lock);
      auto it = channels.find(channel);
      if (it == channels.end()) return;
      c = it->second;
    }
    const size_t before = out.size();
    interfaceDescription(out, c.name, c.description);
    fileBytes += out.size() - before;
    interfaces.emplace(channel, uint32_t(interfaces.size()));
  }

  // The limit reached: this file becomes "file.1" (an older one replaced) and a
  // new one starts with the interfaces of the channels still open.
  void rotate() {
    writeOut();
    platform::fileClose(file);
    file = nullptr;
    const std::string older = path + ".1";
    platform::fileReplace(path.c_str(), older.c_str());
    if (!create(path)) {
      broken = true;
      return;
    }
    for (uint32_t channel : openChannels) announce(channel);
    headerBytes = fileBytes;
  }

  // Writes the queued blocks straight from the buffer, in runs between the
  // interface descriptions and rotations that must come before a block.
  void writeBatch(QueueBuffer &batch) {
    uint8_t *const data = batch.bytes.get();
    size_t run = 0, at = 0;
    while (batch.used - at >= kEpbFixed + kEpbTail && file && !broken) {
      uint8_t *block = data + at;
      const uint32_t total = load32(block + kEpbLengthAt);
      if (total < kEpbFixed + kHeaderBytes + kEpbTail || total > batch.used - at) break;
      const uint32_t channel = load32(block + kEpbInterfaceAt);
      const bool known = interfaces.count(channel) != 0;
      if (fileBytes + total + (known ? 0 : 512) > maxBytes && fileBytes > headerBytes) {
        write(data + run, at - run);
        run = at;
        rotate();
        writeOut();  // the new file's section header and interfaces
        if (!file || broken) break;
      }
      if (!interfaces.count(channel)) {
        write(data + run, at - run);
        run = at;
        announce(channel);
        writeOut();
      }
      auto it = interfaces.find(channel);
      if (it == interfaces.end()) {  // a channel never opened: its block is left out
        write(data + run, at - run);
        at += total;
        run = at;
        continue;
      }
      store32(block + kEpbInterfaceAt, it->second);
      fileBytes += total;
      const Kind kind = Kind(block[kEpbKindAt]);
      if (kind == Kind::kOpen) openChannels.insert(channel);
      if (kind == Kind::kClose) {
        openChannels.erase(channel);
        ScopedLock hold(lock);
        channels.erase(channel);
      }
      at += total;
    }
    write(data + run, at - run);
    batch.used = 0;
  }

  void run(WorkerThread &self) {
    for (;;) {
      const bool stopping = self.stopRequested();
      if (!stopping) wake.wait(kFlushIntervalMs);
      uint64_t count = 0;
      {
        ScopedLock hold(lock);
        if (stopping && droppedSinceNote) {
          const std::string note = "dropped " + std::to_string(droppedSinceNote) + " blocks";
          // The queue keeps room for this last note beyond its bound.
          put(platform::wallClockMicroseconds(), kApiChannel, Kind::kNote, kNoDirection, 0, note.data(), note.size());
          droppedSinceNote = 0;
        }
        pending.swap(spare);
        count = appended;
        woken = false;
      }
      writeBatch(*spare);
      written.store(count);
      if (stopping) break;
    }
    writeOut();
    if (file) platform::fileClose(file);
    file = nullptr;
  }
};

Recorder::Recorder(const std::string &path, uint64_t maxBytes) : path_(path), impl_(std::make_unique<Impl>(maxBytes)) {
  Impl &m = *impl_;
  // New only: an existing file is never overwritten; "path.1" is the older
  // generation of a rotation, so the free numbers start at 2.
  bool created = m.create(path);
  for (int n = 2; !created && n <= kLastFreeNumber; ++n) created = m.create(path + "." + std::to_string(n));
  if (created) {
    m.headerBytes = m.fileBytes;
    m.writeOut();
    ScopedLock hold(m.lock);
    m.fileName = m.path;
  }
  m.writer =
      std::make_unique<WorkerThread>(kWriterStack, kPriorityNormal, [this](WorkerThread &self) { impl_->run(self); });
  m.writer->resume();
}

Recorder::~Recorder() {
  impl_->writer->stop();
  impl_->wake.set();
  impl_->writer->join();
}

uint32_t Recorder::openChannel(const std::string &ifName, const std::string &description) {
  const uint64_t micros = platform::wallClockMicroseconds();
  const std::string text = "open " + ifName;
  ScopedLock hold(impl_->lock);
  const uint32_t channel = impl_->nextChannel++;
  impl_->channels[channel] = Impl::Channel{ifName, description};
  impl_->append(micros, channel, Kind::kOpen, kNoDirection, 0, text.data(), text.size());
  return channel;
}

void Recorder::closeChannel(uint32_t channel, const std::string &text) {
  this->text(channel, Kind::kClose, kNoDirection, 0, text);
  flush(kCloseFlushMs);
}

void Recorder::record(uint32_t channel, Kind kind, uint32_t direction, uint32_t detail, const void *payload,
                      size_t length) {
  const uint64_t micros = platform::wallClockMicroseconds();
  ScopedLock hold(impl_->lock);
  impl_->append(micros, channel, kind, direction, detail, payload, length);
}

bool Recorder::flush(int timeoutMs) {
  uint64_t target = 0;
  {
    ScopedLock hold(impl_->lock);
    target = impl_->appended;
  }
  impl_->wake.set();
  const uint32_t start = platform::tickCount();
  while (impl_->written.load() < target) {
    if (platform::tickCount() - start >= uint32_t(timeoutMs)) return false;
    platform::sleepMs(2);
  }
  return true;
}

std::string Recorder::file() const {
  ScopedLock hold(impl_->lock);
  return impl_->fileName;
}

uint64_t Recorder::dropped() const {
  ScopedLock hold(impl_->lock);
  return impl_->droppedTotal;
}

struct Recorders::Impl {
  Mutex lock;
  std::shared_ptr<Recorder> recorder;
};

Recorders::Recorders() : impl_(std::make_unique<Impl>()) {}

Recorders::~Recorders() { stop(); }

std::shared_ptr<Recorder> current() {
  if (!g_on.load(std::memory_order_relaxed)) return nullptr;
  Recorders::Impl &r = recorders().impl();
  ScopedLock hold(r.lock);
  return r.recorder;
}

std::shared_ptr<Recorder> forOpen() {
  const Wanted w = wanted();
  Recorders::Impl &r = recorders().impl();
  std::shared_ptr<Recorder> retired;  // ended outside the lock: its writer finishes the file
  std::shared_ptr<Recorder> result;
  {
    ScopedLock hold(r.lock);
    // Only the static's own reference left: no device records to it any more.
    const bool idle = r.recorder && r.recorder.use_count() == 1;
    if (idle && r.recorder->wantedPath() != w.path) {
      retired = std::move(r.recorder);
      g_on = false;
    }
    if (!w.path.empty()) {
      if (!r.recorder) {
        r.recorder = std::make_shared<Recorder>(w.path, w.maxBytes);
        if (!w.problem.empty()) r.recorder->text(Recorder::kApiChannel, Kind::kNote, kNoDirection, 0, w.problem);
        g_on = true;
      }
      result = r.recorder;
    }
  }
  return result;
}

void stop() {
  Recorders::Impl &r = recorders().impl();
  std::shared_ptr<Recorder> retired;
  {
    ScopedLock hold(r.lock);
    retired = std::move(r.recorder);
    g_on = false;
  }
}

bool on() { return g_on.load(std::memory_order_relaxed); }

void apiCall(const std::string &text) {
  if (auto r = current()) r->text(Recorder::kApiChannel, Kind::kApiCall, kOutbound, 0, text);
}

void notification(const std::string &text) {
  if (auto r = current()) r->text(Recorder::kApiChannel, Kind::kNotification, kInbound, 0, text);
}

}  // namespace vel::trace
