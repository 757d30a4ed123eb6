// The SSI start sequence and the resynchronisation of the Return parameter against a
// scripted SSI library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SsiSequence.h"

using namespace keycaster;

namespace {

struct ScriptedSsi : SsiLibrary, Sleeper {
  std::vector<std::string> calls;
  int openResult = 0;
  std::vector<int> readyResults = {0, 0, 0};
  int readyCalls = 0;
  int requestResult = 0;
  uint8_t scannerReturn = 0;
  uint8_t* registered = nullptr;

  int openLink(uint32_t baud, int port) override {
    calls.push_back("open " + std::to_string(baud) + " " + std::to_string(port));
    return openResult;
  }
  void closeLink(int port) override { calls.push_back("close " + std::to_string(port)); }
  int checkReady(int port, int value) override {
    calls.push_back("ready " + std::to_string(port) + " " + std::to_string(value));
    return readyResults.at(static_cast<size_t>(readyCalls++));
  }
  void setReplyBuffer(int port, uint8_t* buffer, int size) override {
    registered = buffer;
    calls.push_back("buffer " + std::to_string(port) + " " + std::to_string(size));
  }
  void setMode(int port, int value) override {
    calls.push_back("mode " + std::to_string(port) + " " + std::to_string(value));
  }
  int requestParameter(uint8_t* buffer, int count, int port) override {
    EXPECT_EQ(buffer, registered);
    calls.push_back("request " + std::to_string(buffer[0]) + " " + std::to_string(count) + " " +
                    std::to_string(port));
    if (requestResult == 0) buffer[1] = scannerReturn;
    return requestResult;
  }
  void writeParameter(uint8_t* buffer, int count, int port) override {
    calls.push_back("write " + std::to_string(buffer[0]) + "=" + std::to_string(buffer[1]) + " " +
                    std::to_string(count) + " " + std::to_string(port));
    scannerReturn = buffer[1];
  }
  void sleepMs(uint32_t ms) override { calls.push_back("wait " + std::to_string(ms)); }
};

using Calls = std::vector<std::string>;
const Calls kReady = {"ready 3 1", "wait 150", "ready 3 1", "wait 150", "ready 3 1", "wait 150"};
const Calls kRead = {"buffer 3 5000", "mode 3 1", "request 235 1 3"};

Calls join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

TEST(SsiStart, LinkFailsOrScannerSilent) {
  uint8_t buffer[kSsiReplyBufferBytes] = {};
  ScriptedSsi ssi;
  ssi.openResult = 1;
  EXPECT_EQ(RunSsiStart(ssi, ssi, 3, true, buffer), SsiStartResult::LinkFailed);
  EXPECT_EQ(ssi.calls, (Calls{"open 9600 3", "close 3"}));

  ScriptedSsi first;
  first.readyResults = {5};
  EXPECT_EQ(RunSsiStart(first, first, 3, true, buffer), SsiStartResult::NotReady);
  EXPECT_EQ(first.calls, (Calls{"open 9600 3", "ready 3 1", "close 3"}));

  ScriptedSsi second;
  second.readyResults = {0, 5};
  EXPECT_EQ(RunSsiStart(second, second, 3, true, buffer), SsiStartResult::NotReady);
  EXPECT_EQ(second.calls, (Calls{"open 9600 3", "ready 3 1", "wait 150", "ready 3 1", "close 3"}));
}

TEST(SsiStart, ParameterFollowsSendReturn) {
  uint8_t buffer[kSsiReplyBufferBytes] = {};
  // The scanner's value differs: written after 150 ms. The third readiness answer is ignored.
  ScriptedSsi differs;
  differs.readyResults = {0, 0, 7};
  EXPECT_EQ(RunSsiStart(differs, differs, 3, true, buffer), SsiStartResult::Configured);
  EXPECT_EQ(differs.calls, join({{"open 9600 3"}, kReady, kRead, {"wait 150", "write 235=1 2 3", "close 3", "wait 50"}}));
  EXPECT_EQ(differs.scannerReturn, 1);

  // Equal already (any non-zero value counts as on): nothing written.
  ScriptedSsi equal;
  equal.scannerReturn = 2;
  EXPECT_EQ(RunSsiStart(equal, equal, 3, true, buffer), SsiStartResult::Configured);
  EXPECT_EQ(equal.calls, join({{"open 9600 3"}, kReady, kRead, {"close 3", "wait 50"}}));

  // The read fails: the parameter stays, the scanner still counts as configured.
  ScriptedSsi readFails;
  readFails.requestResult = 1;
  EXPECT_EQ(RunSsiStart(readFails, readFails, 3, false, buffer), SsiStartResult::Configured);
  EXPECT_EQ(readFails.calls, join({{"open 9600 3"}, kReady, kRead, {"close 3", "wait 50"}}));
}

TEST(SsiResync, WritesTheNewSettingOrReportsTheFailedLink) {
  uint8_t buffer[kSsiReplyBufferBytes] = {};
  ScriptedSsi ssi;
  ssi.scannerReturn = 1;
  EXPECT_TRUE(ResyncReturnParameter(ssi, ssi, 3, false, buffer));
  EXPECT_EQ(ssi.calls, join({{"open 9600 3"}, kRead, {"wait 150", "write 235=0 2 3", "close 3", "wait 50"}}));

  ScriptedSsi down;
  down.openResult = -1;
  EXPECT_FALSE(ResyncReturnParameter(down, down, 3, true, buffer));
  EXPECT_EQ(down.calls, (Calls{"open 9600 3", "close 3"}));
}
