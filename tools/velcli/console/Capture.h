// One capture as the console keeps it: the decoded barcodes, the timings and the
// images as the library handed them back, read through the library's exports right
// after the capture ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velcli::console {

struct Barcode {
  int type = 0;
  std::string name;        // the library's type name, "unknown" when it has none
  std::string data;        // the bytes as received
  int corners[8] = {};     // top left, top right, bottom left, bottom right: x, y
  int decodeTime = 0;      // the imager's processing time of this barcode
};

struct Image {
  std::string kind;        // "grey", "colour", "binary"
  std::string mime;        // "image/bmp" or "image/jpeg"
  int width = 0, height = 0;
  bool compressed = false;
  std::vector<uint8_t> file;  // a whole BMP or JPEG file
};

// Everything of a capture but its images: what the history keeps of older captures.
struct CaptureSummary {
  uint64_t id = 0;
  std::string source;      // "host" or "trigger"
  int64_t timeMs = 0;      // when it ended, milliseconds since 1970 (UTC)
  std::string end;         // "done", "aborted", ...
  std::vector<Barcode> barcodes;
  int captureTime = 0, autoExposureTime = 0, processingTime = 0;
  std::vector<uint8_t> thumbnail;  // a small grey BMP of the first image, or empty
};

struct CaptureRecord : CaptureSummary {
  std::vector<Image> images;  // grey or colour first, then binary
};
using CapturePtr = std::shared_ptr<const CaptureRecord>;

// What the last capture left in the library: results when decoded, images when
// read. Call on the thread that ran the capture, before another starts.
CaptureRecord readCapture(const std::string& source, bool decoded, bool greyRead, bool binaryRead);

// JSON text that no string can make throw: invalid UTF-8 is replaced (the strings are
// converted before they get here; this is the last net).
std::string jsonText(const nlohmann::json& value);

// Bytes as text when every byte is printable ASCII (or tab, CR, LF); otherwise null
// (base64 carries every barcode's bytes exactly).
nlohmann::json printableText(const std::string& bytes);
std::string base64(const std::string& bytes);
// "2026-12-09T02:00:42.123Z"
std::string isoTime(int64_t epochMs);
int64_t nowEpochMs();
// This run of the program: 16 hex digits, new at every start. Capture ids start at 1 in
// every run, so a browser's cache and an MQTT subscriber tell runs apart by it.
const std::string& runId();

// The capture for the API and the event stream: ids, time, barcodes, timings, and
// per image its kind, size and URL (/api/captures/ID/KIND?run=RUN).
nlohmann::json captureJson(const CaptureRecord& capture);
// One barcode as published: type number and name, text (or null), base64, corners,
// processing time, capture time, source, run id, capture id and index in the capture.
nlohmann::json decodeJson(const CaptureRecord& capture, size_t index);

}  // namespace velcli::console
