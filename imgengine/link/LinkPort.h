// A numbered port of a link: input ports read, output ports write. Both start
// failed and come into service with reset(), which registers them with the link.
#pragma once

#include <atomic>
#include <memory>

#include "base/ByteStream.h"
#include "link/Link.h"

namespace vel {

class LinkPort : public ByteStream {
 public:
  LinkPort(int number, bool input) : number_(number), input_(input) {}
  using ByteStream::read;
  using ByteStream::write;
  bool failed() const override { return failed_.load(); }
  int number() const { return number_; }
  bool isInput() const { return input_; }
  // The flush a PortPair's read does first. A writer on another thread that is
  // busy with the port at that moment owns its packet and flushes it itself.
  virtual void flushUnlessBusy() { flush(); }

 protected:
  std::atomic<bool> failed_{true};
  const int number_;
  const bool input_;
};

// A PortPair over two link ports. flushBeforeRead: a read first pushes out the
// output port's partly filled packet (packet links).
class LinkPortPair : public PortPair {
 public:
  LinkPortPair(std::unique_ptr<LinkPort> input, std::unique_ptr<LinkPort> output, bool flushBeforeRead);
  ~LinkPortPair() override;
  using PortPair::read;
  using PortPair::write;

  bool failed() const override { return input_->failed() || output_->failed(); }
  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override { output_->write(buffer, length, timeoutMs); }
  void flush() override { output_->flush(); }
  void abort() override;
  void reset() override;

  LinkPort& input() { return *input_; }
  LinkPort& output() { return *output_; }

 private:
  std::unique_ptr<LinkPort> input_;
  std::unique_ptr<LinkPort> output_;
  bool flushBeforeRead_;
};

}  // namespace vel
