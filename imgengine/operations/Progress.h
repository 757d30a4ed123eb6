// Where an operation's notifications go, and the status word they leave: each
// notification is posted to the registered window and to the registered thread
// (null or 0: none), never sent, so the worker never waits for the application.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Messages.h"

namespace vel {

constexpr uint32_t kWmOperationProgress = 0x0400 + 258;   // wParam percent, lParam event
constexpr uint32_t kWmConfigurationChanged = 0x0400 + 259;  // wParam reason, lParam 0

class ProgressTargets {
 public:
  void setWindow(platform::Window window) { window_ = window; }
  void setThread(uint32_t threadId) { thread_ = threadId; }

  // Posts WM_OPERATION_PROGRESS; the status becomes (event << 8) | (percent & 0xFF), 16 bits.
  void postProgress(int percent, int event);
  // Posts WM_CONFIGURATION_CHANGED; the status stays.
  void postConfigurationChanged(int reason);
  // The last progress posted; 0 before the first.
  uint16_t status() const { return status_.load(); }

 private:
  void post(uint32_t message, uintptr_t wParam, intptr_t lParam);

  std::atomic<platform::Window> window_{nullptr};
  std::atomic<uint32_t> thread_{0};
  std::atomic<uint16_t> status_{0};
};

}  // namespace vel
