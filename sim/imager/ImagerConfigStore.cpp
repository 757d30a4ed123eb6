#include "imager/ImagerConfigStore.h"

#include <algorithm>

namespace sim {

namespace {

class Out {
 public:
  void u8(unsigned v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void flag(bool v) { u8(v ? 1 : 0); }
  void u16(unsigned v) { u8(v & 0xFF); u8((v >> 8) & 0xFF); }
  void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
  void raw(const std::vector<uint8_t>& v) { bytes.insert(bytes.end(), v.begin(), v.end()); }
  std::vector<uint8_t> bytes;
};

class In {
 public:
  In(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  size_t left() const { return n_ - at_; }
  uint8_t u8() { return at_ < n_ ? p_[at_++] : 0; }
  bool flag() { return u8() != 0; }
  uint16_t u16() { const unsigned lo = u8(); return static_cast<uint16_t>(lo | (u8() << 8)); }
  uint32_t u32() { const uint32_t lo = u16(); return lo | (uint32_t(u16()) << 16); }
  std::vector<uint8_t> take(size_t n) {
    n = std::min(n, left());
    std::vector<uint8_t> v(p_ + at_, p_ + at_ + n);
    at_ += n;
    return v;
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
};

std::vector<uint8_t> cut12(std::vector<uint8_t> v) {
  if (v.size() > 12) v.resize(12);
  return v;
}

// Option bits as the fixed block carries them.
constexpr int kBlockOptionBits[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12};

}  // namespace

ImagerConfigStore::ImagerConfigStore() {
  ImagerSettings& s = s_;
  s.window = {0, 0, 1280, 1024};
  s.integration = 26169;
  s.gain = 5120;
  s.illumination = 5;
  s.noiseLevel = 33;
  s.lowExtreme = s.highExtreme = 50;
  for (int bit : {0, 3, 5, 6, 8, 10, 11}) s.option[bit] = true;
  s.aeRegion = {768, 768, 512, 512};
  s.aeMaxGain = 7920;
  s.aeMaxIntegration = 26169;
  s.aeMaxIllumination = 7;
  s.maxBarcodes = s.mustDecode = 1;
  s.capturesOnTrigger = 32;
  s.correction = {false, true, true, true, false, false};
  s.gaussWidth = s.gaussFlat = 90;
  s.gamma = 17;
  s.noisePass1 = 20;
  s.noisePass2 = 5;
  s.histogramMode = 1;
  s.histogramHigh = 255;
  s.histogramBrightness = s.histogramContrast = 128;
  s.saturation = s.value = 256;
  s.sharpenWeight = 70;
  s.presentationCycle = 5;
  for (int id = 0; id < 23; ++id)
    if (id != 0 && id != 19 && id != 22) s.affix[id].suffix = {0x0D, 0x0A};
  s.symbologies = 0x000000109100220Cull;
  s.decoderTimeoutMs = 500;
  s.swSubsampling = 2;
  s.compressQuality = 75;
  s.stampParameter = 3;
  s.stampColor = 1;
  s.stampLocation = 4;
  s.stampAnchorX = 0xFFFF;
}

std::vector<uint8_t> ImagerConfigStore::answerGet(int level) const {
  if (level != kFixedLevel) return taggedStream();
  Out o;
  o.u16(kBlockBytes);
  o.raw(block());
  return o.bytes;
}

std::vector<uint8_t> ImagerConfigStore::taggedStream() const {
  const ImagerSettings& s = s_;
  Out all;
  for (int tag = 0; tag <= 25; ++tag) {
    Out o;
    switch (tag) {
      case 0: o.u32(static_cast<uint32_t>(s.symbologies)); o.u32(static_cast<uint32_t>(s.symbologies >> 32)); break;
      case 1: o.u8(s.maxBarcodes); o.u8(s.mustDecode); o.u16(s.decoderTimeoutMs); break;
      case 2: for (uint16_t v : s.window) o.u16(v); break;
      case 3: o.u8(s.hwSubsamplingLog2); break;
      case 4: o.u16(s.gain); o.u16(s.integration); o.u8(s.illumination); break;
      case 5:
        o.flag(s.option[10]); o.flag(s.option[11]); o.flag(s.option[12]);
        o.u16(s.aeMaxGain); o.u16(s.aeMaxIntegration); o.u8(s.aeMaxIllumination);
        for (uint16_t v : s.aeRegion) o.u16(v);
        break;
      case 6:
        o.u8(s.noiseLevel); o.u8(s.lowExtreme); o.u8(s.highExtreme); o.u8(static_cast<uint8_t>(s.threshold));
        o.flag(s.option[0]); o.flag(s.option[1]); o.flag(s.option[2]);
        break;
      case 7: for (int b = 3; b <= 6; ++b) o.flag(s.option[b]); o.u8(s.capturesOnTrigger); break;
      case 8: o.flag(s.option[8]); break;
      case 9: o.flag(s.option[9]); o.u8(s.presentationCycle); break;
      case 10: o.flag(s.correction[0]); o.u8(s.gaussWidth); o.u8(s.gaussFlat); break;
      case 11: o.flag(s.correction[1]); o.u8(s.gamma); break;
      case 12: o.flag(s.correction[3]); o.u8(s.noisePass1); o.u8(s.noisePass2); break;
      case 13: {
        for (int b = 0; b < 5; ++b) o.flag(s.ordering[b]);
        std::vector<uint8_t> ids;
        for (uint8_t id : s.typeOrder) {
          if (id == 0 || ids.size() == 23) break;
          ids.push_back(id);
        }
        o.u8(static_cast<unsigned>(ids.size()));
        o.raw(ids);
        break;
      }
      case 14: {
        Out items;
        unsigned count = 0;
        for (int id = 0; id < 23; ++id) {
          const ImagerAffix& a = s.affix[id];
          if (a.prefix.empty() && a.suffix.empty()) continue;
          items.u8(id);
          items.u8(static_cast<unsigned>(a.prefix.size()));
          items.raw(a.prefix);
          items.u8(static_cast<unsigned>(a.suffix.size()));
          items.raw(a.suffix);
          ++count;
        }
        o.flag(s.ordering[5]);
        o.u8(count);
        o.raw(items.bytes);
        break;
      }
      case 15: o.flag(s.option[7]); break;
      case 16: o.flag(s.option[13]); break;
      case 17: o.u16(s.rotation); break;
      case 18: o.u8(s.swSubsampling); break;
      case 19: o.flag(s.option[14]); break;
      case 20:
        o.flag(s.correction[2]); o.u8(s.histogramMode); o.u8(s.histogramLow); o.u8(s.histogramHigh);
        o.u8(s.histogramBrightness); o.u8(s.histogramContrast);
        break;
      case 21: o.flag(s.correction[4]); o.u32(s.sharpenWeight); break;
      case 22: o.flag(s.correction[5]); o.u16(static_cast<uint16_t>(s.hue)); o.u16(s.saturation); o.u16(s.value); break;
      case 23: o.flag(s.option[15]); break;
      case 24: o.flag(s.compressImages); o.u8(s.compressQuality); o.flag(s.perspective); break;
      case 25:
        o.flag(s.stampEnabled); o.u8(s.stampDateFormat); o.flag(s.stampDateOnly); o.flag(s.stampOption);
        o.u8(s.stampParameter); o.u8(s.stampColor); o.u8(s.stampLocation); o.u16(s.stampAnchorX); o.u16(s.stampAnchorY);
        break;
    }
    all.u8(tag);
    all.u16(static_cast<unsigned>(o.bytes.size()));
    all.raw(o.bytes);
  }
  all.u8(0xFF);
  return all.bytes;
}

void ImagerConfigStore::applyItem(uint8_t tag, const uint8_t* p, size_t n) {
  static const size_t kLength[26] = {8, 4, 8, 1, 5, 16, 7, 5, 1, 2, 3, 2, 3, 0, 0, 1, 1, 2, 1, 1, 6, 5, 7, 1, 3, 11};
  if (tag > 25) return;
  if (tag == 13 ? n < 6 : tag == 14 ? n < 2 : n != kLength[tag]) return;
  ImagerSettings& s = s_;
  In in(p, n);
  switch (tag) {
    case 0: { const uint64_t lo = in.u32(); s.symbologies = lo | (uint64_t(in.u32()) << 32); break; }
    case 1: s.maxBarcodes = in.u8(); s.mustDecode = in.u8(); s.decoderTimeoutMs = in.u16(); break;
    case 2: for (uint16_t& v : s.window) v = in.u16(); break;
    case 3: s.hwSubsamplingLog2 = in.u8(); break;
    case 4: s.gain = in.u16(); s.integration = in.u16(); s.illumination = in.u8(); break;
    case 5:
      s.option[10] = in.flag(); s.option[11] = in.flag(); s.option[12] = in.flag();
      s.aeMaxGain = in.u16(); s.aeMaxIntegration = in.u16(); s.aeMaxIllumination = in.u8();
      for (uint16_t& v : s.aeRegion) v = in.u16();
      break;
    case 6:
      s.noiseLevel = in.u8(); s.lowExtreme = in.u8(); s.highExtreme = in.u8();
      s.threshold = static_cast<int8_t>(in.u8());
      s.option[0] = in.flag(); s.option[1] = in.flag(); s.option[2] = in.flag();
      break;
    case 7: for (int b = 3; b <= 6; ++b) s.option[b] = in.flag(); s.capturesOnTrigger = in.u8(); break;
    case 8: s.option[8] = in.flag(); break;
    case 9: s.option[9] = in.flag(); s.presentationCycle = in.u8(); break;
    case 10: s.correction[0] = in.flag(); s.gaussWidth = in.u8(); s.gaussFlat = in.u8(); break;
    case 11: s.correction[1] = in.flag(); s.gamma = in.u8(); break;
    case 12: s.correction[3] = in.flag(); s.noisePass1 = in.u8(); s.noisePass2 = in.u8(); break;
    case 13: {
      for (int b = 0; b < 5; ++b) s.ordering[b] = in.flag();
      const size_t count = in.u8();
      s.typeOrder.clear();
      for (uint8_t id : in.take(count))
        if (id < 23 && s.typeOrder.size() < 23) s.typeOrder.push_back(id);
      break;
    }
    case 14: {
      s.ordering[5] = in.flag();
      const unsigned count = in.u8();
      for (ImagerAffix& a : s.affix) a = ImagerAffix{};
      for (unsigned i = 0; i < count && in.left() > 0; ++i) {
        const unsigned id = in.u8();
        if (id >= 23) break;
        s.affix[id].prefix = cut12(in.take(in.u8()));
        s.affix[id].suffix = cut12(in.take(in.u8()));
      }
      break;
    }
    case 15: s.option[7] = in.flag(); break;
    case 16: s.option[13] = in.flag(); break;
    case 17: s.rotation = in.u16(); break;
    case 18: s.swSubsampling = in.u8(); break;
    case 19: s.option[14] = in.flag(); break;
    case 20:
      s.correction[2] = in.flag(); s.histogramMode = in.u8(); s.histogramLow = in.u8(); s.histogramHigh = in.u8();
      s.histogramBrightness = in.u8(); s.histogramContrast = in.u8();
      break;
    case 21: s.correction[4] = in.flag(); s.sharpenWeight = in.u32(); break;
    case 22: s.correction[5] = in.flag(); s.hue = static_cast<int16_t>(in.u16()); s.saturation = in.u16(); s.value = in.u16(); break;
    case 23: s.option[15] = in.flag(); break;
    case 24: s.compressImages = in.flag(); s.compressQuality = in.u8(); s.perspective = in.flag(); break;
    case 25:
      s.stampEnabled = in.flag(); s.stampDateFormat = in.u8(); s.stampDateOnly = in.flag(); s.stampOption = in.flag();
      s.stampParameter = in.u8(); s.stampColor = in.u8(); s.stampLocation = in.u8();
      s.stampAnchorX = in.u16(); s.stampAnchorY = in.u16();
      break;
  }
}

std::vector<uint8_t> ImagerConfigStore::block() const {
  const ImagerSettings& s = s_;
  Out o;
  for (uint16_t v : s.window) o.u16(v);
  o.u16(s.integration); o.u16(s.gain);
  o.u8(s.hwSubsamplingLog2); o.u8(s.illumination); o.u8(s.noiseLevel); o.u8(s.lowExtreme); o.u8(s.highExtreme);
  o.u8(static_cast<uint8_t>(s.threshold));
  unsigned options = 0;
  for (int bit : kBlockOptionBits) options |= unsigned(s.option[bit]) << bit;
  o.u16(options);
  for (uint16_t v : s.aeRegion) o.u16(v);
  o.u16(s.aeMaxGain); o.u16(s.aeMaxIntegration); o.u8(s.aeMaxIllumination);
  o.u8(s.maxBarcodes); o.u8(s.mustDecode); o.u8(s.capturesOnTrigger);
  o.u8(unsigned(s.correction[0]) | (unsigned(s.correction[1]) << 1) | (unsigned(s.correction[3]) << 2));
  o.u8(s.gaussWidth); o.u8(s.gaussFlat); o.u8(s.gamma); o.u8(s.noisePass1); o.u8(s.noisePass2);
  o.u8(0);
  o.u8(s.presentationCycle);
  for (size_t i = 0; i < 19; ++i) o.u8(i < s.typeOrder.size() ? s.typeOrder[i] : 0);
  o.u8(0); o.u8(0); o.u8(0);
  unsigned ordering = 0;
  for (int b = 0; b < 6; ++b) ordering |= unsigned(s.ordering[b]) << b;
  o.u16(ordering);
  for (int id = 0; id < 19; ++id) {
    const ImagerAffix& a = s.affix[id];
    o.u8(id); o.u8(static_cast<unsigned>(a.prefix.size())); o.u8(static_cast<unsigned>(a.suffix.size())); o.u8(0);
    for (size_t i = 0; i < 12; ++i) o.u8(i < a.prefix.size() ? a.prefix[i] : 0);
    for (size_t i = 0; i < 12; ++i) o.u8(i < a.suffix.size() ? a.suffix[i] : 0);
  }
  o.u32(static_cast<uint32_t>(s.symbologies)); o.u32(static_cast<uint32_t>(s.symbologies >> 32));
  return o.bytes;
}

void ImagerConfigStore::applyBlock(const uint8_t* b) {
  ImagerSettings& s = s_;
  In in(b, kBlockBytes);
  for (uint16_t& v : s.window) v = in.u16();
  s.integration = in.u16(); s.gain = in.u16();
  s.hwSubsamplingLog2 = in.u8(); s.illumination = in.u8(); s.noiseLevel = in.u8(); s.lowExtreme = in.u8();
  s.highExtreme = in.u8(); s.threshold = static_cast<int8_t>(in.u8());
  const unsigned options = in.u16();
  for (int bit : kBlockOptionBits) s.option[bit] = (options >> bit) & 1;
  for (uint16_t& v : s.aeRegion) v = in.u16();
  s.aeMaxGain = in.u16(); s.aeMaxIntegration = in.u16(); s.aeMaxIllumination = in.u8();
  s.maxBarcodes = in.u8(); s.mustDecode = in.u8(); s.capturesOnTrigger = in.u8();
  const unsigned corrections = in.u8();
  s.correction[0] = corrections & 1; s.correction[1] = corrections & 2; s.correction[3] = corrections & 4;
  s.gaussWidth = in.u8(); s.gaussFlat = in.u8(); s.gamma = in.u8(); s.noisePass1 = in.u8(); s.noisePass2 = in.u8();
  in.u8();
  s.presentationCycle = in.u8();
  s.typeOrder = in.take(19);
  in.take(3);
  const unsigned ordering = in.u16();
  for (int bit = 0; bit < 6; ++bit) s.ordering[bit] = (ordering >> bit) & 1;
  for (int id = 0; id < 19; ++id) {
    in.u8();
    const size_t prefixLength = std::min<size_t>(in.u8(), 12);
    const size_t suffixLength = std::min<size_t>(in.u8(), 12);
    in.u8();
    std::vector<uint8_t> prefix = in.take(12), suffix = in.take(12);
    prefix.resize(prefixLength);
    suffix.resize(suffixLength);
    s.affix[id] = ImagerAffix{prefix, suffix};
  }
  const uint64_t lo = in.u32();
  s.symbologies = lo | (uint64_t(in.u32()) << 32);
}

bool ImagerConfigStore::applySet(int level, const uint8_t* bytes, size_t length) {
  if (!bytes) return false;
  if (level == kFixedLevel) {
    if (length < 2 + kBlockBytes || (bytes[0] | (bytes[1] << 8)) != kBlockBytes) return false;
    applyBlock(bytes + 2);
    return true;
  }
  size_t at = 0;
  while (at < length) {
    const uint8_t tag = bytes[at++];
    if (tag == 0xFF) return true;
    if (length - at < 2) return false;
    const size_t n = bytes[at] | (bytes[at + 1] << 8);
    at += 2;
    if (n > length - at) return false;
    applyItem(tag, bytes + at, n);
    at += n;
  }
  return false;
}

size_t ImagerConfigStore::bytesStillNeeded(int level, const uint8_t* bytes, size_t have) {
  if (level == kFixedLevel) {
    if (have < 2) return 2 - have;
    const size_t declared = bytes[0] | (bytes[1] << 8);
    const size_t total = declared == kBlockBytes ? 2 + kBlockBytes : 2;
    return have < total ? total - have : 0;
  }
  size_t at = 0;
  for (;;) {
    if (at >= have) return 1;
    if (bytes[at] == 0xFF) return 0;
    if (have - at < 3) return 3 - (have - at);
    const size_t n = bytes[at + 1] | (bytes[at + 2] << 8);
    if (have - at - 3 < n) return n - (have - at - 3);
    at += 3 + n;
  }
}

}  // namespace sim
