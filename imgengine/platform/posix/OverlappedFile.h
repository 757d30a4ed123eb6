// Inside the POSIX device files: an overlapped request runs on a helper thread
// that signals the operation's event when done. Shared by DeviceFiles.cpp and
// Serial.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/DeviceFiles.h"

namespace vel::platform {

struct IoOperation {
  NativeEvent* event = nullptr;
  std::thread worker;
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  bool ok = false;
  uint32_t transferred = 0;
  uint32_t starter = 0;
};

struct NativeFile {
  int fd = -1;
  uint32_t eventMask = 0;
  std::mutex m;
  std::map<IoOperation*, bool> active;
};

// Starts work(op, &transferred) on op's helper thread; the result and the event
// follow when it returns. work polls op->cancel to end early.
IoStart startOn(NativeFile* f, IoOperation* op, std::function<bool(IoOperation*, uint32_t*)> work);

}  // namespace vel::platform
