// The console's JSON from any strings an imager or the library could hand over: the
// imager's facts (versions, firmware, kinds) through the state, barcode records (type,
// name, data, corners) through the capture and decode documents, and any string through
// velcli's own report writer. Each document must dump without the safety net (every
// string was converted before), be well-formed UTF-8, parse back, and give back the
// bytes it was made of.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzCursor.h"
#include "Report.h"
#include "console/Capture.h"
#include "console/StateJson.h"

namespace {

[[noreturn]] void fault() { __builtin_trap(); }

// n bytes off the input (fewer where it ends).
std::string take(fuzz::Cursor& in, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && in.restSize() > 0; ++i) out += static_cast<char>(in.byte());
  return out;
}

std::string shortString(fuzz::Cursor& in) { return take(in, in.byte()); }
std::string longString(fuzz::Cursor& in) { return take(in, in.le16()); }

uint32_t le32(fuzz::Cursor& in) {
  const uint32_t low = in.le16();
  return low | static_cast<uint32_t>(in.le16()) << 16;
}

// The length of the well-formed UTF-8 sequence at text[at] and its code point, or 0.
// Written here apart from velcli's own check, which it is there to catch.
size_t decodeUtf8(const std::string& text, size_t at, uint32_t& point) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = b(at);
  size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || text.size() - at < length) return 0;
  point = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((b(at + i) & 0xC0) != 0x80) return 0;
    point = point << 6 | (b(at + i) & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

void requireUtf8(const std::string& text) {
  uint32_t point;
  for (size_t i = 0; i < text.size();) {
    const size_t n = decodeUtf8(text, i, point);
    if (n == 0) fault();
    i += n;
  }
}

// UTF-8 text whose characters are all Latin-1, as those bytes; aborts on any other.
std::string latin1Of(const nlohmann::json& value) {
  if (!value.is_string()) fault();
  const std::string& text = value.get_ref<const std::string&>();
  std::string bytes;
  uint32_t point;
  for (size_t i = 0; i < text.size();) {
    const size_t n = decodeUtf8(text, i, point);
    if (n == 0 || point > 0xFF) fault();
    bytes += static_cast<char>(point);
    i += n;
  }
  return bytes;
}

std::string unbase64(const nlohmann::json& value) {
  if (!value.is_string()) fault();
  const std::string& text = value.get_ref<const std::string&>();
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4) fault();
  std::string out;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      size_t digit = 0;
      if (c == '=') {
        if (i + 4 != text.size() || k < 2) fault();  // padding ends the last group only
        ++pad;
      } else if ((digit = kDigits.find(c)) == std::string::npos || pad) {
        fault();
      }
      v = v << 6 | static_cast<uint32_t>(digit);
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>(v >> 8 & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

// The rendered document: it dumps strictly (no string left unconverted), its text is
// UTF-8, the safety net's text is the same, and it parses back to the same document.
nlohmann::json rendered(const nlohmann::json& document) {
  std::string strict;
  try {
    strict = document.dump();
  } catch (const nlohmann::json::exception&) {
    fault();
  }
  requireUtf8(strict);
  if (velcli::console::jsonText(document) != strict) fault();
  const nlohmann::json back = nlohmann::json::parse(strict, nullptr, false);
  if (back.is_discarded() || back != document) fault();
  return back;
}

void checkBarcode(const nlohmann::json& b, const velcli::console::Barcode& record, const char* nameKey,
                  const char* timeKey) {
  if (latin1Of(b.at(nameKey)) != record.name || unbase64(b.at("base64")) != record.data) fault();
  if (!b.at("text").is_null() && b.at("text") != record.data) fault();
  if (b.at("type") != record.type || b.at(timeKey) != record.decodeTime) fault();
  for (size_t k = 0; k < 8; ++k) {
    if (b.at("corners").at(k) != record.corners[k]) fault();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Cursor in(data, size);

  velcli::ImagerFacts facts;
  facts.hostVersion = shortString(in);
  facts.firmware = shortString(in);
  facts.processor = shortString(in);
  facts.sensor = shortString(in);
  facts.linkLevel = shortString(in);
  facts.visionProcessor = le32(in), facts.imageSensor = le32(in), facts.illuminationBoard = le32(in);
  facts.colour = in.byte() & 1;
  const int status = static_cast<int8_t>(in.byte());
  const nlohmann::json state = rendered(velcli::console::stateJson(facts, in.le16(), in.byte() & 1, status));
  const nlohmann::json& versions = state.at("versions");
  if (latin1Of(versions.at("host")) != facts.hostVersion || latin1Of(versions.at("firmware")) != facts.firmware ||
      latin1Of(state.at("processor")) != facts.processor || latin1Of(state.at("sensor")) != facts.sensor ||
      latin1Of(state.at("linkLevel")) != facts.linkLevel || state.at("connected") != (status == 1))
    fault();

  velcli::console::CaptureRecord capture;
  capture.id = le32(in);
  capture.source = in.byte() & 1 ? "trigger" : "host";
  capture.end = "done";
  capture.timeMs = static_cast<int64_t>(le32(in)) * 1000;
  for (int count = in.byte() % 5; count > 0; --count) {
    velcli::console::Barcode b;
    b.type = static_cast<int16_t>(in.le16());
    b.name = shortString(in);
    b.data = longString(in);
    for (int& corner : b.corners) corner = static_cast<int16_t>(in.le16());
    b.decodeTime = static_cast<int32_t>(le32(in));
    capture.barcodes.push_back(std::move(b));
  }
  const nlohmann::json document = rendered(velcli::console::captureJson(capture));
  if (document.at("barcodes").size() != capture.barcodes.size()) fault();
  for (size_t i = 0; i < capture.barcodes.size(); ++i) {
    checkBarcode(document.at("barcodes").at(i), capture.barcodes[i], "name", "decodeTime");
    checkBarcode(rendered(velcli::console::decodeJson(capture, i)), capture.barcodes[i], "typeName", "processingTime");
  }

  // velcli's report writer: any string comes out as UTF-8 that parses back, and one that
  // was well-formed UTF-8 already comes out unchanged.
  const std::string any = longString(in);
  velcli::Json report = velcli::Json::object();
  report[any] = velcli::Json::string(any);
  const std::string written = report.dump();
  requireUtf8(written);
  const nlohmann::json back = nlohmann::json::parse(written, nullptr, false);
  if (back.is_discarded() || !back.is_object() || back.size() != 1) fault();
  bool wellFormed = true;
  uint32_t point;
  for (size_t i = 0; i < any.size() && wellFormed;) {
    const size_t n = decodeUtf8(any, i, point);
    wellFormed = n != 0;
    i += n;
  }
  if (wellFormed && back.value(any, std::string()) != any) fault();
  return 0;
}
