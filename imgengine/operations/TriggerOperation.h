// The trigger operation: reads the transfers the imager sends on the event
// channel when its trigger is pulled. The connection's event reader hands each
// one over and waits until the worker has read it. A trigger transfer takes no
// lock; it yields to a host transfer at its next acknowledgement.
#pragma once

#include "base/Sync.h"
#include "operations/Operation.h"

namespace vel {

class TriggerOperation : public Operation {
 public:
  TriggerOperation(const OperationTargets& targets, Mutex& transferLock);
  ~TriggerOperation() override;

  // Stop when cancelled, or when another thread holds the transfer lock (a host
  // transfer runs), probed without waiting.
  bool shouldStop() override;

 private:
  // On the event reader: the worker reads a trigger transfer and this returns
  // when it has. Previous images, which only the command channel carries, are
  // read here on the caller.
  void accept(const Request& request) override;
  void serve() override;
  void workerLeaving() override { done_.set(); }

  Mutex& transferLock_;
  Request request_;  // written by the hand-off, read by the worker it wakes
  Event done_{false};
};

}  // namespace vel
