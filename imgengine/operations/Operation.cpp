#include "operations/Operation.h"

namespace vel {

Operation::Operation(OperationKind kind, const OperationTargets& targets)
    : kind_(kind),
      targets_(targets),
      receiver_(*this, targets.results, targets.configuration),
      images_(createImageSlots(*this, targets.images, targets.configuration)) {
  targets_.watchdog.open(kind_);
  worker_ = std::make_unique<WorkerThread>(kWorkerStack, kWorkerPriority,
                                           [this](WorkerThread& self) { workerLoop(self); });
}

Operation::~Operation() { stopWorker(); }

void Operation::stopWorker() {
  abortTransfers();
  worker_->stop();
  wake_.set();
  worker_->join();
}

void Operation::workerLoop(WorkerThread& self) {
  for (;;) {
    wake_.wait();
    if (self.stopRequested()) break;
    serve();
  }
  workerLeaving();
}

void Operation::beginCapture(ByteStream& stream, uint8_t flags, int32_t blockSize) {
  accept(Request{RequestKind::Capture, &stream, flags, blockSize, false});
}

void Operation::beginPreviousBinary(ByteStream& stream, int32_t blockSize) {
  accept(Request{RequestKind::PreviousBinary, &stream, 0, blockSize, false});
}

void Operation::beginPreviousGrey(ByteStream& stream, int32_t blockSize) {
  accept(Request{RequestKind::PreviousGrey, &stream, 0, blockSize, false});
}

void Operation::beginPreviousGreyEx(ByteStream& stream, int32_t blockSize, bool compressed) {
  accept(Request{RequestKind::PreviousGreyEx, &stream, 0, blockSize, compressed});
}

void Operation::setClassification(int processorType, int sensorType) {
  receiver_.setProcessorType(processorType);
  images_->setSensorType(sensorType);
}

void Operation::exposureReport(uint16_t gain, uint16_t integrationTime, uint8_t illumination) {
  {
    ScopedLock hold(configurationLock());
    DeviceConfiguration changed = targets_.configuration;
    changed.gain = gain;
    changed.integrationTime = integrationTime;
    changed.illuminationSetting = illumination;
    targets_.configuration = changed;
  }
  postConfigurationChanged(kChangedExposure);
}

void Operation::presentationMode(bool on) {
  {
    ScopedLock hold(configurationLock());
    if (testBit(targets_.configuration.optionFlags, kOptPresentationMode) == on) return;
    DeviceConfiguration changed = targets_.configuration;
    putBit(changed.optionFlags, kOptPresentationMode, on);
    targets_.configuration = changed;
  }
  postConfigurationChanged(kChangedSettings);
}

bool Operation::pollCancel() {
  targets_.watchdog.polled(kind_);
  return cancel_.load();
}

bool Operation::runTransfer(const Request& request) {
  cancel_ = false;
  images_->beginRun();
  ByteStream& stream = *request.stream;
  if (targets_.watchdog.begin(kind_, stream)) parse(request);
  targets_.watchdog.end(kind_);
  const bool broken = stream.failed();
  if (broken) {
    if (DeviceConnection* connection = connection_.load()) connection->setError();
  }
  return shouldStop() || broken || images_->rejected();
}

void Operation::parse(const Request& r) {
  switch (r.kind) {
    case RequestKind::Capture: ReadOperationResponse(*r.stream, r.flags, r.blockSize, *this); break;
    case RequestKind::PreviousBinary: ReadBinaryOnlyResponse(*r.stream, r.blockSize, *this); break;
    case RequestKind::PreviousGreyEx:
      setCompressed(r.compressed);
      ReadGreyOnlyResponse(*r.stream, r.blockSize, *this);
      break;
    case RequestKind::PreviousGrey: ReadGreyOnlyResponse(*r.stream, r.blockSize, *this); break;
  }
}

}  // namespace vel
