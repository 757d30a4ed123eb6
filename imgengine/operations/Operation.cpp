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
  // A response handed over that the worker never took is no longer running.
  targets_.watchdog.end(kind_);
}

void Operation::workerLoop(WorkerThread& self) {
  for (;;) {
    wake_.wait();
    if (self.stopRequested()) break;
    serve();
  }
  workerLeaving();
}

void Operation::handOver(const Request& request) {
  cancel_ = false;
  targets_.watchdog.begin(kind_, *request.stream);
  accept(request);
}

void Operation::beginCapture(ByteStream& stream, uint8_t flags, int32_t blockSize) {
  handOver(Request{RequestKind::Capture, &stream, flags, blockSize, false});
}

void Operation::beginPreviousBinary(ByteStream& stream, int32_t blockSize) {
  handOver(Request{RequestKind::PreviousBinary, &stream, 0, blockSize, false});
}

void Operation::beginPreviousGrey(ByteStream& stream, int32_t blockSize) {
  handOver(Request{RequestKind::PreviousGrey, &stream, 0, blockSize, false});
}

void Operation::beginPreviousGreyEx(ByteStream& stream, int32_t blockSize, bool compressed) {
  handOver(Request{RequestKind::PreviousGreyEx, &stream, 0, blockSize, compressed});
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

void Operation::transferFailed() {
  transferFailed_ = true;
  postProgress(100, kEventAborted);
}

bool Operation::pollCancel() {
  targets_.watchdog.polled(kind_);
  return cancel_.load();
}

bool Operation::runTransfer(const Request& request) {
  images_->beginRun();
  transferFailed_ = false;
  ByteStream& stream = *request.stream;
  // A slot closed since the hand-over has aborted the stream: nothing is read.
  if (!targets_.watchdog.closed(kind_)) parse(request);
  targets_.watchdog.end(kind_);
  const bool broken = stream.failed();
  if (broken) {
    if (DeviceConnection* connection = connection_.load()) connection->setError();
  }
  return shouldStop() || broken || transferFailed_ || images_->rejected();
}

void Operation::parse(const Request& r) {
  switch (r.kind) {
    case RequestKind::Capture: ReadOperationResponse(*r.stream, r.flags, r.blockSize, *this); break;
    case RequestKind::PreviousBinary: ReadBinaryOnlyResponse(*r.stream, r.blockSize, *this); break;
    case RequestKind::PreviousGreyEx:
      setCompressed(r.compressed);
      ReadGreyOnlyResponse(*r.stream, r.blockSize, r.compressed, *this);
      break;
    case RequestKind::PreviousGrey: ReadGreyOnlyResponse(*r.stream, r.blockSize, isCompressed(), *this); break;
  }
}

}  // namespace vel
