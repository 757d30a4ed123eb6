// A numbered port of a link: input ports read, output ports write. Both start
// failed and come into service with reset(), which registers them with the link.
#pragma once

#include <atomic>
#include <memory>

#include "base/ByteStream.h"
#include "link/Link.h"

namespace vel {

class LinkBase;

class LinkPort : public ByteStream {
 public:
  LinkPort(LinkBase& registry, int number, bool input) : registry_(registry), number_(number), input_(input) {}
  using ByteStream::read;
  using ByteStream::write;
  bool failed() const override { return failed_.load(); }
  int number() const { return number_; }
  // The flush a PortPair's read does first. A writer on another thread that is
  // busy with the port at that moment owns its packet and flushes it itself.
  virtual void flushUnlessBusy() { flush(); }
  // Fails the port, takes it out of the link's table and wakes a read or write
  // waiting in it; nothing more when the port has failed already. Runs under the
  // link's registration lock, so that it and a reset come one after the other.
  void abort() final;
  // The pair's output port is about to write: the channel's next request goes out.
  virtual void requestWritten() {}

 protected:
  // Puts a null marker into each of the port's queues that is empty, so that a
  // waiting reader, writer or receiver wakes and finds the port failed.
  virtual void wakeWaiters() = 0;

  LinkBase& registry_;  // the link whose port table holds this port while it works
  std::atomic<bool> failed_{true};
  std::atomic<uint32_t> aborts_{0};  // every abort counts, also of a failed port
  const int number_;
  const bool input_;
};

// A PortPair over two link ports. A read first pushes out what the output port
// holds back (a packet link's partly filled packet), since the request it
// belongs to is what the read waits for.
class LinkPortPair : public PortPair {
 public:
  LinkPortPair(std::unique_ptr<LinkPort> input, std::unique_ptr<LinkPort> output);
  ~LinkPortPair() override;
  using PortPair::read;
  using PortPair::write;

  bool failed() const override { return input_->failed() || output_->failed(); }
  void read(void* buffer, size_t length, int timeoutMs) override;
  void write(const void* buffer, size_t length, int timeoutMs) override {
    input_->requestWritten();
    output_->write(buffer, length, timeoutMs);
  }
  void flush() override { output_->flush(); }
  void abort() override;
  void reset() override;

  LinkPort& input() { return *input_; }
  LinkPort& output() { return *output_; }

 private:
  std::unique_ptr<LinkPort> input_;
  std::unique_ptr<LinkPort> output_;
};

}  // namespace vel
