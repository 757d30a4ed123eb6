// The way of one long transfer to the host: fields written in the pieces the
// host reads them, the host's one-byte acknowledgements read back (1 = go on,
// 0 = stop), and the faults a test arms for the transfers of a channel.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "imager/ImagerPorts.h"

namespace sim {

enum class Channel { Command, Event };

enum class TransferEnd {
  Completed,          // everything was sent and acknowledged
  StoppedByHost,      // the host acknowledged with 0
  NoAcknowledgement,  // no acknowledgement came in time (or the link went away)
  Cut,                // a fault cut the transfer short
  ShutDown,           // the imager was shut down during the transfer
  Reset,              // the host reset the link: the transfer ended with its session
};

// Faults and limits shared by the transfers of an imager. A stall or a cut is
// armed for the next transfer on a channel that reaches it and fires once.
class TransferControl {
 public:
  // Every field is written in pieces of at most maxBytes (0 = each field in one
  // write); on the packet framing each piece is pushed out on its own.
  void setPieceSize(size_t maxBytes);
  // The transfer stops sending once it has written afterBytes bytes of its
  // response (counted from its first byte after the event message head) for ms
  // milliseconds, or until releaseStall when ms is negative (or the host resets the link).
  void stall(Channel channel, size_t afterBytes, int ms);
  void releaseStall();
  // Waits until a transfer on the channel holds at its stall point: the host has
  // taken (and acknowledged) everything before it.
  bool waitUntilStalled(Channel channel, int timeoutMs) const;
  // The barcode record with this index (0 = the first of a result section) ends
  // after its type byte: the transfer sends nothing more and onCut runs (for
  // example to fail or close the line).
  void cutBarcodeRecord(Channel channel, size_t index, std::function<void()> onCut = {});
  // How long a transfer waits for each acknowledgement.
  void setAckTimeout(int ms);
  // Ends stalls and acknowledgement waits at once; transfers then end as ShutDown.
  void shutDown();

  // Used by the transfers.
  size_t pieceSize() const;
  int ackTimeoutMs() const;
  bool shuttingDown() const;
  size_t bytesBeforeStall(Channel channel, size_t written) const;  // SIZE_MAX: none armed
  void holdStall(Channel channel, const std::function<bool()>& abandoned);
  bool takeCut(Channel channel, size_t index, std::function<void()>& onCut);

 private:
  struct Stall {
    bool armed = false;
    bool holding = false;
    size_t at = 0;
    int ms = 0;
  };
  struct Cut {
    bool armed = false;
    size_t index = 0;
    std::function<void()> onCut;
  };

  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  size_t pieceSize_ = 0;
  int ackTimeoutMs_ = 5000;
  bool shutDown_ = false;
  uint64_t releases_ = 0;
  Stall stalls_[2];
  Cut cuts_[2];
};

class ResponseStream {
 public:
  ResponseStream(ImagerPort& out, ImagerPort& acks, Channel channel, TransferControl& control);

  // One field as the host reads it. Each answers false once the transfer is over.
  bool put(const uint8_t* data, size_t length);
  bool put8(uint8_t value) { return put(&value, 1); }
  bool put16(uint16_t value);
  bool put32(uint32_t value);
  // Pushes out what was written and waits for the host's acknowledgement byte.
  bool acknowledged();
  // Ends the transfer here if a cut is armed for this barcode record.
  bool cutAt(size_t barcodeIndex);
  // Pushes out what is still buffered.
  void finish();

  TransferEnd end() const { return end_; }
  size_t bytes() const { return bytes_; }
  const std::vector<uint8_t>& acks() const { return acks_; }

 private:
  bool over(TransferEnd end);

  ImagerPort& out_;
  ImagerPort& in_;
  Channel channel_;
  TransferControl& control_;
  TransferEnd end_ = TransferEnd::Completed;
  bool over_ = false;
  size_t bytes_ = 0;
  std::vector<uint8_t> acks_;
};

}  // namespace sim
