#include "Capture.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <random>

#include "../Cli.h"
#include "../Text.h"
#include "ImgEngine.h"

namespace velcli::console {

namespace {

std::vector<uint8_t> copyOf(const unsigned char* data, int size, int limit) {
  if (!data || size <= 0 || size > limit) return {};
  return std::vector<uint8_t>(data, data + size);
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v), b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v), put16(b, at + 2, v >> 16);
}

// A grey 8-bit BMP at most kThumbWidth wide, sampled from a BMP of 1, 8 or 24 bits
// per pixel; empty when the file is not one of those or is cut short.
constexpr int kThumbWidth = 160;

std::vector<uint8_t> thumbnailOf(const std::vector<uint8_t>& bmp) {
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return {};
  const uint32_t offset = le32(bmp, 10), headerSize = le32(bmp, 14);
  const int32_t width = static_cast<int32_t>(le32(bmp, 18)), rawHeight = static_cast<int32_t>(le32(bmp, 22));
  const int bits = bmp[28] | bmp[29] << 8;
  if (headerSize < 40 || width <= 0 || width > 65535 || rawHeight == 0 || rawHeight < -65535 || rawHeight > 65535 ||
      (bits != 1 && bits != 8 && bits != 24))
    return {};
  const int height = rawHeight < 0 ? -rawHeight : rawHeight;
  // 64-bit sizes: a header's width and height may multiply beyond a 32-bit size_t.
  const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  if (offset > bmp.size() || stride * static_cast<uint64_t>(height) > bmp.size() - offset) return {};
  // A palette maps the indices of 1- and 8-bit images to grey (its blue byte suffices:
  // the library's palettes are grey).
  const uint64_t paletteAt = 14 + static_cast<uint64_t>(headerSize);
  const int scale = std::max(1, (width + kThumbWidth - 1) / kThumbWidth);
  const int tw = std::max(1, width / scale), th = std::max(1, height / scale);
  const size_t tstride = (static_cast<size_t>(tw) + 3) & ~size_t{3};
  std::vector<uint8_t> out(54 + 1024 + tstride * th, 0);
  out[0] = 'B', out[1] = 'M';
  put32(out, 2, static_cast<uint32_t>(out.size())), put32(out, 10, 54 + 1024), put32(out, 14, 40);
  put32(out, 18, tw), put32(out, 22, th), put16(out, 26, 1), put16(out, 28, 8);
  put32(out, 34, static_cast<uint32_t>(tstride * th)), put32(out, 46, 256);
  for (int i = 0; i < 256; ++i) out[54 + 4 * i] = out[55 + 4 * i] = out[56 + 4 * i] = static_cast<uint8_t>(i);
  for (int ty = 0; ty < th; ++ty) {
    // Rows are stored bottom-up in both files unless the source height is negative.
    const int sy = ty * scale;
    const int sourceRow = rawHeight < 0 ? height - 1 - sy : sy;
    const uint8_t* row = bmp.data() + offset + static_cast<size_t>(stride) * sourceRow;
    for (int tx = 0; tx < tw; ++tx) {
      const int sx = tx * scale;
      uint8_t grey;
      if (bits == 24) {
        grey = static_cast<uint8_t>((row[3 * sx] + 2 * row[3 * sx + 1] + row[3 * sx + 2]) / 4);
      } else {
        const int index = bits == 8 ? row[sx] : (row[sx / 8] >> (7 - sx % 8)) & 1;
        const uint64_t entry = paletteAt + 4 * static_cast<uint64_t>(index);
        grey = entry < offset ? bmp[static_cast<size_t>(entry)] : static_cast<uint8_t>(index ? 255 : 0);
      }
      out[54 + 1024 + tstride * ty + tx] = grey;
    }
  }
  return out;
}

Image greyImage() {
  Image image;
  image.kind = VelIsColorSensor() ? "colour" : "grey";
  image.width = VelGetGreyImageWidth(), image.height = VelGetGreyImageHeight();
  image.compressed = VelGetGreyImageDataSize() == 0 && VelGetGreyImageCompressedDataSize() > 0;
  image.mime = image.compressed ? "image/jpeg" : "image/bmp";
  image.file = image.compressed
                   ? copyOf(VelGetGreyImageData(), VelGetGreyImageCompressedDataSize(), kGreyBufferBytes)
                   : copyOf(VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileSize(), kGreyBufferBytes);
  return image;
}

Image binaryImage() {
  Image image;
  image.kind = "binary", image.mime = "image/bmp";
  image.width = VelGetBinaryImageWidth(), image.height = VelGetBinaryImageHeight();
  image.file = copyOf(VelGetBinaryImageBitmapFileData(), VelGetBinaryImageBitmapFileSize(), kBinaryBufferBytes);
  return image;
}

}  // namespace

int64_t nowEpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const std::string& runId() {
  static const std::string id = [] {
    std::random_device random;
    const uint64_t value = (static_cast<uint64_t>(random()) << 32 ^ random()) ^
                           static_cast<uint64_t>(nowEpochMs()) * 0x9E3779B97F4A7C15ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return std::string(text);
  }();
  return id;
}

// The civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
std::string isoTime(int64_t epochMs) {
  const int64_t days = (epochMs >= 0 ? epochMs : epochMs - 86399999) / 86400000;
  const int64_t msOfDay = epochMs - days * 86400000;
  const int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(msOfDay / 3600000),
                static_cast<long long>(msOfDay / 60000 % 60), static_cast<long long>(msOfDay / 1000 % 60),
                static_cast<long long>(msOfDay % 1000));
  return text;
}

std::string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (n > 2) v |= static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[v >> 18 & 63];
    out += kDigits[v >> 12 & 63];
    out += n > 1 ? kDigits[v >> 6 & 63] : '=';
    out += n > 2 ? kDigits[v & 63] : '=';
  }
  return out;
}

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json printableText(const std::string& bytes) {
  for (unsigned char b : bytes) {
    if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b > 0x7E) return nullptr;
  }
  return bytes;
}

CaptureRecord readCapture(const std::string& source, bool decoded, bool greyRead, bool binaryRead) {
  CaptureRecord r;
  r.source = source;
  r.timeMs = nowEpochMs();
  if (decoded) {
    const int count = std::clamp(VelGetNumberOfDecodedBarcodes(), 0, 256);
    std::vector<unsigned char> data(kMaxBarcodeBytes);
    for (int i = 0; i < count; ++i) {
      Barcode b;
      b.type = VelGetBarcodeType(i);
      char name[64] = {};
      const int n = VelGetBarcodeName(b.type, static_cast<int>(sizeof name) - 1, name);
      b.name = n > 0 ? std::string(name, strnlen(name, std::min<size_t>(n, sizeof name - 1))) : "unknown";
      const int length =
          std::clamp(VelGetBarcodeData(i, static_cast<int>(data.size()), data.data()), 0, static_cast<int>(data.size()));
      b.data.assign(reinterpret_cast<const char*>(data.data()), static_cast<size_t>(length));
      const int corners[8] = {VelGetBarcodeTopLeftX(i),     VelGetBarcodeTopLeftY(i),    VelGetBarcodeTopRightX(i),
                              VelGetBarcodeTopRightY(i),    VelGetBarcodeBottomLeftX(i), VelGetBarcodeBottomLeftY(i),
                              VelGetBarcodeBottomRightX(i), VelGetBarcodeBottomRightY(i)};
      std::copy(std::begin(corners), std::end(corners), b.corners);
      b.decodeTime = VelGetBarcodeProcessingTime(i);
      r.barcodes.push_back(std::move(b));
    }
    r.captureTime = VelGetImageCaptureTime();
    r.autoExposureTime = VelGetAutoExposureExecutionTime();
    r.processingTime = VelGetImageProcessingTime();
  }
  if (greyRead) {
    Image grey = greyImage();
    if (!grey.file.empty()) r.images.push_back(std::move(grey));
  }
  if (binaryRead) {
    Image binary = binaryImage();
    if (!binary.file.empty()) r.images.push_back(std::move(binary));
  }
  for (const Image& image : r.images) {
    if (image.mime == "image/bmp") {
      r.thumbnail = thumbnailOf(image.file);
      break;
    }
  }
  return r;
}

nlohmann::json captureJson(const CaptureRecord& c) {
  const std::string base = "/api/captures/" + std::to_string(c.id);
  nlohmann::json barcodes = nlohmann::json::array();
  for (size_t i = 0; i < c.barcodes.size(); ++i) {
    const Barcode& b = c.barcodes[i];
    barcodes.push_back({{"index", i},
                        {"type", b.type},
                        {"name", latin1ToUtf8(b.name)},
                        {"text", printableText(b.data)},
                        {"base64", base64(b.data)},
                        {"length", b.data.size()},
                        {"corners", b.corners},
                        {"decodeTime", b.decodeTime}});
  }
  nlohmann::json images = nlohmann::json::array();
  for (const Image& image : c.images) {
    images.push_back({{"kind", image.kind},
                      {"mime", image.mime},
                      {"width", image.width},
                      {"height", image.height},
                      {"compressed", image.compressed},
                      {"url", base + "/" + image.kind + "?run=" + runId()}});
  }
  return {{"id", c.id},
          {"runId", runId()},
          {"source", c.source},
          {"time", isoTime(c.timeMs)},
          {"timeMs", c.timeMs},
          {"end", c.end},
          {"barcodes", barcodes},
          {"timings", {{"capture", c.captureTime}, {"autoExposure", c.autoExposureTime}, {"processing", c.processingTime}}},
          {"images", images},
          {"thumbnail", c.thumbnail.empty() ? nlohmann::json(nullptr) : nlohmann::json(base + "/thumb?run=" + runId())}};
}

nlohmann::json decodeJson(const CaptureRecord& c, size_t index) {
  const Barcode& b = c.barcodes.at(index);
  return {{"type", b.type},
          {"typeName", latin1ToUtf8(b.name)},
          {"text", printableText(b.data)},
          {"base64", base64(b.data)},
          {"corners", b.corners},
          {"processingTime", b.decodeTime},
          {"captureTime", isoTime(c.timeMs)},
          {"captureTimeMs", c.timeMs},
          {"source", c.source},
          {"runId", runId()},
          {"captureId", c.id},
          {"index", index}};
}

}  // namespace velcli::console
