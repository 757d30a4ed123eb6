#include "operations/HostOperation.h"

#include "image/TimestampRecord.h"

namespace vel {

namespace {
constexpr uint8_t kCaptureTimestampArgument = 1;
}

HostOperation::HostOperation(const OperationTargets& targets, Mutex& transferLock, CommandLock& commandLock)
    : Operation(OperationKind::Host, targets), transferLock_(transferLock), commandLock_(commandLock) {
  startWorker();
}

HostOperation::~HostOperation() {
  stopWorker();
  // A request the worker never took leaves nothing reserved behind.
  commandLock_.dropReservation();
}

void HostOperation::accept(const Request& request) {
  request_ = request;
  commandLock_.reserve();
  wake();
}

void HostOperation::serve() {
  const Request request = request_;
  ScopedLock transfer(transferLock_);
  commandLock_.takeReserved();
  if (request.kind == RequestKind::Capture) refreshTimestampRecord(kCaptureTimestampArgument);
  const bool aborted = runTransfer(request);
  postProgress(100, aborted ? kEventAborted : kEventDone);
  commandLock_.unlock();
}

}  // namespace vel
