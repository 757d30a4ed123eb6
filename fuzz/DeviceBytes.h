// The fuzzer's bytes as what a device sends: a ByteStream whose reads take the
// bytes in order (any thread) and fail once they are used up, as a line that
// times out; writes are accepted and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "base/ByteStream.h"
#include "FuzzCursor.h"

namespace fuzz {

class DeviceBytes : public vel::ByteStream {
 public:
  DeviceBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool failed() const override {
    std::lock_guard<std::mutex> hold(lock_);
    return failed_;
  }
  void read(void* buffer, size_t length, int) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (failed_ || length > size_ - position_) {
      failed_ = true;
      return;
    }
    std::memcpy(buffer, data_ + position_, length);
    position_ += length;
  }
  void write(const void*, size_t, int) override {}
  void flush() override {}
  void abort() override {
    std::lock_guard<std::mutex> hold(lock_);
    failed_ = true;
  }
  void reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    failed_ = false;
  }

 private:
  mutable std::mutex lock_;
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace fuzz
