#include "Results.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Cli.h"
#include "ImgEngine.h"

namespace velcli {

int reportBarcodes(Report& report, Json& target) {
  const int count = VelGetNumberOfDecodedBarcodes();
  report.put(target, "barcodeCount", "barcodes decoded", count);
  Json& list = target["barcodes"] = Json::array();
  std::vector<unsigned char> data(kMaxBarcodeBytes);
  for (int i = 0; i < count; ++i) {
    char name[64] = {};
    const int type = VelGetBarcodeType(i);
    const int n = VelGetBarcodeName(type, static_cast<int>(sizeof name) - 1, name);
    // The answer is a length the library chose; it is held to the buffer given.
    const int length =
        std::clamp(VelGetBarcodeData(i, static_cast<int>(data.size()), data.data()), 0, static_cast<int>(data.size()));
    const std::string typeName =
        n > 0 ? std::string(name, static_cast<size_t>(std::min<int>(n, sizeof name - 1))) : "unknown";
    const int corners[8] = {VelGetBarcodeTopLeftX(i),     VelGetBarcodeTopLeftY(i),    VelGetBarcodeTopRightX(i),
                            VelGetBarcodeTopRightY(i),    VelGetBarcodeBottomLeftX(i), VelGetBarcodeBottomLeftY(i),
                            VelGetBarcodeBottomRightX(i), VelGetBarcodeBottomRightY(i)};
    const int decodeTime = VelGetBarcodeProcessingTime(i);
    Json& item = list.push(Json::object());
    item["type"] = Json::number(type);
    item["name"] = Json::string(typeName);
    item["text"] = Json::string(latin1ToUtf8(data.data(), length));
    item["length"] = Json::number(length);
    Json& points = item["corners"] = Json::array();
    for (int v : corners) points.push(Json::number(v));
    item["decodeTime"] = Json::number(decodeTime);
    if (!report.json()) {
      std::printf("  [%d] %s (type %d): \"%s\"\n", i, typeName.c_str(), type, printable(data.data(), length).c_str());
      std::printf("      corners (%d,%d) (%d,%d) (%d,%d) (%d,%d), decoded in %d\n", corners[0], corners[1], corners[2],
                  corners[3], corners[4], corners[5], corners[6], corners[7], decodeTime);
    }
  }
  const int capture = VelGetImageCaptureTime(), exposure = VelGetAutoExposureExecutionTime(),
            processing = VelGetImageProcessingTime();
  Json& timings = target["timings"];
  timings["capture"] = Json::number(capture);
  timings["autoExposure"] = Json::number(exposure);
  timings["processing"] = Json::number(processing);
  report.say("timings:               capture " + std::to_string(capture) + ", auto exposure " +
             std::to_string(exposure) + ", processing " + std::to_string(processing));
  return count;
}

}  // namespace velcli
