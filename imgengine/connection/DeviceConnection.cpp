#include "connection/DeviceConnection.h"

#include <cstring>

#include "config/ImagerIdentity.h"
#include "config/DeviceConfiguration.h"
#include "base/LittleEndian.h"
#include "platform/Time.h"

namespace vel {

namespace {
constexpr int kLinkPriority = kPriorityCritical;
constexpr int kEventReaderPriority = kPriorityNormal;
constexpr size_t kEventReaderStack = 20000;
// Time the imager is given to take the close command before the link goes.
constexpr uint32_t kCloseSettleMs = 20;
constexpr int kBlockSizeTimeoutMs = 5000;
constexpr uint32_t kCheckLinkValue = 13;

// Multi-byte fields and answers, little-endian on the channel.
void writeLe16(ByteStream& s, uint16_t value) {
  uint8_t bytes[2];
  putLe16(bytes, value);
  s.write(bytes, sizeof bytes);
}
void writeLe32(ByteStream& s, uint32_t value) {
  uint8_t bytes[4];
  putLe32(bytes, value);
  s.write(bytes, sizeof bytes);
}
// A failed read leaves the bytes zero.
uint32_t readLe32(ByteStream& s, int timeoutMs) {
  uint8_t bytes[4] = {};
  s.read(bytes, sizeof bytes, timeoutMs);
  return getLe32(bytes);
}
uint32_t readLe32(ByteStream& s) { return readLe32(s, s.defaultTimeout()); }
}  // namespace

DeviceConnection::DeviceConnection(ByteStream& transport, OperationSink* eventReceiver, LinkKind kind)
    : eventReceiver_(eventReceiver) {
  eventReader_ = std::make_unique<WorkerThread>(kEventReaderStack, kEventReaderPriority,
                                                [this](WorkerThread& self) { runEventReader(self); });
  link_ = createLink(kind, transport, kLinkPriority);
  command_ = link_->openPortPair(0, 1);
  event_ = link_->openPortPair(2, 3);

  send(kCmdGetBlockSize, nullptr, 0);
  const auto size = static_cast<int32_t>(readLe32(*command_, kBlockSizeTimeoutMs));
  blockSize_ = finish() ? size : -1;
  if (blockSize_ <= 0) setError();  // no answer, or pieces of no length

  eventReader_->resume();
  if (transport.failed()) setError();
}

DeviceConnection::~DeviceConnection() {
  send(kCmdClose, nullptr, 0);
  command_->flush();
  platform::sleepMs(kCloseSettleMs);
  stopEventReader();
  event_.reset();
  command_->abort();
  command_.reset();
  link_.reset();
}

void DeviceConnection::stopEventReader() {
  // The abort wakes a reader blocked in its read of the event channel.
  eventReader_->stop();
  event_->abort();
  eventReader_->join();
}

void DeviceConnection::setChannelTimeouts(int timeoutMs) {
  command_->setDefaultTimeout(timeoutMs);
  event_->setDefaultTimeout(timeoutMs);
}

bool DeviceConnection::finish() {
  if (!command_->failed()) return true;
  setError();
  return false;
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
  send(code, fields, count);
  command_->flush();
  return finish();
}

void DeviceConnection::send(CommandCode code, const uint8_t* fields, size_t count) {
  const uint8_t c = code;
  command_->write(&c, 1);
  for (size_t i = 0; i < count; ++i) command_->write(&fields[i], 1);
}

bool DeviceConnection::query(CommandCode code, const uint8_t* fields, size_t count, uint8_t& answer) {
  send(code, fields, count);
  command_->read(&answer, 1);
  return finish();
}

bool DeviceConnection::checkLink(bool& passed) {
  send(kCmdCheckLink, nullptr, 0);
  writeLe32(*command_, kCheckLinkValue);
  const uint32_t level = readLe32(*command_);
  uint8_t flag = 0;
  command_->read(&flag, 1);
  if (!finish()) {
    passed = false;
    return false;
  }
  if (level == 17) fixedConfiguration_ = true;
  passed = level == 17 || level == 18 || flag != 0;
  return true;
}

bool DeviceConnection::getVersions(VersionRecord& v) {
  send(kCmdGetVersions, nullptr, 0);
  uint32_t values[4] = {};
  for (uint32_t& value : values) value = readLe32(*command_);
  uint8_t length = 0;
  command_->read(&length, 1);
  char text[255];
  command_->read(text, length);
  if (!finish()) return false;
  v.visionProcessor = values[0];
  v.imageSensor = values[1];
  v.illuminationBoard = values[2];
  v.reserved = values[3];
  v.firmwareLength = length;
  std::memcpy(v.firmware, text, length);
  return true;
}

bool DeviceConnection::getConfiguration(DeviceConfiguration& record) {
  send(kCmdGetConfiguration, nullptr, 0);
  ReadConfiguration(*command_, record, fixedConfiguration_);
  return finish();
}

bool DeviceConnection::setConfiguration(const DeviceConfiguration& record, bool permanent) {
  send(permanent ? kCmdSetPermanentConfiguration : kCmdSetTemporaryConfiguration, nullptr, 0);
  WriteConfiguration(*command_, record, fixedConfiguration_);
  return finish();
}

bool DeviceConnection::setSensorRegister(uint8_t reg, uint8_t value) {
  const uint8_t f[] = {reg, value};
  return flushed(kCmdSetSensorRegister, f, 2);
}
bool DeviceConnection::getSensorRegister(uint8_t reg, uint8_t& value) {
  value = 0;
  if (!query(kCmdGetSensorRegister, &reg, 1, value)) {
    value = 0;
    return false;
  }
  return true;
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
  send(kCmdImageStandardDeviation, nullptr, 0);
  const auto answer = static_cast<int32_t>(readLe32(*command_));
  const bool ok = finish();
  value = ok ? answer : -1;
  return ok;
}

bool DeviceConnection::capture(uint8_t flags, OperationSink& sink) {
  send(kCmdCapture, &flags, 1);
  sink.beginCapture(*command_, flags, blockSize_);
  return finish();
}

bool DeviceConnection::captureGrey(OperationSink& sink) {
  send(kCmdCaptureGrey, nullptr, 0);
  sink.beginCapture(*command_, 0x04, blockSize_);
  return finish();
}

bool DeviceConnection::previousBinaryImage(OperationSink& sink) {
  send(kCmdPreviousBinaryImage, nullptr, 0);
  sink.beginPreviousBinary(*command_, blockSize_);
  return finish();
}

bool DeviceConnection::previousGreyImage(OperationSink& sink, bool extended, bool compressed) {
  send(kCmdPreviousGreyImage, nullptr, 0);
  if (extended)
    sink.beginPreviousGreyEx(*command_, blockSize_, compressed);
  else
    sink.beginPreviousGrey(*command_, blockSize_);
  return finish();
}

bool DeviceConnection::windowedPreviousGreyImage(uint8_t b, const uint16_t window[4], OperationSink& sink) {
  send(kCmdWindowedPreviousGreyImage, &b, 1);
  for (int i = 0; i < 4; ++i) writeLe16(*command_, window[i]);
  sink.beginPreviousGrey(*command_, blockSize_);
  return finish();
}

}  // namespace vel
