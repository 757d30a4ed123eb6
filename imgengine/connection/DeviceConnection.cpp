#include "connection/DeviceConnection.h"

#include <cstring>

#include "config/ImagerIdentity.h"
#include "config/DeviceConfiguration.h"
#include "platform/Time.h"

namespace vel {

namespace {
constexpr int kLinkPriority = 29000000;
constexpr int kEventReaderPriority = 15000000;
constexpr size_t kEventReaderStack = 20000;
constexpr int kBlockSizeTimeoutMs = 5000;
constexpr uint32_t kCheckLinkValue = 13;
}  // namespace

DeviceConnection::DeviceConnection(ByteStream& transport, OperationSink* eventReceiver, LinkKind kind)
    : eventReceiver_(eventReceiver) {
  eventReader_ = std::make_unique<WorkerThread>(kEventReaderStack, kEventReaderPriority,
                                                [this](WorkerThread& self) { runEventReader(self); });
  link_ = createLink(kind, transport, kLinkPriority);
  command_ = link_->openPortPair(0, 1);
  event_ = link_->openPortPair(2, 3);

  const uint8_t code = kCmdGetBlockSize;
  command_->write(&code, 1);
  int32_t size = -1;
  command_->read(&size, sizeof size, kBlockSizeTimeoutMs);
  if (finish()) size = -1;
  blockSize_ = size;

  eventReader_->resume();
  if (transport.failed()) setError();
}

DeviceConnection::~DeviceConnection() {
  const uint8_t close = kCmdClose;
  command_->write(&close, 1);
  command_->flush();
  platform::sleepMs(20);
  // The abort wakes a reader blocked in its read of the event channel.
  eventReader_->stop();
  event_->abort();
  eventReader_->join();
  event_.reset();
  command_->abort();
  command_.reset();
  link_.reset();
}

void DeviceConnection::setChannelTimeouts(int timeoutMs) {
  command_->setDefaultTimeout(timeoutMs);
  event_->setDefaultTimeout(timeoutMs);
}

bool DeviceConnection::finish() {
  if (!command_->failed()) return false;
  setError();
  return true;
}

void DeviceConnection::runEventReader(WorkerThread& self) {
  while (!self.stopRequested()) {
    uint8_t type = 0;
    event_->read(&type, 1, -1);
    if (self.stopRequested()) return;
    if (event_->failed()) {
      setError();
      return;
    }
    if (type != kEventOperation) continue;  // anything else is skipped
    uint8_t flags = 0;
    event_->read(&flags, 1);
    if (eventReceiver_ && !event_->failed()) eventReceiver_->beginCapture(*event_, flags, blockSize_);
  }
}

bool DeviceConnection::flushed(CommandCode code, const uint8_t* fields, size_t count) {
  const uint8_t c = code;
  command_->write(&c, 1);
  for (size_t i = 0; i < count; ++i) command_->write(&fields[i], 1);
  command_->flush();
  return finish();
}

template <typename T>
bool DeviceConnection::query(CommandCode code, const uint8_t* fields, size_t count, T& answer) {
  const uint8_t c = code;
  command_->write(&c, 1);
  for (size_t i = 0; i < count; ++i) command_->write(&fields[i], 1);
  command_->read(&answer, sizeof answer);
  return finish();
}

bool DeviceConnection::checkLink(bool& passed) {
  const uint8_t code = kCmdCheckLink;
  const uint32_t value = kCheckLinkValue;
  command_->write(&code, 1);
  command_->write(&value, sizeof value);
  uint32_t level = 0;
  uint8_t flag = 0;
  command_->read(&level, sizeof level);
  command_->read(&flag, 1);
  if (finish()) {
    passed = false;
    return true;
  }
  if (level == 17) fixedConfiguration_ = true;
  passed = level == 17 || level == 18 || flag != 0;
  return false;
}

bool DeviceConnection::getVersions(VersionRecord& v) {
  const uint8_t code = kCmdGetVersions;
  command_->write(&code, 1);
  uint32_t values[4] = {};
  for (uint32_t& value : values) command_->read(&value, sizeof value);
  uint8_t length = 0;
  command_->read(&length, 1);
  char text[255];
  command_->read(text, length);
  if (finish()) return true;
  v.visionProcessor = values[0];
  v.imageSensor = values[1];
  v.illuminationBoard = values[2];
  v.reserved = values[3];
  v.firmwareLength = length;
  std::memcpy(v.firmware, text, length);
  return false;
}

bool DeviceConnection::getConfiguration(DeviceConfiguration& record) {
  const uint8_t code = kCmdGetConfiguration;
  command_->write(&code, 1);
  ReadConfiguration(*command_, record, fixedConfiguration_);
  return finish();
}

bool DeviceConnection::setConfiguration(const DeviceConfiguration& record, bool permanent) {
  const uint8_t code = permanent ? kCmdSetPermanentConfiguration : kCmdSetTemporaryConfiguration;
  command_->write(&code, 1);
  WriteConfiguration(*command_, record, fixedConfiguration_);
  return finish();
}

bool DeviceConnection::setSensorRegister(uint8_t reg, uint8_t value) {
  const uint8_t f[] = {reg, value};
  return flushed(kCmdSetSensorRegister, f, 2);
}
bool DeviceConnection::getSensorRegister(uint8_t reg, uint8_t& value) {
  value = 0;
  if (query(kCmdGetSensorRegister, &reg, 1, value)) {
    value = 0;
    return true;
  }
  return false;
}
bool DeviceConnection::calibrateBlackLevels(uint8_t value) { return flushed(kCmdCalibrateBlackLevels, &value, 1); }
bool DeviceConnection::setDefaultBlackLevels(uint8_t value) { return flushed(kCmdSetDefaultBlackLevels, &value, 1); }
bool DeviceConnection::getCalibrationStatus(uint8_t& status) { return query(kCmdGetCalibrationStatus, nullptr, 0, status); }
bool DeviceConnection::setTerminalModeOutput() { return flushed(kCmdSetTerminalModeOutput, nullptr, 0); }
bool DeviceConnection::setIoPinConfiguration(uint8_t pin, uint8_t configuration) {
  const uint8_t f[] = {pin, configuration};
  return flushed(kCmdSetIoPinConfiguration, f, 2);
}
bool DeviceConnection::getIoPinValue(uint8_t pin, uint8_t& value) { return query(kCmdGetIoPinValue, &pin, 1, value); }
bool DeviceConnection::setIoPinValue(uint8_t pin, uint8_t value) {
  const uint8_t f[] = {pin, value};
  return flushed(kCmdSetIoPinValue, f, 2);
}
bool DeviceConnection::setTargetingLeds(uint8_t on) { return flushed(kCmdSetTargetingLeds, &on, 1); }
bool DeviceConnection::firmwareErase() { return flushed(kCmdFirmwareErase, nullptr, 0); }
bool DeviceConnection::triggerStatus(uint8_t status) { return flushed(kCmdTriggerStatus, &status, 1); }
bool DeviceConnection::sleep() { return flushed(kCmdSleep, nullptr, 0); }
bool DeviceConnection::imageStandardDeviation(int32_t& value) {
  value = -1;
  return query(kCmdImageStandardDeviation, nullptr, 0, value);
}

bool DeviceConnection::capture(uint8_t flags, OperationSink& sink) {
  const uint8_t code = kCmdCapture;
  command_->write(&code, 1);
  command_->write(&flags, 1);
  sink.beginCapture(*command_, flags, blockSize_);
  return finish();
}

bool DeviceConnection::captureGrey(OperationSink& sink) {
  const uint8_t code = kCmdCaptureGrey;
  command_->write(&code, 1);
  sink.beginCapture(*command_, 0x04, blockSize_);
  return finish();
}

bool DeviceConnection::previousBinaryImage(OperationSink& sink) {
  const uint8_t code = kCmdPreviousBinaryImage;
  command_->write(&code, 1);
  sink.beginPreviousBinary(*command_, blockSize_);
  return finish();
}

bool DeviceConnection::previousGreyImage(OperationSink& sink, bool extended, bool compressed) {
  const uint8_t code = kCmdPreviousGreyImage;
  command_->write(&code, 1);
  if (extended)
    sink.beginPreviousGreyEx(*command_, blockSize_, compressed);
  else
    sink.beginPreviousGrey(*command_, blockSize_);
  return finish();
}

bool DeviceConnection::windowedPreviousGreyImage(uint8_t b, const uint16_t window[4], OperationSink& sink) {
  const uint8_t code = kCmdWindowedPreviousGreyImage;
  command_->write(&code, 1);
  command_->write(&b, 1);
  for (int i = 0; i < 4; ++i) command_->write(&window[i], sizeof window[i]);
  sink.beginPreviousGrey(*command_, blockSize_);
  return finish();
}

}  // namespace vel
