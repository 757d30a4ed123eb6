// The result slots of an operation: fills the operation's own store while a
// section is received, applies configuration barcodes to the host record, and
// publishes the finished store into the shared results unless the transfer is
// being stopped.
#pragma once

#include "config/DeviceConfiguration.h"
#include "operations/OperationCallbacks.h"
#include "operations/ResultSection.h"
#include "operations/ResultStore.h"

namespace vel {

class ResultReceiver : public ResultSlots {
 public:
  ResultReceiver(OperationCallbacks& callbacks, SharedResults& shared, DeviceConfiguration& configuration)
      : callbacks_(callbacks), shared_(shared), configuration_(configuration) {}

  // Decides how tick counts become times (0 and 1 are known; any other type
  // leaves the times unwritten).
  void setProcessorType(int processorType) { processorType_ = processorType; }
  const ResultStore& store() const { return store_; }

  bool shouldStop() override { return callbacks_.shouldStop(); }
  void resultsBegin() override;
  void resultType(int type) override;
  void resultIsConfiguration() override { configurationMark_ = true; }
  void resultCorners(const int32_t (&corners)[kCornerValues]) override;
  void resultTime(uint32_t ticks) override;
  void resultData(const uint8_t* bytes, size_t length) override;
  void resultEnd() override;
  void timings(uint32_t capture, uint32_t autoExposure, uint32_t processing) override;
  void resultsEnd() override;

 private:
  // Writes the scaled time unless the processor type has no scale.
  void scaleInto(int32_t& field, uint32_t ticks) const;

  OperationCallbacks& callbacks_;
  SharedResults& shared_;
  DeviceConfiguration& configuration_;
  int processorType_ = 0;
  ResultStore store_;
  // The barcode being received, started afresh by its type; a full store drops
  // it at its end.
  BarcodeResult current_;
  bool configurationMark_ = false;
};

}  // namespace vel
