#include "link/LinkPort.h"

namespace vel {

LinkPortPair::LinkPortPair(std::unique_ptr<LinkPort> input, std::unique_ptr<LinkPort> output)
    : input_(std::move(input)), output_(std::move(output)) {}

LinkPortPair::~LinkPortPair() {
  // The output port goes first: its packets may still reference the input's link state.
  output_.reset();
  input_.reset();
}

void LinkPortPair::read(void* buffer, size_t length, int timeoutMs) {
  output_->flushUnlessBusy();
  input_->read(buffer, length, timeoutMs);
}

void LinkPortPair::abort() {
  input_->abort();
  output_->abort();
}

void LinkPortPair::reset() {
  input_->reset();
  output_->reset();
}

}  // namespace vel
