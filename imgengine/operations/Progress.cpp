#include "operations/Progress.h"

namespace vel {

void ProgressTargets::postProgress(int percent, int event) {
  status_ = static_cast<uint16_t>((event << 8) | (percent & 0xFF));
  post(kWmOperationProgress, static_cast<uintptr_t>(percent), event);
}

void ProgressTargets::postConfigurationChanged(int reason) {
  post(kWmConfigurationChanged, static_cast<uintptr_t>(reason), 0);
}

void ProgressTargets::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (platform::Window window = window_.load()) platform::postWindowMessage(window, message, wParam, lParam);
  if (uint32_t thread = thread_.load()) platform::postThreadMessage(thread, message, wParam, lParam);
}

}  // namespace vel
