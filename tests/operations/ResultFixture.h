// A result receiver wired to recording callbacks, its own shared store and its
// own configuration record, fed through the section reader.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "MemoryStream.h"
#include "SectionBytes.h"
#include "operations/ResultReceiver.h"

struct Notice {
  enum Kind { Progress, ConfigurationChanged } kind;
  int wParam;
  int lParam;
  bool operator==(const Notice& o) const { return kind == o.kind && wParam == o.wParam && lParam == o.lParam; }
};

inline Notice progress(int percent, int event) { return {Notice::Progress, percent, event}; }
inline Notice configurationChanged(int reason) { return {Notice::ConfigurationChanged, reason, 0}; }

inline std::ostream& operator<<(std::ostream& os, const Notice& n) {
  return os << (n.kind == Notice::Progress ? "progress(" : "configurationChanged(") << n.wParam << ","
            << n.lParam << ")";
}

class RecordingCallbacks : public vel::OperationCallbacks {
 public:
  bool shouldStop() override { return stop; }
  void postProgress(int percent, vel::OperationEvent event) override { notices.push_back(progress(percent, event)); }
  void postConfigurationChanged(vel::ConfigurationChange reason) override {
    notices.push_back(configurationChanged(reason));
  }
  bool stop = false;
  std::vector<Notice> notices;
};

class ResultFixture : public ::testing::Test {
 protected:
  // Publishes into its own shared store unless given another.
  explicit ResultFixture(vel::SharedResults* target = nullptr) : shared(target ? *target : ownShared) {}

  // Reads a section; answers the acknowledgement bytes written back.
  std::vector<uint8_t> receive(const sections::Bytes& section, bool* succeeded = nullptr) {
    MemoryStream stream(section);
    callbacks.notices.clear();
    const bool ok = vel::ReadResultSection(stream, receiver);
    if (succeeded) *succeeded = ok;
    return stream.output;
  }

  RecordingCallbacks callbacks;
  vel::SharedResults ownShared;
  vel::SharedResults& shared;
  vel::DeviceConfiguration configuration{};
  vel::ResultReceiver receiver{callbacks, shared, configuration};
};
