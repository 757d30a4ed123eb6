#include "LibraryState.h"

#include <algorithm>
#include <cstring>

#include "link/DeviceConnection.h"

namespace vel {

ProcessorType classifyProcessor(uint32_t v) { return v == 0 ? kProcessorMx1 : kProcessorSa1110; }

SensorType classifySensor(uint32_t v) {
  if ((v & 0xFF000000u) == 0x01000000u) return kSensorPicocam;
  if ((v & 0xFFFFFFF0u) == 0x7FA29640u) return kSensorOv9640;
  if ((v & 0xFFFFFFF0u) == 0x7FA29650u) return kSensorOv9650;
  return kSensorStandard;
}

int copyText(const char* text, int available, int maxLength, char* buffer) {
  if (maxLength <= 0 || available <= 0 || !buffer) return 0;
  const int n = std::min(available, maxLength);
  std::memcpy(buffer, text, static_cast<size_t>(n));
  return n;
}

LibraryState::LibraryState()
    : greyImage(kGreyImageBufferBytes),
      displayCopy(kGreyImageBufferBytes),
      binaryImage(kBinaryImageBufferBytes),
      // The watcher's loop polls for the imager's USB devices (10,000-byte stack, priority 0).
      usbWatcher(std::make_unique<WorkerThread>(10000, 15000000, [](WorkerThread& self) {
        while (!self.stopRequested()) self.stopEvent().waitTimedOut(100);
      })) {}

LibraryState::~LibraryState() {
  if (watcherStarted) {
    usbWatcher->stop();
    usbWatcher->join();
  }
}

}  // namespace vel
