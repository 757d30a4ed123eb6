// The simulated imager's configuration store. It keeps the imager's settings in
// its own layout and speaks both wire forms of the configuration: the tagged
// stream (link level 18 and every level other than 17) and the fixed 608-byte
// block (link level 17). Byte-oriented, for the imager's command set:
//   CmdGetConfiguration          -> answerGet(level)
//   CmdSet...Configuration bytes -> applySet(level, bytes)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct ImagerAffix {
  std::vector<uint8_t> prefix;  // at most 12 bytes each
  std::vector<uint8_t> suffix;
};

// What the imager applies to its captures and decodes.
struct ImagerSettings {
  std::array<uint16_t, 4> window{};  // x, y, width, height
  uint16_t integration = 0;
  uint16_t gain = 0;
  uint8_t hwSubsamplingLog2 = 0;
  uint8_t illumination = 0;
  uint8_t noiseLevel = 0;
  uint8_t lowExtreme = 0;
  uint8_t highExtreme = 0;
  int threshold = 0;  // signed
  std::array<bool, 16> option{};
  std::array<uint16_t, 4> aeRegion{};  // x, y, width, height in 1/2048
  uint16_t aeMaxGain = 0;
  uint16_t aeMaxIntegration = 0;
  uint8_t aeMaxIllumination = 0;
  uint8_t maxBarcodes = 0;
  uint8_t mustDecode = 0;
  uint8_t capturesOnTrigger = 0;
  std::array<bool, 6> correction{};  // gauss, gamma, histogram, noise, sharpen, hsv
  uint8_t gaussWidth = 0, gaussFlat = 0, gamma = 0, noisePass1 = 0, noisePass2 = 0;
  uint8_t histogramMode = 0, histogramLow = 0, histogramHigh = 0, histogramBrightness = 0, histogramContrast = 0;
  int hue = 0;  // signed
  uint16_t saturation = 0, value = 0;
  uint32_t sharpenWeight = 0;
  uint8_t presentationCycle = 0;
  std::array<bool, 6> ordering{};
  std::vector<uint8_t> typeOrder;  // at most 23 ids
  std::array<ImagerAffix, 23> affix;
  uint64_t symbologies = 0;
  uint16_t decoderTimeoutMs = 0;
  uint16_t rotation = 0;
  uint8_t swSubsampling = 0;
  bool compressImages = false;
  uint8_t compressQuality = 0;
  bool stampEnabled = false, stampDateOnly = false, stampOption = false;
  uint8_t stampDateFormat = 0, stampParameter = 0, stampColor = 0, stampLocation = 0;
  uint16_t stampAnchorX = 0, stampAnchorY = 0;
  bool perspective = false;
};

class ImagerConfigStore {
 public:
  static constexpr int kFixedLevel = 17;
  static constexpr int kTaggedLevel = 18;
  static constexpr size_t kBlockBytes = 608;

  ImagerConfigStore();  // the imager's factory settings

  // Response to a configuration read: for level 17 a uint16 608 and the block,
  // otherwise tags 0..25 and the end tag 0xFF.
  std::vector<uint8_t> answerGet(int level) const;
  // A configuration write as it follows the command byte. Answers false when the
  // bytes are not a complete configuration (bad fixed length, stream without its
  // end tag, item cut short); what was complete before that point is applied.
  bool applySet(int level, const uint8_t* bytes, size_t length);
  bool applySet(int level, const std::vector<uint8_t>& bytes) { return applySet(level, bytes.data(), bytes.size()); }

  // Bytes of a configuration write still to come: lets a command reader take the
  // request off its port piece by piece. Answers how many more bytes are needed
  // after `have` (0 when complete).
  static size_t bytesStillNeeded(int level, const uint8_t* bytes, size_t have);

  ImagerSettings& settings() { return s_; }
  const ImagerSettings& settings() const { return s_; }

 private:
  void applyItem(uint8_t tag, const uint8_t* p, size_t n);
  void applyBlock(const uint8_t* b);
  std::vector<uint8_t> taggedStream() const;
  std::vector<uint8_t> block() const;

  ImagerSettings s_;
};

}  // namespace sim
