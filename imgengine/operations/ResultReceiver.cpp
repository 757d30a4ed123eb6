#include "operations/ResultReceiver.h"

#include <algorithm>
#include <utility>

#include "config/ImagerIdentity.h"
#include "config/IntegrationTime.h"
#include "operations/ConfigurationBarcode.h"

namespace vel {

namespace {
const float kMsPerTickSa1110 = floatFromBits(0x3E8AE38E);  // 0.27126735 = 1/3.6864
}  // namespace

void ResultReceiver::scaleInto(int32_t& field, uint32_t ticks) const {
  using Wide = long double;
  if (processorType_ == kProcessorMx1) field = static_cast<int32_t>(ticks / 4);
  else if (processorType_ == kProcessorSa1110) field = static_cast<int32_t>(Wide(ticks) * Wide(kMsPerTickSa1110));
}

void ResultReceiver::resultsBegin() {
  store_.clear();
  callbacks_.postProgress(0, kEventResultsProgress);
}

void ResultReceiver::resultType(int type) {
  current_ = BarcodeResult{};
  current_.type = type;
  configurationMark_ = false;
}

void ResultReceiver::resultCorners(const int32_t (&corners)[kCornerValues]) {
  std::copy(corners, corners + kCornerValues, current_.corners);
}

void ResultReceiver::resultTime(uint32_t ticks) { scaleInto(current_.processingTime, ticks); }

void ResultReceiver::resultData(const uint8_t* bytes, size_t length) {
  current_.setData(bytes, length);
  if (!configurationMark_) return;
  bool applied = false;
  {
    ScopedLock hold(configurationLock());
    applied = ApplyConfigurationBarcode(configuration_, current_.type, bytes, length);
  }
  if (applied) callbacks_.postConfigurationChanged(kChangedSettings);
}

void ResultReceiver::resultEnd() {
  store_.add(std::move(current_));
  callbacks_.postProgress(0, kEventResultsProgress);
}

void ResultReceiver::timings(uint32_t capture, uint32_t autoExposure, uint32_t processing) {
  scaleInto(store_.captureTime, capture);
  scaleInto(store_.autoExposureTime, autoExposure);
  scaleInto(store_.imageProcessingTime, processing);
}

void ResultReceiver::resultsEnd() {
  if (callbacks_.shouldStop()) return;
  shared_.publish(store_);
  callbacks_.postProgress(0, kEventResultsReady);
}

}  // namespace vel
