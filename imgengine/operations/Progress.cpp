#include "operations/Progress.h"

#include <string>

#include "base/trace/Recorder.h"

namespace vel {

void ProgressTargets::postProgress(int percent, int event) {
  status_ = static_cast<uint16_t>((event << 8) | (percent & 0xFF));
  post(kWmOperationProgress, static_cast<uintptr_t>(percent), event);
}

void ProgressTargets::postConfigurationChanged(int reason) {
  post(kWmConfigurationChanged, static_cast<uintptr_t>(reason), 0);
}

void ProgressTargets::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // A configuration change still waiting says all that a repeat would (every capture
  // may report new exposure values): a thread that takes only progress must not fill up.
  const auto posting =
      message == kWmConfigurationChanged ? platform::Posting::kUnlessWaiting : platform::Posting::kAlways;
  bool posted = false;
  if (platform::Window window = window_.load())
    posted |= platform::postWindowMessage(window, message, wParam, lParam, posting);
  if (uint32_t thread = thread_.load()) posted |= platform::postThreadMessage(thread, message, wParam, lParam, posting);
  if (posted && trace::on()) {
    const char* name = message == kWmOperationProgress ? "WM_OPERATION_PROGRESS" : "WM_CONFIGURATION_CHANGED";
    trace::notification(std::string(name) + " " + std::to_string(wParam) + "," + std::to_string(lParam));
  }
}

}  // namespace vel
