// The host operation: reads the long responses of the host's own requests
// (captures and previous images) on its worker. The export that wrote the
// request hands the command channel over and returns at once; the worker takes
// the transfer lock, then the command lock that the hand-off reserved for it,
// and holds both until the response has been read.
#pragma once

#include "base/Sync.h"
#include "connection/CommandLock.h"
#include "operations/Operation.h"

namespace vel {

class HostOperation : public Operation {
 public:
  HostOperation(const OperationTargets& targets, Mutex& transferLock, CommandLock& commandLock);
  ~HostOperation() override;

  // Stopping is asked for by a cancel only.
  bool shouldStop() override { return pollCancel(); }

 private:
  // Called under the command lock: stores the request, reserves the lock for the
  // worker, wakes it and returns.
  void accept(const Request& request) override;
  void serve() override;

  Mutex& transferLock_;
  CommandLock& commandLock_;
  Request request_;  // written by the hand-off, read by the worker it wakes
};

}  // namespace vel
