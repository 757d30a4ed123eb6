#include "imager/ImagerOperations.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {
constexpr uint8_t kCapture = 4;
constexpr uint8_t kCaptureGrey = 6;
constexpr uint8_t kPreviousBinary = 16;
constexpr uint8_t kPreviousGrey = 17;
constexpr uint8_t kWindowedPreviousGrey = 27;
constexpr size_t kWindowFields = 9;
constexpr uint8_t kEventOperation = 4;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void takeOutcome(TransferReport& report, ResponseStream& stream) {
  stream.finish();
  report.end = stream.end();
  report.bytes = stream.bytes();
  report.acks = stream.acks();
}
}  // namespace

ImagerOperations::ImagerOperations(ImagerCommands& commands)
    : commands_(commands),
      blockSize_(static_cast<uint32_t>(std::max<int32_t>(commands.identity().blockSize, 1))),
      scene_(std::make_shared<const Scene>()) {
  commands_.setLongResponse([this](uint8_t code, const std::vector<uint8_t>& fields, ImagerPort& in,
                                   ImagerPort& out) { answer(code, fields, in, out); });
}

ImagerOperations::~ImagerOperations() {
  control_.shutDown();
  commands_.setLongResponse({});  // waits for a host transfer that is still running
}

void ImagerOperations::setScene(Scene scene) {
  scene.image.grey.resize(static_cast<size_t>(scene.image.width) * scene.image.height);
  auto shared = std::make_shared<const Scene>(std::move(scene));
  std::lock_guard<std::mutex> g(m_);
  scene_ = std::move(shared);
}

void ImagerOperations::setGreyBlockLength(uint32_t length) {
  std::lock_guard<std::mutex> g(m_);
  greyBlockLength_ = length;
}

void ImagerOperations::setCaptureSource(std::function<Scene()> source) {
  std::lock_guard<std::mutex> g(m_);
  captureSource_ = std::move(source);
}

std::shared_ptr<const Scene> ImagerOperations::capture() {
  std::function<Scene()> source;
  {
    std::lock_guard<std::mutex> g(m_);
    source = captureSource_;
  }
  if (source) setScene(source());
  return scene();
}

std::shared_ptr<const Scene> ImagerOperations::scene() const {
  std::lock_guard<std::mutex> g(m_);
  return scene_;
}

ResponseLimits ImagerOperations::limits() const {
  std::lock_guard<std::mutex> g(m_);
  return ResponseLimits{blockSize_, greyBlockLength_ ? greyBlockLength_ : blockSize_};
}

void ImagerOperations::finished(TransferReport report) {
  std::lock_guard<std::mutex> g(m_);
  transfers_.push_back(std::move(report));
  cv_.notify_all();
}

std::vector<TransferReport> ImagerOperations::transfers() const {
  std::lock_guard<std::mutex> g(m_);
  return transfers_;
}

bool ImagerOperations::waitForTransfers(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return transfers_.size() >= count; });
}

WindowRequest ImagerOperations::lastWindow() const {
  std::lock_guard<std::mutex> g(m_);
  return window_;
}

void ImagerOperations::answer(uint8_t code, const std::vector<uint8_t>& fields, ImagerPort& in, ImagerPort& out) {
  const bool takesPicture = code == kCapture || code == kCaptureGrey;
  const std::shared_ptr<const Scene> current = takesPicture ? capture() : scene();
  const ResponseLimits bounds = limits();
  ResponseStream stream(out, in, Channel::Command, control_);
  TransferReport report;
  report.code = code;
  switch (code) {
    case kCapture:
      report.flags = fields.empty() ? 0 : fields[0];
      fullResponse(stream, *current, report.flags, bounds);
      break;
    case kCaptureGrey:
      report.flags = kGreyImage;
      fullResponse(stream, *current, report.flags, bounds);
      break;
    case kPreviousBinary:
      report.flags = kBinaryImage;
      binaryOnlyResponse(stream, current->image, bounds);
      break;
    case kPreviousGrey:
      report.flags = kGreyImage;
      greyOnlyResponse(stream, *current, current->image, true, bounds);
      break;
    case kWindowedPreviousGrey: {
      if (fields.size() < kWindowFields) return;
      WindowRequest request;
      request.log2Step = fields[0];
      for (size_t i = 0; i < request.window.size(); ++i) request.window[i] = le16(&fields[1 + 2 * i]);
      {
        std::lock_guard<std::mutex> g(m_);
        window_ = request;
      }
      const auto& w = request.window;
      report.flags = kGreyImage;
      greyOnlyResponse(stream, *current, current->image.window(w[0], w[1], w[2], w[3], request.log2Step), false,
                       bounds);
      break;
    }
    default:
      return;
  }
  takeOutcome(report, stream);
  finished(std::move(report));
}

TransferReport ImagerOperations::pullTrigger(uint8_t flags) {
  const std::shared_ptr<const Scene> current = capture();
  const ResponseLimits bounds = limits();
  TransferReport report;
  report.channel = Channel::Event;
  report.code = kEventOperation;
  report.flags = flags;
  commands_.withEventChannel([&](ImagerPort& out, ImagerPort& in) {
    // The host reads the message type and the flags byte one by one.
    out.write(&kEventOperation, 1);
    out.write(&flags, 1);
    ResponseStream stream(out, in, Channel::Event, control_);
    fullResponse(stream, *current, flags, bounds);
    takeOutcome(report, stream);
  });
  finished(report);
  return report;
}

}  // namespace sim
