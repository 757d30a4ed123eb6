// The one seam through which the transports reach their devices: serial lines
// and the imager's USB driver device files, opened by name, driven with
// overlapped requests. Production goes to the platform layer; a simulator may
// install its own provider (tests, benchmarks, the command-line tool).
#pragma once

#include <cstdint>
#include <memory>

#include "base/Sync.h"
#include "platform/Serial.h"

namespace vel::devices {

using platform::IoStart;
using platform::LineFormat;
using platform::SerialSettings;
constexpr uint32_t kLineCts = platform::kLineCts;
constexpr uint32_t kLineDsr = platform::kLineDsr;
constexpr uint32_t kLineBreak = platform::kLineBreak;
constexpr uint32_t kLineError = platform::kLineError;
constexpr uint32_t kModemCtsOn = platform::kModemCtsOn;
constexpr uint32_t kModemDsrOn = platform::kModemDsrOn;

// An overlapped operation record: the manual-reset event that a request's
// completion signals, and the platform's record bound to it. A provider other
// than the platform keeps its own account of the requests, by record, and
// signals event() when one completes.
class Operation {
 public:
  Operation();
  ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  Event& event() { return event_; }
  platform::IoOperation* native() { return native_; }

 private:
  Event event_{true, false};
  platform::IoOperation* native_;
};

// An open serial line or driver device; destruction closes it.
class DeviceFile {
 public:
  virtual ~DeviceFile() = default;
  virtual IoStart read(void* buffer, uint32_t length, Operation& op) = 0;
  virtual IoStart write(const void* data, uint32_t length, Operation& op) = 0;
  // Result without waiting: false when the request failed or has not completed.
  virtual bool result(Operation& op, uint32_t* transferred) = 0;
  // Cancels the calling thread's pending requests and returns once op has ended,
  // so that its buffer and record are free again.
  virtual void cancel(Operation& op) = 0;
};

class SerialLine : public DeviceFile {
 public:
  // Queue sizes, port state, purge, timeouts, event mask, in that order.
  virtual bool configure(const SerialSettings& settings) = 0;
  virtual bool setBaudRate(uint32_t baud) = 0;
  // The character framing over the line's current state.
  virtual bool setLineFormat(const LineFormat& format) = 0;
  virtual bool purge() = 0;
  virtual bool setBreak(bool on) = 0;
  // Overlapped wait for a line event; *mask receives kLine* bits and must stay valid.
  virtual IoStart waitEvent(uint32_t* mask, Operation& op) = 0;
  // The CTS and DSR levels (kModem* bits) as the line knows them now; false when
  // it cannot tell.
  virtual bool modemStatus(uint32_t*) { return false; }
  // The line's measured round trip (ms), which a wait for the far end's answer adds.
  virtual uint32_t roundTripMs() const { return 0; }
  // Brings a line whose connection was lost back into service; true when it is usable.
  virtual bool reconnect() { return true; }
};

class DriverDevice : public DeviceFile {
 public:
  virtual IoStart control(uint32_t code, const void* input, uint32_t inputLength, Operation& op) = 0;
};

class Provider {
 public:
  virtual ~Provider() = default;
  // Exclusive open, only if the name exists; null on failure.
  virtual std::unique_ptr<SerialLine> openSerial(const char* name) = 0;
  virtual std::unique_ptr<DriverDevice> openDevice(const char* name) = 0;
  // Presence probe without access rights; never conflicts with an exclusive open.
  virtual bool probeDevice(const char* name) = 0;
};

// The provider over the platform layer. Its one instance is a library static
// (core/LibraryStatics.cpp), in an order that keeps it alive until every library
// thread that probes or opens devices has ended.
class PlatformProvider : public Provider {
 public:
  std::unique_ptr<SerialLine> openSerial(const char* name) override;
  std::unique_ptr<DriverDevice> openDevice(const char* name) override;
  bool probeDevice(const char* name) override;
};
PlatformProvider& defaultProvider();

// Installs a provider (null restores the platform's). The provider must outlive
// every device it opened.
void setProvider(Provider* provider);
Provider& provider();

}  // namespace vel::devices
