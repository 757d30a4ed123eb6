// A ByteStream over memory for tests: reads come from `input`, writes go to
// `output`. Reading past the end of the input fails the stream, as a link
// timeout would.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/ByteStream.h"

class MemoryStream : public vel::ByteStream {
 public:
  explicit MemoryStream(std::vector<uint8_t> in = {}) : input(std::move(in)) {}

  bool failed() const override { return failed_; }
  void read(void* buffer, size_t length, int) override {
    if (failed_) return;
    if (length > input.size() - position) {
      failed_ = true;
      return;
    }
    std::memcpy(buffer, input.data() + position, length);
    position += length;
    ++reads;
  }
  void write(const void* buffer, size_t length, int) override {
    if (failed_) return;
    const auto* p = static_cast<const uint8_t*>(buffer);
    output.insert(output.end(), p, p + length);
  }
  void flush() override { ++flushes; }
  void abort() override { failed_ = true; }
  void reset() override { failed_ = false; }

  std::vector<uint8_t> input;
  size_t position = 0;
  std::vector<uint8_t> output;
  int flushes = 0;
  int reads = 0;

 private:
  bool failed_ = false;
};
