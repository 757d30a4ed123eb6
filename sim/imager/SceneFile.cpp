#include "imager/SceneFile.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/Modules.h"

namespace sim {

namespace {

// Reader format bits: Aztec 1, Code39 4, Code128 16, DataMatrix 128, EAN13 512,
// ITF 1024, PDF417 4096, QRCode 8192, UPCA 16384.
const std::vector<SceneSymbology> kSymbologies = {
    {"aztec", 1 << 0, 1, 0, false},       {"code128", 1 << 4, 3, 2, true},  {"code39", 1 << 2, 4, 3, true},
    {"datamatrix", 1 << 7, 6, 9, false},  {"itf", 1 << 10, 7, 13, true},    {"pdf417", 1 << 12, 15, 24, false},
    {"qr", 1 << 13, 16, 25, false},       {"ean13", 1 << 9, 18, 28, true},  {"upca", 1 << 14, 18, 28, true},
};

bool fail(std::string* error, int line, const std::string& why) {
  if (error) *error = "line " + std::to_string(line) + ": " + why;
  return false;
}

bool readRgb(std::istringstream& in, Rgb& rgb) {
  for (uint8_t& c : rgb) {
    int v = -1;
    if (!(in >> v) || v < 0 || v > 255) return false;
    c = static_cast<uint8_t>(v);
  }
  return true;
}

// "00 1f B5ff": pairs of hex digits, spaces between pairs; at most kMaxDataBytes.
constexpr size_t kMaxDataBytes = 4096;

bool readHexBytes(const std::string& digits, std::string& out) {
  auto nibble = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  out.clear();
  for (size_t i = 0; i < digits.size();) {
    if (digits[i] == ' ' || digits[i] == '\t' || digits[i] == '\r') {
      ++i;
      continue;
    }
    if (i + 1 >= digits.size() || nibble(digits[i]) < 0 || nibble(digits[i + 1]) < 0 || out.size() >= kMaxDataBytes)
      return false;
    out += static_cast<char>(nibble(digits[i]) << 4 | nibble(digits[i + 1]));
    i += 2;
  }
  return !out.empty();
}

bool readBarcode(std::istringstream& in, ScenePlacement& b, int line, std::string* error) {
  std::string name;
  in >> name;
  b.symbology = sceneSymbology(name);
  if (!b.symbology) return fail(error, line, "unknown symbology " + name);
  std::string key;
  while (in >> key) {
    bool ok = true;
    if (key == "at") ok = static_cast<bool>(in >> b.centreX >> b.centreY);
    else if (key == "module") ok = (in >> b.module) && b.module > 0 && b.module <= 64;
    else if (key == "height") ok = (in >> b.height) && b.height > 0 && b.height <= 4096;
    else if (key == "angle") ok = static_cast<bool>(in >> b.angle);
    else if (key == "ink") ok = readRgb(in, b.ink);
    else if (key == "paper") ok = readRgb(in, b.paper);
    else if (key == "text") {
      std::getline(in >> std::ws, b.text);
      return !b.text.empty() || fail(error, line, "empty text");
    } else if (key == "data") {
      if (b.symbology->linear) return fail(error, line, "data needs a 2-D symbology");
      std::string digits;
      std::getline(in >> std::ws, digits);
      b.bytes = true;
      return readHexBytes(digits, b.text) ||
             fail(error, line, "data is 1 to " + std::to_string(kMaxDataBytes) + " bytes as pairs of hex digits");
    } else
      return fail(error, line, "unknown key " + key);
    if (!ok) return fail(error, line, "bad value for " + key);
  }
  return fail(error, line, "barcode without text");
}

bool readBackground(std::istringstream& in, SceneDescription& d, int line, std::string* error) {
  if (!readRgb(in, d.background)) return fail(error, line, "bad background colour");
  std::string key;
  while (in >> key) {
    bool ok = true;
    if (key == "texture") ok = (in >> d.texture) && d.texture >= 0 && d.texture <= 255;
    else if (key == "noise") ok = (in >> d.noise) && d.noise >= 0 && d.noise <= 255;
    else if (key == "seed") ok = static_cast<bool>(in >> d.seed);
    else return fail(error, line, "unknown key " + key);
    if (!ok) return fail(error, line, "bad value for " + key);
  }
  return true;
}

}  // namespace

const std::vector<SceneSymbology>& sceneSymbologies() { return kSymbologies; }

const SceneSymbology* sceneSymbology(const std::string& name) {
  for (const SceneSymbology& s : kSymbologies)
    if (name == s.name) return &s;
  return nullptr;
}

std::optional<SceneDescription> parseScene(const std::string& text, std::string* error) {
  SceneDescription d;
  std::istringstream lines(text);
  std::string raw;
  for (int line = 1; std::getline(lines, raw); ++line) {
    if (const size_t hash = raw.find('#'); hash != std::string::npos && raw.find(" text ") > hash) raw.resize(hash);
    std::istringstream in(raw);
    std::string item;
    if (!(in >> item)) continue;
    bool ok = true;
    if (item == "size") {
      ok = (in >> d.width >> d.height) && d.width > 0 && d.height > 0 && d.width <= 1280 && d.height <= 1024;
      if (!ok) fail(error, line, "size outside 1 x 1 .. 1280 x 1024");
    } else if (item == "background") {
      ok = readBackground(in, d, line, error);
    } else if (item == "barcode") {
      ScenePlacement b;
      ok = readBarcode(in, b, line, error);
      if (ok) d.barcodes.push_back(b);
    } else {
      ok = fail(error, line, "unknown item " + item);
    }
    if (!ok) return std::nullopt;
  }
  return d;
}

std::optional<SceneDescription> loadScene(const std::string& path, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    if (error) *error = "cannot read " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << file.rdbuf();
  return parseScene(text.str(), error);
}

// An installed program's scenes (the SDK's scenes/ beside x86/ and x64/, two folders
// above its bin/); in a build tree, where there is none, the sources' scenes.
std::string sceneFolder() {
  const std::string installed = vel::platform::programFolder() + "/../../scenes";
  std::error_code error;
  if (std::filesystem::is_directory(installed, error)) return installed;
  return VEL_SCENE_FOLDER;
}

}  // namespace sim
