// Waiting in tests for state another thread or process sets: poll the condition
// until it holds or a deadline passes. The deadline is generous (a loaded machine,
// a sanitizer, Wine); a condition that holds returns at once.
#pragma once

#include <chrono>
#include <thread>

constexpr int kEventuallyMs = 10000;

template <typename Condition>
bool eventually(Condition condition, int ms = kEventuallyMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
