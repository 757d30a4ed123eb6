// The configuration record's readers: the tagged stream and the fixed block as the
// imager answers a configuration request, configuration payloads and whole
// configuration barcodes as decoded data brings them.
#include "DeviceBytes.h"
#include "config/DeviceConfiguration.h"
#include "operations/ConfigurationBarcode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);
  vel::DeviceConfiguration record{};
  vel::ApplyFactoryDefaults(record);
  const uint8_t mode = in.byte();
  switch (mode % 4) {
    case 0: {
      fuzz::DeviceBytes stream(in.rest(), in.restSize());
      vel::ReadTaggedConfiguration(stream, record);
      break;
    }
    case 1: {
      fuzz::DeviceBytes stream(in.rest(), in.restSize());
      vel::ReadFixedConfiguration(stream, record);
      break;
    }
    case 2:
      vel::ApplyConfigurationPayload(record, in.rest(), in.restSize());
      break;
    default: {
      const int type = in.byte();
      vel::ApplyConfigurationBarcode(record, type, in.rest(), in.restSize());
      break;
    }
  }
  // What was read must encode again within its bounds.
  uint8_t block[vel::kFixedBlockBytes];
  vel::ToFixedBlock(record, block);
  uint8_t tag[vel::kMaxTagPayload];
  for (int t = 0; t <= 25; ++t) vel::EncodeTag(record, t, tag);
  return 0;
}
