#include "operations/TriggerOperation.h"

#include "image/TimestampRecord.h"

namespace vel {

TriggerOperation::TriggerOperation(const OperationTargets& targets, Mutex& transferLock)
    : Operation(OperationKind::Trigger, targets), transferLock_(transferLock) {
  startWorker();
}

TriggerOperation::~TriggerOperation() { stopWorker(); }

void TriggerOperation::accept(const Request& request) {
  if (request.kind != RequestKind::Capture) {
    runTransfer(request);
    return;
  }
  request_ = request;
  wake();
  done_.wait();
}

bool TriggerOperation::shouldStop() {
  if (pollCancel()) return true;
  if (!transferLock_.tryLock()) return true;
  transferLock_.unlock();
  return false;
}

void TriggerOperation::serve() {
  const Request request = request_;
  bool greyImageRead;
  {
    ScopedLock hold(configurationLock());
    greyImageRead = testBit(configuration().optionFlags, kOptCaptureGreyImage);
  }
  refreshTimestampRecord(greyImageRead ? 1 : 0);
  const bool aborted = runTransfer(request);
  postProgress(100, aborted ? kEventAborted : greyImageRead ? kEventTriggerDoneWithGreyImage : kEventDone);
  done_.set();
}

}  // namespace vel
