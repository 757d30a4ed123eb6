// The operation response as the imager sends it, through the receivers a running
// operation uses: the envelope (status byte, exposure report, sizes), result
// sections into a result store and the shared results, configuration barcodes
// into the record, image sections into the image slots and the shared image buffers. The leading bytes choose
// the response form, the operation flags, the block size and the imager's
// classification.
#include <atomic>

#include "DeviceBytes.h"
#include "operations/ImageSlots.h"
#include "operations/OperationResponse.h"
#include "operations/ResultReceiver.h"

namespace {

// The shared image buffers, as the library allocates them once.
vel::SharedImages& sharedImages() {
  static vel::SharedImages images;
  return images;
}

class Receivers : public vel::OperationCallbacks, public vel::ResponseSlots {
 public:
  Receivers() : receiver_(*this, shared_, record_), images_(vel::createImageSlots(*this, sharedImages(), record_)) {
    vel::ApplyFactoryDefaults(record_);
  }
  void classify(int processorType, int sensorType) {
    receiver_.setProcessorType(processorType);
    images_->setSensorType(sensorType);
  }

  // OperationCallbacks
  bool shouldStop() override { return false; }
  void postProgress(int percent, vel::OperationEvent) override {
    if (percent < 0 || percent > 100) __builtin_trap();  // a progress outside 0..100 is a fault
  }
  void postConfigurationChanged(vel::ConfigurationChange) override {}

  // ResponseSlots
  void exposureReport(uint16_t gain, uint16_t, uint8_t) override { record_.gain = gain; }
  void presentationMode(bool) override {}
  void setCompressed(bool on) override { compressed_ = on; }
  bool isCompressed() override { return compressed_; }
  void transferFailed() override {}
  vel::ResultSlots& results() override { return receiver_; }
  vel::ImageSlots& images() override { return *images_; }

  // Every published barcode is read back whole.
  void readBack() {
    shared_.read([](const vel::ResultStore& store) {
      uint8_t copy[vel::kMaxBarcodeData];
      for (int i = 0; i < store.count(); ++i) store.copyData(i, sizeof copy, copy);
      return 0;
    });
  }

 private:
  vel::SharedResults shared_;
  vel::DeviceConfiguration record_{};
  vel::ResultReceiver receiver_;
  std::unique_ptr<vel::ImageSlots> images_;
  bool compressed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  const uint8_t form = in.byte();
  const uint8_t flags = in.byte();
  const uint8_t classification = in.byte();
  // Block sizes from 1 byte up to 64 KiB, as the imager's answer to the block-size request.
  const int32_t blockSize = 1 + in.le16();
  Receivers receivers;
  receivers.classify(classification & 3, (classification >> 2) & 3);
  fuzz::DeviceBytes stream(in.rest(), in.restSize());
  switch (form % 3) {
    case 0:
      vel::ReadOperationResponse(stream, flags, blockSize, receivers);
      break;
    case 1:
      vel::ReadBinaryOnlyResponse(stream, blockSize, receivers);
      break;
    default:
      vel::ReadGreyOnlyResponse(stream, blockSize, (form & 0x80) != 0, receivers);
      break;
  }
  receivers.readBack();
  return 0;
}
