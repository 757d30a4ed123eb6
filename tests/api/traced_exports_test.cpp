// The API events of a field trace: the exports that talk to the imager (beyond
// connect, captures and the configuration's exchange, which the velcli sessions
// check) are recorded with their arguments and results, in the order called.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ImgEngine.h"
#include "PcapngReader.h"
#include "SimulatedImagerFixture.h"
#include "base/trace/Recorder.h"
#include "platform/Files.h"

namespace {

using simimager::Line;
using simimager::SimulatedImager;

std::vector<std::string> apiCalls(const std::string& path) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(vel::platform::fileReadAll(path.c_str(), bytes, 64u << 20)) << path;
  trace::PcapngReader reader(bytes.data(), bytes.size());
  std::vector<std::string> calls;
  trace::Record r;
  while (reader.next(r)) {
    if (r.kind == static_cast<uint8_t>(trace::RecordKind::kApiCall)) calls.emplace_back(r.payload.begin(), r.payload.end());
  }
  EXPECT_EQ(reader.error(), "");
  return calls;
}

// Where each wanted text is found in calls, in order (-1 from the first missing).
std::vector<long> positions(const std::vector<std::string>& calls, const std::vector<std::string>& wanted) {
  std::vector<long> at;
  size_t from = 0;
  for (const std::string& w : wanted) {
    while (from < calls.size() && calls[from] != w) ++from;
    at.push_back(from < calls.size() ? static_cast<long>(from++) : -1);
  }
  return at;
}

TEST(TracedExports, ServiceCallsConfigurationFilesAndCancelsAreRecordedInOrder) {
  char dir[] = "/tmp/veltracedXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string folder = dir, trace = folder + "/api.pcapng", ini = folder + "/saved.ini",
                    missing = folder + "/missing.ini", settings = folder + "/host-settings";
  setenv("VEL_HOST_SETTINGS", settings.c_str(), 1);
  setenv("VEL_TRACE", trace.c_str(), 1);
  int deviation = 0;
  {
    SimulatedImager imager(Line::Serial);
    ASSERT_EQ(imager.connect(), 1);
    deviation = VelGetImageStandardDeviation();
    ASSERT_EQ(VelSaveCurrentConfigurations(ini.c_str()), 0);
    EXPECT_EQ(VelLoadAndDeployConfigurations(ini.c_str()), 1);
    EXPECT_EQ(VelLoadAndDeployConfigurations(missing.c_str()), 0);
    EXPECT_EQ(VelLoadAndDeployConfigurations(nullptr), 0);
    VelCancelHostInitiatedOperation();
    VelCancelTriggerOperation();
    VelDeviceDisconnect();
  }
  vel::trace::stop();
  unsetenv("VEL_TRACE");
  unsetenv("VEL_HOST_SETTINGS");

  const std::vector<std::string> calls = apiCalls(trace);
  const std::vector<std::string> wanted = {
      "VelGetImageStandardDeviation() -> " + std::to_string(deviation),
      // The file's record goes to the imager first, then the load's own result.
      "VelSetPermanentDeviceConfiguration() -> 1",
      "VelLoadAndDeployConfigurations(\"" + ini + "\") -> 1",
      "VelLoadAndDeployConfigurations(\"" + missing + "\") -> 0",
      "VelLoadAndDeployConfigurations(null) -> 0",
      "VelCancelHostInitiatedOperation()",
      "VelCancelTriggerOperation()",
      "VelDeviceDisconnect()",
  };
  std::string all;
  for (const std::string& c : calls) all += c + "\n";
  SCOPED_TRACE("recorded calls:\n" + all);
  const std::vector<long> at = positions(calls, wanted);
  for (size_t i = 0; i < wanted.size(); ++i) EXPECT_GE(at[i], 0) << wanted[i];

  for (const char* name : {"api.pcapng", "saved.ini", "host-settings"}) std::remove((folder + "/" + name).c_str());
  rmdir(dir);
}

}  // namespace
