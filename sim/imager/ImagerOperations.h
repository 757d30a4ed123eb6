// The simulated imager's long transfers: it answers the capture and
// previous-image commands (codes 4, 6, 16, 17, 27) of its ImagerCommands on the
// command channel, and sends trigger transfers on the event channel, both built
// from the current Scene and paced by the host's acknowledgements.
//
//   sim::ImagerOperations ops(commands);   // installs itself as the long-response handler
//   ops.setScene(scene);
//   ops.pullTrigger(0x05);                 // returns when the transfer has ended
//   ops.control().stall(sim::Channel::Command, 100, -1);  // faults for the next transfer
//
// A trigger transfer may run while a host transfer runs: each uses its own
// channel. Destroy the operations before their ImagerCommands, and after every
// thread that pulls the trigger has returned. Destruction ends stalls and
// acknowledgement waits; a transfer blocked in a link write (the host stopped
// reading) ends only when the link shuts down, so shut the link down first.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "imager/ImagerCommands.h"
#include "imager/ImagerResponses.h"
#include "imager/ImagerScene.h"
#include "imager/ResponseStream.h"

namespace sim {

struct TransferReport {
  Channel channel = Channel::Command;
  uint8_t code = 0;   // the command code; 4 (the event message type) for a trigger transfer
  uint8_t flags = 0;  // the operation flags the response followed (0x02 binary-only, 0x04 grey-only)
  TransferEnd end = TransferEnd::Completed;
  size_t bytes = 0;           // response bytes written, after the event message head of a trigger
  std::vector<uint8_t> acks;  // the host's acknowledgement bytes, in order
};

// The fields of the last windowed previous-grey request (code 27): the window
// is x, y, width, height of the last image, log2Step its subsampling (1 << log2Step).
struct WindowRequest {
  uint8_t log2Step = 0;
  std::array<uint16_t, 4> window{};
};

class ImagerOperations {
 public:
  explicit ImagerOperations(ImagerCommands& commands);
  ~ImagerOperations();
  ImagerOperations(const ImagerOperations&) = delete;
  ImagerOperations& operator=(const ImagerOperations&) = delete;

  // The content of the following transfers; the grey pixels are padded or cut to width x height.
  void setScene(Scene scene);
  // Takes a new picture for every capture and trigger transfer (the scene the
  // following previous-image requests send again); empty: the scene set last.
  void setCaptureSource(std::function<Scene()> source);
  // Grey bytes per block of the length-prefixed grey form (0 = the block size).
  void setGreyBlockLength(uint32_t length);
  // Stalls, cuts, piece size and the acknowledgement timeout.
  TransferControl& control() { return control_; }

  // Sends the event message (type 4, then the flags byte) and a full operation
  // response with these flags on the event channel; returns when it has ended.
  TransferReport pullTrigger(uint8_t flags);

  // Transfers that have ended, in the order they ended.
  std::vector<TransferReport> transfers() const;
  // Waits until at least count transfers have ended.
  bool waitForTransfers(size_t count, int timeoutMs) const;
  WindowRequest lastWindow() const;

 private:
  void answer(uint8_t code, const std::vector<uint8_t>& fields, ImagerPort& in, ImagerPort& out);
  std::shared_ptr<const Scene> scene() const;
  // A new picture from the capture source, if there is one, then the current scene.
  std::shared_ptr<const Scene> capture();
  ResponseLimits limits() const;
  void finished(TransferReport report);

  ImagerCommands& commands_;
  const uint32_t blockSize_;
  TransferControl control_;
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::shared_ptr<const Scene> scene_;
  std::function<Scene()> captureSource_;
  uint32_t greyBlockLength_ = 0;
  std::vector<TransferReport> transfers_;
  WindowRequest window_;
};

}  // namespace sim
