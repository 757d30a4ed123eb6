// The simulated imager's command set: serves the host's command channel (reads
// port 1, answers on port 0) and can send unsolicited messages on port 2. Each
// command code is answered with exactly its short response; unknown codes are
// ignored as the imager does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "imager/ImagerConfigStore.h"
#include "imager/ImagerPorts.h"

namespace sim {

struct ImagerIdentity {
  uint32_t visionProcessor = 1;       // 0 = i.MX1, other = SA-1110
  uint32_t imageSensor = 0x7FA29660;  // a standard monochrome sensor
  uint32_t illuminationBoard = 3;
  uint32_t reserved = 0;
  std::string firmware = "SIM 1.00";
  uint32_t linkLevel = 18;  // 17: configuration as the fixed block
  uint8_t linkFlag = 1;
  int32_t blockSize = 4096;
};

class ImagerCommands {
 public:
  ImagerCommands(ImagerPorts& ports, ImagerIdentity identity, ImagerConfigStore* store = nullptr);
  ~ImagerCommands();
  ImagerCommands(const ImagerCommands&) = delete;
  ImagerCommands& operator=(const ImagerCommands&) = delete;

  // A silent imager reads commands but answers none.
  void setSilent(bool silent) { silent_ = silent; }
  // Runs on the imager's command thread once a command's request fields have been
  // read, before it is served; false leaves it unserved (no answer, no effect).
  // Empty: every command is served.
  using Gate = std::function<bool(uint8_t code)>;
  void setGate(Gate gate);
  // The level and flag the following link checks answer (at first the identity's).
  void setLinkCheckAnswer(uint32_t level, uint8_t flag);
  // Hands codes 4, 6, 16, 17 and 27 to the given handler once their request
  // fields have been read (one flag byte for 4, nine bytes for 27, none otherwise);
  // the handler reads the host's acknowledgements from in and answers on out,
  // ports of the link's session the command came in (ended() once the host reset
  // the link). Replacing the handler waits until a response it is running has ended.
  using LongResponse =
      std::function<void(uint8_t code, const std::vector<uint8_t>& fields, ImagerPort& in, ImagerPort& out)>;
  void setLongResponse(LongResponse handler);
  // Sends bytes on the event channel (port 2).
  void sendEvent(const std::vector<uint8_t>& bytes);
  // Runs use with the event channel to itself: out is port 2, in (the host's
  // acknowledgements) port 3, both of the link's current session. Nothing else is
  // sent on the channel meanwhile.
  void withEventChannel(const std::function<void(ImagerPort& out, ImagerPort& in)>& use);

  // What the imager saw and holds.
  std::vector<uint8_t> receivedCodes() const;
  std::vector<uint8_t> lastFields() const;  // the fields of the last command
  // The fields of each command in the order of receivedCodes() (empty when cut short).
  std::vector<std::vector<uint8_t>> receivedFields() const;
  ImagerIdentity identity() const { return identity_; }
  uint8_t sensorRegister(uint8_t reg) const { return sensorRegisters_[reg]; }
  uint8_t ioPinValue(uint8_t index) const { return index < 5 ? ioPinValues_[index] : 0; }
  uint8_t ioPinConfiguration(uint8_t index) const { return index < 5 ? ioPinConfigurations_[index] : 0; }
  void setCalibrationStatus(uint8_t s) { calibrationStatus_ = s; }
  void setStandardDeviation(int32_t v) { standardDeviation_ = v; }
  uint8_t targetingLeds() const { return targetingLeds_; }
  uint8_t triggerStatus() const { return triggerStatus_; }
  bool closed() const { return closed_; }
  // Configuration writes that arrived complete.
  int temporaryWrites() const { return temporaryWrites_; }
  int permanentWrites() const { return permanentWrites_; }

 private:
  void serve();
  void handle(uint8_t code);
  void answerConfiguration(ImagerPort& out);
  void readConfiguration(ImagerPort& in, bool permanent);
  bool readFields(ImagerPort& in, uint8_t* fields, size_t count);
  template <typename T>
  void answer(ImagerPort& out, const T& value);

  ImagerPorts& ports_;
  ImagerIdentity identity_;
  ImagerConfigStore* store_;
  std::atomic<int> temporaryWrites_{0};
  std::atomic<int> permanentWrites_{0};
  LongResponse longResponse_;
  Gate gate_;
  std::atomic<uint32_t> linkLevel_;
  std::atomic<uint8_t> linkFlag_;
  std::mutex longResponseCall_;  // held while the handler runs; taken before lock_
  std::atomic<bool> silent_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  mutable std::mutex lock_;
  std::vector<uint8_t> codes_;
  std::vector<uint8_t> fields_;
  std::vector<std::vector<uint8_t>> fieldLog_;
  uint8_t sensorRegisters_[256] = {};
  uint8_t ioPinValues_[5] = {};
  uint8_t ioPinConfigurations_[5] = {};
  std::atomic<uint8_t> calibrationStatus_{0};
  std::atomic<int32_t> standardDeviation_{-1};
  std::atomic<uint8_t> targetingLeds_{0};
  std::atomic<uint8_t> triggerStatus_{0};
  std::mutex eventLock_;
  std::thread thread_;
};

}  // namespace sim
