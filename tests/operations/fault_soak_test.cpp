// Captures through the exports over a serial line with faults injected at random:
// bytes corrupted and lost both ways, packets corrupted and dropped by the imager,
// the imager stalling, line events, the imager losing its link state, cancels and
// disconnects at random moments. Grey images raw and compressed, binary images,
// decode results, and a colour sensor's images. Every capture either ends Done
// with exactly what the imager sent published, or reports its failure (Aborted,
// the communication status, or the disconnect it suffered); what stays published
// is always one whole earlier capture's; no run hangs, and the library connects
// again afterwards.
//
// VEL_SOAK_CAPTURES sets the number of captures (default 100), VEL_SOAK_SEED the
// seed (default fixed). The seed and an outcome table print at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "PublishedImages.h"
#include "SimulatedImagerFixture.h"

using simimager::Line;
using simimager::Note;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;
using published::binaryPixels;

namespace {

constexpr uint16_t kWidth = 256;
constexpr uint16_t kHeight = 96;
constexpr uint8_t kCompressedStatus = 0x10;
constexpr int kChannelTimeoutMs = 2000;
constexpr uint32_t kRunTimeoutMs = 20000;

enum class Kind { GreyRaw, GreyCompressed, Binary, Results, Colour, kCount };
const char* const kKindNames[] = {"grey raw", "grey compressed", "binary", "results", "colour"};

enum class Fault {
  None,
  CorruptBytes,
  DropBytes,
  HostBytes,
  CorruptPackets,
  DropPackets,
  Stall,
  LineEvent,
  LostState,
  Cancel,
  Disconnect,
  kCount
};
const char* const kFaultNames[] = {"none",         "corrupted bytes", "dropped bytes", "host bytes damaged",
                                   "corrupted packets", "dropped packets", "stall", "line event",
                                   "lost state",   "cancel",          "disconnect"};

int envOr(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

// Two scenes per imager that differ in every pixel, every compressed byte and every barcode.
sim::Scene soakScene(int which) {
  sim::Scene scene;
  scene.image.width = kWidth;
  scene.image.height = kHeight;
  for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i)
    scene.image.grey.push_back(static_cast<uint8_t>(which == 0 ? (i * 7) & 0x7F : 0x80 | ((i * 13) & 0x7F)));
  for (int b = 0; b < 3; ++b) {
    sim::SceneBarcode code;
    code.type = 3;
    const std::string text = std::string(which == 0 ? "ALPHA-" : "BRAVO-") + std::to_string(b) + "-NOISY-LINE";
    code.data.assign(text.begin(), text.end());
    scene.records.push_back(code);
  }
  scene.timing = {10, 20, 30, 40};
  return scene;
}

sim::Scene compressedOf(sim::Scene scene, int which) {
  scene.compressedMark = kCompressedStatus;
  for (size_t i = 0; i < 6000; ++i) scene.compressed.push_back(static_cast<uint8_t>(which == 0 ? i * 3 : ~(i * 3)));
  return scene;
}

Bytes binaryOf(const sim::Scene& scene) {
  Bytes out;
  for (uint8_t g : scene.image.grey) out.push_back(g >= scene.image.threshold ? 1 : 0);
  return out;
}

Texts textsOf(const sim::Scene& scene) {
  Texts texts;
  for (const auto& record : scene.records) {
    const auto& code = std::get<sim::SceneBarcode>(record);
    texts.emplace_back(code.data.begin(), code.data.end());
  }
  return texts;
}

// What the library publishes, read through the exports.
Texts publishedTexts() {
  Texts texts;
  for (int i = 0; i < VelGetNumberOfDecodedBarcodes(); ++i) {
    unsigned char data[256];
    const int n = VelGetBarcodeData(i, sizeof data, data);
    texts.emplace_back(reinterpret_cast<char*>(data), static_cast<size_t>(n < 0 ? 0 : n));
  }
  return texts;
}

Bytes tagged(char tag, const Bytes& bytes) {
  Bytes out(bytes.size() + 1);
  out[0] = static_cast<uint8_t>(tag);
  std::copy(bytes.begin(), bytes.end(), out.begin() + 1);
  return out;
}

// The grey buffer as one value: compressed bytes behind a 'C', pixels behind an 'R'.
// A compressed image has no pixel data size.
Bytes publishedGrey() {
  const uint8_t* data = VelGetGreyImageData();
  const int compressed = VelGetGreyImageCompressedDataSize(), size = VelGetGreyImageDataSize();
  if (size == 0 && compressed > 0 && data) return tagged('C', Bytes(data, data + compressed));
  return tagged('R', size > 0 && data ? Bytes(data, data + size) : Bytes{});
}

// A scene's grey pixels as the grey buffer holds them: bottom row first, rows padded to 4 bytes.
Bytes bufferRows(const sim::SceneImage& image) {
  const size_t stride = (size_t{image.width} + 3) & ~size_t{3};
  Bytes out;
  for (size_t y = image.height; y-- > 0;) {
    out.insert(out.end(), image.grey.begin() + static_cast<long>(y * image.width),
               image.grey.begin() + static_cast<long>((y + 1) * image.width));
    out.resize(out.size() + stride - image.width);
  }
  return out;
}


// The run's last progress note; a failed section's Aborted may come before the run's own end.
Note lastNote(std::vector<Note> run) {
  if (!run.empty() && run.back() == progress(100, 2)) {
    const auto rest = takeRun(500);
    run.insert(run.end(), rest.begin(), rest.end());
  }
  return run.empty() ? Note{} : run.back();
}

bool endsDone(const Note& n) { return n == progress(100, 1); }
bool endsAborted(const Note& n) { return n == progress(100, 2); }

template <class T>
bool oneOf(const T& value, const std::vector<T>& wholes) {
  for (const T& w : wholes)
    if (value == w) return true;
  return false;
}

struct Tally {
  int captures = 0, correct = 0, failed = 0, wrong = 0, hangs = 0, reconnects = 0;
  std::array<int, static_cast<size_t>(Fault::kCount)> faults{};
  std::array<int, static_cast<size_t>(Kind::kCount)> kinds{};
  std::array<int, static_cast<size_t>(Kind::kCount)> kindsCorrect{};
};

// One imager on COM4 and the captures made of it, with the faults of each.
class Soak {
 public:
  Soak(sim::ImagerIdentity identity, std::mt19937& random, Tally& tally)
      : imager_(Line::Serial, identity), random_(random), tally_(tally) {}

  bool connect() {
    if (imager_.connect(kChannelTimeoutMs) != 1) return false;
    VelRegisterHostOperationProgressThread(thisThreadWithQueue());
    return true;
  }

  // A capture without faults: the reference for what a faulty one may publish.
  Bytes cleanGrey(const sim::Scene& scene) {
    imager_.operations().setScene(scene);
    VelCaptureImage(0, 0, 1, 0);
    EXPECT_TRUE(endsDone(lastNote(takeRun(kRunTimeoutMs))));
    return publishedGrey();
  }

  // What may stay published after a failure: whole images of these, and the results of
  // these sets as far as they came (a result section cut short publishes the barcodes
  // received so far, the one cut short with an empty slot).
  void setWholes(std::vector<Bytes> greys, std::vector<Bytes> binaries, const std::vector<Texts>& texts) {
    greys_ = std::move(greys), binaries_ = std::move(binaries);
    greys_.push_back(tagged('R', Bytes{})), binaries_.push_back(Bytes{});
    texts_.clear();
    for (const Texts& all : texts) {
      for (size_t n = 0; n <= all.size(); ++n) {
        Texts prefix(all.begin(), all.begin() + static_cast<long>(n));
        texts_.push_back(prefix);
        prefix.emplace_back();
        texts_.push_back(prefix);
      }
    }
  }

  // Captures the scene with a random fault; expected: the published value of its kind when Done.
  void capture(int index, Kind kind, const sim::Scene& scene, const Bytes& expected) {
    const Fault fault = static_cast<Fault>(random_() % static_cast<unsigned>(Fault::kCount));
    ++tally_.captures;
    ++tally_.faults[static_cast<size_t>(fault)];
    ++tally_.kinds[static_cast<size_t>(kind)];
    imager_.operations().setScene(scene);
    armBefore(fault);
    switch (kind) {
      case Kind::GreyRaw:
      case Kind::Colour: VelCaptureImage(0, 0, 1, 0); break;
      case Kind::GreyCompressed: VelCaptureImage(0, 0, 1, 1); break;
      case Kind::Binary: VelCaptureImage(0, 1, 0, 0); break;
      default: VelCaptureImage(1, 0, 0, 0); break;
    }
    const bool disconnected = injectDuring(fault);
    const Note end = lastNote(takeRun(disconnected ? 1000 : kRunTimeoutMs));
    disarm();

    const std::string what = "capture " + std::to_string(index) + " (" + kKindNames[static_cast<int>(kind)] + ", " +
                             kFaultNames[static_cast<int>(fault)] + ")";
    const Bytes grey = publishedGrey(), binary = binaryPixels();
    const Texts texts = publishedTexts();
    // Whatever is published is one capture's, whole.
    bool whole = oneOf(grey, greys_) && oneOf(binary, binaries_) && oneOf(texts, texts_);
    if (endsDone(end)) {
      const bool right = kind == Kind::Binary ? binary == expected
                         : kind == Kind::Results ? texts == textsOf(scene)
                                                 : grey == expected;
      whole = whole && right;
      tally_.correct += whole;
      tally_.kindsCorrect[static_cast<size_t>(kind)] += whole;
    } else if (endsAborted(end) || disconnected || VelGetCommunicationStatus() != 1) {
      ++tally_.failed;
    } else {
      ++tally_.hangs;
      ADD_FAILURE() << what << " neither ended nor reported a failure";
    }
    if (!whole) {
      ++tally_.wrong;
      ADD_FAILURE() << what << " published a damaged, mixed or wrong capture: grey of " << grey.size()
                    << " bytes, binary of " << binary.size() << ", " << texts.size() << " barcodes; expected "
                    << expected.size() << " bytes; ended " << end.wParam << "/" << end.lParam;
    }
    // A connection left failed (or closed) is opened again, as an application would;
    // the new connection resets the link, which ends a response the host gave up on.
    if (disconnected || VelGetCommunicationStatus() != 1) {
      ++tally_.reconnects;
      ASSERT_TRUE(connect()) << what << ": no connection afterwards";
    }
    VelRegisterHostOperationProgressThread(thisThreadWithQueue());
  }

 private:
  // Faults armed before the capture starts.
  void armBefore(Fault fault) {
    auto* line = imager_.serialLine();
    const uint32_t seed = random_();
    switch (fault) {
      case Fault::CorruptBytes: line->setNoise(50 + random_() % 400, 0, seed); break;
      case Fault::DropBytes: line->setNoise(0, 50 + random_() % 400, seed); break;
      case Fault::HostBytes: line->setHostNoise(20000 + random_() % 80000, 20000 + random_() % 80000, seed); break;
      case Fault::CorruptPackets: imager_.link().corruptOutgoingPackets(1 + static_cast<int>(random_() % 3)); break;
      case Fault::DropPackets: imager_.link().dropOutgoingPackets(1 + static_cast<int>(random_() % 3)); break;
      case Fault::Stall:
        // Short stalls are ridden out; those beyond the channel timeout fail the capture.
        imager_.operations().control().stall(sim::Channel::Command, random_() % 20000,
                                             static_cast<int>(20 + random_() % (kChannelTimeoutMs + 1000)));
        break;
      default: break;
    }
  }

  // Faults injected at a random moment of the transfer; answers whether it disconnected.
  bool injectDuring(Fault fault) {
    static constexpr uint32_t kLineEvents[] = {vel::devices::kLineCts, vel::devices::kLineDsr,
                                               vel::devices::kLineBreak, vel::devices::kLineError};
    if (fault < Fault::LineEvent) return false;
    vel::platform::sleepMs(random_() % 40);
    switch (fault) {
      case Fault::LineEvent: imager_.serialLine()->injectLineEvent(kLineEvents[random_() % 4]); break;
      case Fault::LostState: imager_.link().loseState(); break;
      case Fault::Cancel: VelCancelHostInitiatedOperation(); break;
      case Fault::Disconnect: VelDeviceDisconnect(); return true;
      default: break;
    }
    return false;
  }

  void disarm() {
    imager_.serialLine()->setNoise(0, 0, 1);
    imager_.serialLine()->setHostNoise(0, 0, 1);
    imager_.link().corruptOutgoingPackets(0);
    imager_.link().dropOutgoingPackets(0);
    imager_.operations().control().releaseStall();
  }

  SimulatedImager imager_;
  std::mt19937& random_;
  Tally& tally_;
  std::vector<Bytes> greys_, binaries_;
  std::vector<Texts> texts_;
};

void printTable(unsigned seed, const Tally& t) {
  std::printf("fault soak, seed %u\n", seed);
  std::printf("  captures          %6d\n", t.captures);
  for (size_t k = 0; k < t.kinds.size(); ++k)
    std::printf("    %-24s %5d (%d published correct)\n", kKindNames[k], t.kinds[k], t.kindsCorrect[k]);
  std::printf("  faults injected\n");
  for (size_t f = 0; f < t.faults.size(); ++f) std::printf("    %-24s %5d\n", kFaultNames[f], t.faults[f]);
  std::printf("  published correct %6d\n  reported failed   %6d\n  wrong published   %6d\n  hangs             %6d\n"
              "  reconnects        %6d\n",
              t.correct, t.failed, t.wrong, t.hangs, t.reconnects);
}

}  // namespace

TEST(FaultSoak, EveryCapturePublishesWhatTheImagerSentOrReportsItsFailure) {
  const int captures = envOr("VEL_SOAK_CAPTURES", 100);
  const auto seed = static_cast<unsigned>(envOr("VEL_SOAK_SEED", 20261208));
  std::mt19937 random(seed);
  Tally tally;
  const sim::Scene scenes[2] = {soakScene(0), soakScene(1)};
  const sim::Scene compressed[2] = {compressedOf(scenes[0], 0), compressedOf(scenes[1], 1)};

  // A monochrome imager (SA-1110, so binary images too): four kinds of capture in turn.
  const int monochrome = captures - captures / 5;
  {
    Soak soak({}, random, tally);
    ASSERT_TRUE(soak.connect());
    soak.setWholes({tagged('R', bufferRows(scenes[0].image)), tagged('R', bufferRows(scenes[1].image)),
                    tagged('C', compressed[0].compressed), tagged('C', compressed[1].compressed)},
                   {binaryOf(scenes[0]), binaryOf(scenes[1])}, {textsOf(scenes[0]), textsOf(scenes[1])});
    for (int i = 0; i < monochrome && !::testing::Test::HasFatalFailure(); ++i) {
      const int which = (i / 4) % 2;
      const auto kind = static_cast<Kind>(i % 4);
      switch (kind) {
        case Kind::GreyRaw: soak.capture(i, kind, scenes[which], tagged('R', bufferRows(scenes[which].image))); break;
        case Kind::GreyCompressed:
          soak.capture(i, kind, compressed[which], tagged('C', compressed[which].compressed));
          break;
        case Kind::Binary: soak.capture(i, kind, scenes[which], binaryOf(scenes[which])); break;
        default: soak.capture(i, kind, scenes[which], {}); break;
      }
    }
  }
  // A colour sensor: the library turns its mosaic into colour; a clean capture of each
  // scene is what a faulty one may publish.
  if (!::testing::Test::HasFatalFailure()) {
    sim::ImagerIdentity colour;
    colour.imageSensor = 0x7FA29650;
    Soak soak(colour, random, tally);
    ASSERT_TRUE(soak.connect());
    const Bytes references[2] = {soak.cleanGrey(scenes[0]), soak.cleanGrey(scenes[1])};
    ASSERT_GT(references[0].size(), size_t{kWidth} * kHeight) << "no colour image";
    soak.setWholes({references[0], references[1]}, {binaryOf(scenes[0]), binaryOf(scenes[1])},
                   {textsOf(scenes[0]), textsOf(scenes[1])});
    for (int i = monochrome; i < captures && !::testing::Test::HasFatalFailure(); ++i) {
      const int which = i % 2;
      soak.capture(i, Kind::Colour, scenes[which], references[which]);
    }
  }
  printTable(seed, tally);
  EXPECT_EQ(tally.wrong, 0);
  EXPECT_EQ(tally.hangs, 0);
  EXPECT_EQ(tally.captures, captures);
  EXPECT_GE(tally.correct, captures / 3) << "too few captures came through to judge";
}
