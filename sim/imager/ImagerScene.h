// Scripted content of the simulated imager: what its captures decode and see.
// The long responses and trigger transfers are built from a Scene: the result
// records in order, the timing record, the status it reports (exposure,
// presentation mode, compression) and the image from which the binary and grey
// sections are produced. Helpers build the data of configuration barcodes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// A decoded barcode (a record of kind 2).
struct SceneBarcode {
  uint8_t type = 1;
  bool configuration = false;       // the data is a configuration barcode (flag bit 0)
  std::array<int16_t, 8> corners{};  // top-left X, Y, top-right X, Y, bottom-left X, Y, bottom-right X, Y
  uint32_t ticks = 0;               // decode time
  Bytes data;                       // at most 65,535 bytes travel (16-bit length); the rest is dropped
};

// A record of a kind the host does not interpret: only its head travels, the
// kind byte and the length it announces (255 and more take the long head).
struct SceneOtherRecord {
  uint8_t kind = 3;
  uint32_t length = 0;
};

using SceneRecord = std::variant<SceneBarcode, SceneOtherRecord>;

struct ExposureReport {
  uint16_t gain = 0;
  uint16_t integrationTime = 0;
  uint8_t illumination = 0;
};

// A grey image, top row first; its binary image is white (1) where grey >= threshold.
struct SceneImage {
  uint16_t width = 0;
  uint16_t height = 0;
  Bytes grey;  // width x height; setScene pads or cuts it to that size
  uint8_t threshold = 128;

  // The binary image as run bytes: firstColour is the colour of the first run;
  // a byte f <= 253 is a run of f + 1 pixels, 254 one of 255 pixels, and both
  // toggle the colour; 255 is 255 pixels of the same colour, the run going on.
  Bytes runBytes(uint8_t& firstColour) const;
  // The part of the image from (x, y), width by height, clipped to the image,
  // taking every (1 << log2Step)-th pixel of every (1 << log2Step)-th row
  // (log2Step is capped at 3).
  SceneImage window(uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t log2Step) const;
};

struct Scene {
  std::vector<SceneRecord> records;  // the result section, in order, before the timing record
  std::array<uint32_t, 4> timing{};  // the timing record's four tick values
  std::optional<ExposureReport> exposure;  // sent with status bit 0x01
  bool presentationMode = false;           // status bit 0x02
  // Status bits announcing a compressed grey image: 0 (not compressed unless the
  // host's capture asks with operation flag 0x10), 0x10, 0x80 or 0x90.
  uint8_t compressedMark = 0;
  // The size value sent before a compressed grey section: this quality (0..100;
  // the host then reads length-prefixed blocks), or when empty the byte count.
  std::optional<uint8_t> compressedQuality;
  // The compressed grey stream of the whole image; empty: the raw pixels stand in.
  Bytes compressed;
  // Faults: the size value sent before a compressed grey section instead of the
  // true one, and run bytes sent after the binary image's own.
  std::optional<uint32_t> announcedGreySize;
  Bytes extraRuns;
  SceneImage image;
};

// Configuration barcodes: the data is prefix, 16-bit check value (little-endian),
// payload, suffix; the first payload byte selects the form.
enum class ConfigurationForm : uint8_t { NoChange = 1, Compact = 6, Tagged = 7 };

// One item of a tagged configuration stream: tag, 16-bit length, value.
Bytes taggedItem(uint8_t tag, const Bytes& value);
// The form byte followed by body; a tagged body is the items, to which the end tag 0xFF is added.
Bytes configurationPayload(ConfigurationForm form, const Bytes& body = {});
// The barcode data around payload, with its CRC-16/CCITT-FALSE as the check
// value, or (goodCheck false) a value that differs from it.
Bytes configurationData(const Bytes& payload, bool goodCheck, const Bytes& prefix = {}, const Bytes& suffix = {});
SceneBarcode configurationBarcode(uint8_t type, Bytes data);

}  // namespace sim
