// What the byte transports over an overlapped device file share: the fault flag,
// the opened file, one read and one write operation record each under its own
// lock, the write loop, the frame around a read, and abort. How a transport reads
// and how it recovers its line is its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/ByteStream.h"
#include "base/Sync.h"
#include "transport/DeviceSeam.h"

namespace vel {

class OverlappedTransport : public ByteStream {
 public:
  ~OverlappedTransport() override = default;
  OverlappedTransport(const OverlappedTransport&) = delete;
  OverlappedTransport& operator=(const OverlappedTransport&) = delete;

  using ByteStream::read;
  using ByteStream::write;
  bool failed() const final { return fault_.load() != 0; }
  // Under the read lock: nothing on a failed transport; otherwise receive(), and
  // the transport fails when that stopped short.
  void read(void* buffer, size_t length, int timeoutMs) final;
  // Under the write lock, in requests of at most the transport's write piece; the
  // transport fails when not everything went out.
  void write(const void* buffer, size_t length, int timeoutMs) final;
  // Fails the transport; a read or write waiting for its request wakes and leaves.
  void abort() final;

  bool opened() const { return file_ != nullptr; }

 protected:
  // Recovery attempts of a reset: few while the line has never been recovered
  // (on a serial line also after a modem-status change), more after a failure.
  static constexpr int kFirstResetAttempts = 3;
  static constexpr int kResetAttempts = 20;
  // Pause after a request that could not start, so that a caller retrying at once does not spin.
  static constexpr uint32_t kStartFailurePauseMs = 1;
  // What a reset of a transport without a device takes, so that a link retrying its resets does not spin.
  static constexpr uint32_t kUnopenedResetPauseMs = 50;

  // Whether a write request that the device accepted only in part ends the write
  // (and fails the transport) or the rest follows in the next request.
  enum class ShortWrites { kFail, kContinue };
  OverlappedTransport(uint32_t writePiece, ShortWrites shortWrites);

  // The derived class owns the file it opened (null: none) and closes it before
  // the operation records go, so that a request pending at closing ends on a live record.
  void attach(devices::DeviceFile* file) { file_ = file; }

  // Fills buffer through readRequest; answers how many of the wanted bytes are still missing.
  virtual size_t receive(uint8_t* buffer, size_t wanted, int timeoutMs) = 0;
  // One read request, waited for at most timeoutMs (a timeout fails the transport).
  // False when it did not start, failed, or the transport failed meanwhile.
  bool readRequest(void* buffer, uint32_t length, int timeoutMs, uint32_t* got);

  // First step of a reset: fails the transport; false (after a pause) when no device is open.
  bool beginReset();
  // Last step of a successful reset: the transport works again.
  void recovered() { fault_ = 0; }
  // Wakes a read or write waiting for its request, also on a transport that had failed already.
  void wakeTransfers();

 private:
  bool settle(devices::IoStart started, devices::Operation& op, int timeoutMs, uint32_t* transferred);

  std::atomic<uint8_t> fault_{1};
  devices::DeviceFile* file_ = nullptr;
  devices::Operation readOp_;
  devices::Operation writeOp_;
  Mutex readLock_;
  Mutex writeLock_;
  const uint32_t writePiece_;
  const ShortWrites shortWrites_;
};

}  // namespace vel
