#include "imager/ImagerScene.h"

#include <algorithm>

#include "imager/WireCrc.h"

namespace sim {

namespace {
constexpr uint8_t kEndTag = 0xFF;
constexpr size_t kLongestRun = 255;
constexpr uint8_t kRunGoesOn = 255;   // 255 pixels, same colour after
constexpr uint8_t kLongestToggle = 254;  // 255 pixels, then the colour toggles
constexpr uint8_t kMaxLog2Step = 3;

// Appends the run bytes of one run of length pixels that ends with a colour change
// (or with the image).
void appendRun(Bytes& runs, size_t length) {
  while (length > kLongestRun) {
    runs.push_back(kRunGoesOn);
    length -= kLongestRun;
  }
  runs.push_back(length == kLongestRun ? kLongestToggle : static_cast<uint8_t>(length - 1));
}
}  // namespace

Bytes SceneImage::runBytes(uint8_t& firstColour) const {
  Bytes runs;
  const size_t pixels = std::min(grey.size(), static_cast<size_t>(width) * height);
  firstColour = 0;
  if (pixels == 0) return runs;
  auto colour = [this](size_t i) { return static_cast<uint8_t>(grey[i] >= threshold ? 1 : 0); };
  firstColour = colour(0);
  size_t start = 0;
  for (size_t i = 1; i <= pixels; ++i) {
    if (i < pixels && colour(i) == colour(start)) continue;
    appendRun(runs, i - start);
    start = i;
  }
  return runs;
}

SceneImage SceneImage::window(uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t log2Step) const {
  SceneImage out;
  out.threshold = threshold;
  const size_t step = size_t{1} << std::min(log2Step, kMaxLog2Step);
  const size_t right = std::min<size_t>(static_cast<size_t>(x) + w, width);
  const size_t bottom = std::min<size_t>(static_cast<size_t>(y) + h, height);
  if (x >= right || y >= bottom || grey.size() < static_cast<size_t>(width) * height) return out;
  out.width = static_cast<uint16_t>((right - x + step - 1) / step);
  out.height = static_cast<uint16_t>((bottom - y + step - 1) / step);
  for (size_t row = y; row < bottom; row += step)
    for (size_t col = x; col < right; col += step) out.grey.push_back(grey[row * width + col]);
  return out;
}

Bytes taggedItem(uint8_t tag, const Bytes& value) {
  const size_t length = std::min<size_t>(value.size(), 0xFFFF);
  Bytes item(3 + length);
  item[0] = tag;
  item[1] = static_cast<uint8_t>(length);
  item[2] = static_cast<uint8_t>(length >> 8);
  std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length), item.begin() + 3);
  return item;
}

Bytes configurationPayload(ConfigurationForm form, const Bytes& body) {
  Bytes payload(1 + body.size());
  payload[0] = static_cast<uint8_t>(form);
  std::copy(body.begin(), body.end(), payload.begin() + 1);
  if (form == ConfigurationForm::Tagged) payload.push_back(kEndTag);
  return payload;
}

Bytes configurationData(const Bytes& payload, bool goodCheck, const Bytes& prefix, const Bytes& suffix) {
  uint16_t check = wireCrc(payload.data(), payload.size());
  if (!goodCheck) check ^= 0x0001;
  Bytes data = prefix;
  data.push_back(static_cast<uint8_t>(check));
  data.push_back(static_cast<uint8_t>(check >> 8));
  data.insert(data.end(), payload.begin(), payload.end());
  data.insert(data.end(), suffix.begin(), suffix.end());
  return data;
}

SceneBarcode configurationBarcode(uint8_t type, Bytes data) {
  SceneBarcode barcode;
  barcode.type = type;
  barcode.configuration = true;
  barcode.data = std::move(data);
  return barcode;
}

}  // namespace sim
