#include "LibraryState.h"

#include <algorithm>
#include <cstring>

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
      // The watcher polls for the imager's USB devices (10,000-byte stack, priority 0).
      // While it runs it holds a reference on the module that contains it, and it ends
      // by dropping that reference and exiting in one step: the library is not unmapped
      // under a running watcher, and unload never has to wait for a thread's exit (which
      // inside the platform's unload notification would wait on the loader lock it holds).
      usbWatcher(std::make_unique<WorkerThread>(10000, 15000000, [this](WorkerThread& self) {
        void* pin = platform::modulePinForThread();
        runUsbWatcher(self, usbWatch);
        platform::threadExitReleasingModule(pin);
      })) {}

void LibraryState::startUsbWatcher() {
  if (watcherStarted.exchange(1) == 0) usbWatcher->resume();
}

LibraryState::~LibraryState() {
  if (watcherStarted) {
    usbWatcher->stop();
    usbWatcher->join();
  }
}

}  // namespace vel
