// versions, connect and status: who the imager is and whether it answers.
#include <algorithm>
#include <cstring>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"
#include "connection/DeviceConnection.h"
#include "core/LibraryState.h"

namespace velcli {

namespace {

// A version text the library copied: up to its answer n, the buffer's end or a zero.
std::string versionText(const char* buffer, int n, size_t size) {
  return std::string(buffer, strnlen(buffer, std::min(size, static_cast<size_t>(std::max(n, 0)))));
}

}  // namespace

ImagerFacts imagerFacts() {
  ImagerFacts f;
  char host[64] = {};
  f.hostVersion = versionText(host, VelGetHostVersion(static_cast<int>(sizeof host), host), sizeof host);
  char firmware[256] = {};
  f.firmware = versionText(firmware, VelGetFirmwareVersion(static_cast<int>(sizeof firmware), firmware), sizeof firmware);
  f.visionProcessor = VelGetVisionProcessorVersion();
  f.imageSensor = VelGetImageSensorVersion();
  f.illuminationBoard = VelGetIlluminationBoardVersion();
  f.processor = VelIsProcessorTypeSa1110() ? "SA-1110" : "i.MX1";
  f.sensor = VelIsSensorTypeOv9640()    ? "OV9640 (colour)"
             : VelIsSensorTypeOv9650()  ? "OV9650 (colour)"
             : VelIsSensorTypePicocam() ? "Picocam"
                                        : "standard (monochrome)";
  f.colour = VelIsColorSensor() != 0;
  // The library keeps only the form the link check chose; no export reports the level.
  const vel::DeviceConnection* connection = vel::library().connection();
  const bool fixed = connection && connection->fixedConfiguration();
  f.linkLevel = fixed ? "17 (fixed configuration block)" : "18 or later (tagged configuration)";
  return f;
}

namespace {

int exportCount() {
  int count = 0;
#define VEL_FN(ordinal, naming, ret, name, bytes, params) ++count;
#define VEL_ALIAS(ordinal, naming, ret, name, bytes, params, target) ++count;
#include "ImgEngineExports.h"
#undef VEL_FN
#undef VEL_ALIAS
  return count;
}

void reportVersions(Report& r) {
  const ImagerFacts f = imagerFacts();
  r.put("hostVersion", "host version", r.json() ? latin1ToUtf8(f.hostVersion) : f.hostVersion);
  r.put("exports", "exports", exportCount());
  r.put("visionProcessor", "vision processor", f.visionProcessor, hex(f.visionProcessor));
  r.put("imageSensor", "image sensor", f.imageSensor, hex(f.imageSensor));
  r.put("illuminationBoard", "illumination board", f.illuminationBoard, hex(f.illuminationBoard));
  r.put("firmware", "firmware", r.json() ? latin1ToUtf8(f.firmware) : "\"" + f.firmware + "\"");
}

const char* onOff(int v) { return v ? "on" : "off"; }

void reportSummary(Report& r) {
  Json& s = r.root()["summary"];
  const ImagerFacts f = imagerFacts();
  r.put("processor", "processor", f.processor);
  r.put("sensor", "sensor", f.sensor);
  r.put("linkLevel", "link level", f.linkLevel);
  r.root()["colourSensor"] = Json::boolean(VelIsColorSensor() != 0);
  const int x = VelGetWindowX(), y = VelGetWindowY(), w = VelGetWindowWidth(), h = VelGetWindowHeight();
  s["windowX"] = Json::number(x), s["windowY"] = Json::number(y), s["windowWidth"] = Json::number(w);
  s["windowHeight"] = Json::number(h);
  r.say("window:                " + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(w) + " x " +
        std::to_string(h));
  const int units = VelGetIntegrationTime(), us = VelGetIntegrationTimeInMicroSeconds();
  s["integrationTime"] = Json::number(units), s["integrationTimeUs"] = Json::number(us);
  r.say("integration time:      " + std::to_string(units) + " units, " + std::to_string(us) + " us");
  r.put(s, "gain", "gain", VelGetGain());
  r.put(s, "illuminationLevel", "illumination", VelGetIlluminationLevel());
  r.put(s, "autoExposure", "auto exposure", VelGetAutoExposureEnabled(), onOff(VelGetAutoExposureEnabled()));
  r.put(s, "maximumBarcodes", "barcodes per capture", VelGetMaximumNumberBarcodesToDecode());
  const int decode = VelGetTriggerDecodeBarcodeEnabled(), binary = VelGetTriggerBinaryImageReadEnabled(),
            grey = VelGetTriggerGrayImageReadEnabled();
  s["triggerDecode"] = Json::number(decode), s["triggerBinaryImage"] = Json::number(binary);
  s["triggerGreyImage"] = Json::number(grey);
  r.say(std::string("trigger reads:         decode ") + onOff(decode) + ", binary image " + onOff(binary) +
        ", grey image " + onOff(grey));
}

}  // namespace

int runVersions(Context& c) {
  reportVersions(c.report);
  return kOk;
}

int runConnect(Context& c) {
  if (!connectImager(c)) return kConnectFailed;
  reportVersions(c.report);
  reportSummary(c.report);
  disconnectImager(c);
  return kOk;
}

int runStatus(Context& c) {
  if (!connectImager(c)) return kConnectFailed;
  const int status = VelGetCommunicationStatus();
  c.report.put("communicationStatus", "communication status", status,
               std::to_string(status) + (status == 1    ? " (the imager answers)"
                                         : status == -3 ? " (the link failed)"
                                                        : " (not connected)"));
  disconnectImager(c);
  if (status == 1) return kOk;
  c.report.fail("the imager does not answer");
  return kCommunication;
}

}  // namespace velcli
