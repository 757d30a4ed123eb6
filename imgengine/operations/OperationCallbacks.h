// What a receiver needs from the operation it runs in: whether the transfer is
// to stop, and where its notifications go. The operation routes them to the
// registered progress window and thread.
#pragma once

namespace vel {

// Event codes of an operation's progress notification.
enum OperationEvent : int {
  kEventDone = 1,
  kEventAborted = 2,
  kEventResultsProgress = 3,
  kEventBinaryImageProgress = 4,
  kEventGreyImageProgress = 5,
  kEventResultsReady = 6,
  kEventBinaryImageReady = 7,
  kEventGreyImageReady = 8,
  kEventTriggerDoneWithGreyImage = 9,
};

// Reasons of a configuration-changed notification.
enum ConfigurationChange : int {
  kChangedExposure = 1,
  kChangedSettings = 2,  // presentation mode, or a configuration barcode applied
};

class OperationCallbacks {
 public:
  virtual ~OperationCallbacks() = default;
  virtual bool shouldStop() = 0;
  virtual void postProgress(int percent, OperationEvent event) = 0;
  virtual void postConfigurationChanged(ConfigurationChange reason) = 0;
};

}  // namespace vel
