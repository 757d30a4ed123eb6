// Image sections are not received yet: the binary run-length and grey image
// builders come next. Until then a response that carries an image section cannot
// be followed to its end, so the section abandons the transfer: it aborts the
// stream (nothing after it is misread as the next answer), the operation marks
// the communication error and the run ends Aborted. Responses without image
// sections (decode results only) are unaffected.
#include "operations/ImageSlots.h"

namespace vel {

namespace {

class UnbuiltImageSlots : public ImageSlots {
 public:
  void setSensorType(int) override {}
  bool readBinarySection(ByteStream& stream, uint16_t, uint16_t, int32_t) override { return abandon(stream); }
  bool readGreySection(ByteStream& stream, uint16_t, uint16_t, bool, uint32_t, int32_t) override {
    return abandon(stream);
  }

 private:
  static bool abandon(ByteStream& stream) {
    stream.abort();
    return false;
  }
};

}  // namespace

std::unique_ptr<ImageSlots> createImageSlots(OperationCallbacks&) { return std::make_unique<UnbuiltImageSlots>(); }

}  // namespace vel
