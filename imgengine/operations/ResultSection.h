// The result section of an operation response: barcode records and a closing
// timing record, each acknowledged with one byte (1 = go on, 0 = stop).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ByteStream.h"
#include "operations/ResultStore.h"

namespace vel {

// The receiving side of a result section, called in the order of the records.
class ResultSlots {
 public:
  virtual ~ResultSlots() = default;
  virtual bool shouldStop() = 0;
  virtual void resultsBegin() = 0;
  virtual void resultType(int type) = 0;
  virtual void resultIsConfiguration() = 0;
  virtual void resultCorners(const int32_t (&corners)[kCornerValues]) = 0;
  virtual void resultTime(uint32_t ticks) = 0;
  virtual void resultData(const uint8_t* bytes, size_t length) = 0;
  virtual void resultEnd() = 0;
  // Tick counts of the capture, the auto-exposure run and the image processing.
  virtual void timings(uint32_t capture, uint32_t autoExposure, uint32_t processing) = 0;
  // Called once on every way out of the section.
  virtual void resultsEnd() = 0;
};

// Reads one result section. Answers true when it ended with its timing record;
// false when a read failed or the slots asked to stop, after which the caller
// skips the rest of the response.
bool ReadResultSection(ByteStream& stream, ResultSlots& slots);

}  // namespace vel
