#include "Results.h"

#include <cstdio>

#include "Text.h"

namespace velcli {

int reportBarcodes(Report& report, Json& target, const console::CaptureRecord& capture) {
  const int count = static_cast<int>(capture.barcodes.size());
  report.put(target, "barcodeCount", "barcodes decoded", count);
  Json& list = target["barcodes"] = Json::array();
  for (int i = 0; i < count; ++i) {
    const console::Barcode& b = capture.barcodes[static_cast<size_t>(i)];
    const auto* data = reinterpret_cast<const unsigned char*>(b.data.data());
    const int length = static_cast<int>(b.data.size());
    Json& item = list.push(Json::object());
    item["type"] = Json::number(b.type);
    item["name"] = Json::string(latin1ToUtf8(b.name));
    item["text"] = Json::string(latin1ToUtf8(b.data));
    item["length"] = Json::number(length);
    Json& points = item["corners"] = Json::array();
    for (int v : b.corners) points.push(Json::number(v));
    item["decodeTime"] = Json::number(b.decodeTime);
    if (!report.json()) {
      const int* c = b.corners;
      std::printf("  [%d] %s (type %d): \"%s\"\n", i, b.name.c_str(), b.type, printable(data, length).c_str());
      std::printf("      corners (%d,%d) (%d,%d) (%d,%d) (%d,%d), decoded in %d\n", c[0], c[1], c[2], c[3], c[4], c[5],
                  c[6], c[7], b.decodeTime);
    }
  }
  Json& timings = target["timings"];
  timings["capture"] = Json::number(capture.captureTime);
  timings["autoExposure"] = Json::number(capture.autoExposureTime);
  timings["processing"] = Json::number(capture.processingTime);
  report.say("timings:               capture " + std::to_string(capture.captureTime) + ", auto exposure " +
             std::to_string(capture.autoExposureTime) + ", processing " + std::to_string(capture.processingTime));
  return count;
}

}  // namespace velcli
