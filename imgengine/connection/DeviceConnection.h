// A connection to the imager: the command channel (ports 0 in, 1 out), the event
// channel (ports 2 in, 3 out) and the event reader, over a link the connection
// owns. Each command writes its code and fields, then reads its answer or
// flushes, and tests the channel's failed state once at the end: a failure sets
// the sticky error flag, which only a new connection clears.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "link/Link.h"
#include "base/WorkerThread.h"
#include "connection/OperationSink.h"

namespace vel {

struct VersionRecord;
struct DeviceConfiguration;

enum CommandCode : uint8_t {
  kCmdGetConfiguration = 1,
  kCmdSetTemporaryConfiguration = 2,
  kCmdSetPermanentConfiguration = 3,
  kCmdCapture = 4,
  kCmdGetVersions = 5,
  kCmdCaptureGrey = 6,
  kCmdSetSensorRegister = 8,
  kCmdGetSensorRegister = 9,
  kCmdCheckLink = 13,
  kCmdPreviousBinaryImage = 16,
  kCmdPreviousGreyImage = 17,
  kCmdClose = 18,
  kCmdCalibrateBlackLevels = 19,
  kCmdSetDefaultBlackLevels = 20,
  kCmdGetCalibrationStatus = 21,
  kCmdSetTerminalModeOutput = 22,
  kCmdSetIoPinConfiguration = 23,
  kCmdGetIoPinValue = 24,
  kCmdSetIoPinValue = 25,
  kCmdGetBlockSize = 26,
  kCmdWindowedPreviousGreyImage = 27,
  kCmdSetTargetingLeds = 28,
  kCmdFirmwareErase = 29,
  kCmdTriggerStatus = 30,
  kCmdSleep = 31,
  kCmdImageStandardDeviation = 32,
};

// Message type of the imager's one unsolicited message on the event channel.
constexpr uint8_t kEventOperation = 4;

class DeviceConnection {
 public:
  // Builds the link of the given kind over the transport (not owned), opens both
  // channels, asks the block size and starts the event reader. Failures show in
  // errorFlag(), a block size that is not positive among them. eventReceiver may
  // be null (trigger transfers are then skipped).
  DeviceConnection(ByteStream& transport, OperationSink* eventReceiver, LinkKind kind);
  // Sends CmdClose, stops the event reader and tears the link down.
  ~DeviceConnection();
  DeviceConnection(const DeviceConnection&) = delete;
  DeviceConnection& operator=(const DeviceConnection&) = delete;

  bool errorFlag() const { return error_.load() != 0; }
  void setError() { error_.store(1); }
  int32_t blockSize() const { return blockSize_; }
  bool fixedConfiguration() const { return fixedConfiguration_; }
  Link& link() { return *link_; }
  PortPair& commandChannel() { return *command_; }
  PortPair& eventChannel() { return *event_; }
  void setChannelTimeouts(int timeoutMs);
  // Stops the event reader and waits for it: the event channel is aborted, which
  // ends a trigger transfer being read, and the event receiver is not called
  // again. The command channel stays in service.
  void stopEventReader();

  // Each command answers true when its channel is still good; a failure sets the
  // error flag and answers false.
  // Link check: passed = level 17, level 18, or another level with a non-zero flag.
  bool checkLink(bool& passed);
  bool getVersions(VersionRecord& versions);
  // Configuration exchange in the form the link check chose (fixed block at level 17).
  bool getConfiguration(DeviceConfiguration& record);
  bool setConfiguration(const DeviceConfiguration& record, bool permanent);
  bool setSensorRegister(uint8_t reg, uint8_t value);
  bool getSensorRegister(uint8_t reg, uint8_t& value);
  bool calibrateBlackLevels(uint8_t value);
  bool setDefaultBlackLevels(uint8_t value);
  bool getCalibrationStatus(uint8_t& status);
  bool setTerminalModeOutput();
  bool setIoPinConfiguration(uint8_t pin, uint8_t configuration);
  bool getIoPinValue(uint8_t pin, uint8_t& value);
  bool setIoPinValue(uint8_t pin, uint8_t value);
  bool setTargetingLeds(uint8_t on);
  bool firmwareErase();
  bool triggerStatus(uint8_t status);
  bool sleep();
  bool imageStandardDeviation(int32_t& value);

  // Long responses: the command is written and the channel handed to the sink.
  bool capture(uint8_t flags, OperationSink& sink);
  bool captureGrey(OperationSink& sink);
  bool previousBinaryImage(OperationSink& sink);
  bool previousGreyImage(OperationSink& sink, bool extended, bool compressed);
  bool windowedPreviousGreyImage(uint8_t b, const uint16_t window[4], OperationSink& sink);

  // Ends a command: tests the channel once; false (and the error flag set) on failure.
  bool finish();

 private:
  void runEventReader(WorkerThread& self);
  // Writes the code and its one-byte fields, one write each.
  void send(CommandCode code, const uint8_t* fields, size_t count);
  bool flushed(CommandCode code, const uint8_t* fields, size_t count);
  bool query(CommandCode code, const uint8_t* fields, size_t count, uint8_t& answer);

  std::atomic<int32_t> error_{0};
  int32_t blockSize_ = -1;
  bool fixedConfiguration_ = false;
  OperationSink* eventReceiver_;
  std::unique_ptr<WorkerThread> eventReader_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<PortPair> command_;
  std::unique_ptr<PortPair> event_;
};

}  // namespace vel
