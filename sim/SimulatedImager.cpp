#include "SimulatedImager.h"

#include <string>

#include "imager/SceneCamera.h"

namespace sim {

namespace {

constexpr int kUsbPort = 0;
constexpr int kUsb2Port = 100;
constexpr uint32_t kLinkToken = 0x5EED1234;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

SimulatedImager::SimulatedImager(int port, ImagerIdentity identity, bool packetFraming)
    : port_(port), identity_(identity) {
  devices_.install();
  ImagerLine* line = nullptr;
  Framing framing = Framing::Direct;
  if (port == kUsbPort || port == kUsb2Port) {
    usb_ = devices_.plugUsb(port == kUsbPort ? UsbDriver::kFirst : UsbDriver::kSecond, 0);
    line = usb_.get();
  } else {
    serial_ = devices_.addSerialLine(port);
    line = serial_.get();
    framing = Framing::Packet;
  }
  if (packetFraming) framing = Framing::Packet;
  link_ = std::make_unique<ImagerLink>(*line, framing, kLinkToken);
  // The imager answers the host's break with its own.
  if (serial_) link_->setLineEventHandler([this] { serial_->injectLineEvent(vel::devices::kLineBreak); });
  commands_ = std::make_unique<ImagerCommands>(*link_, identity, &store_);
  operations_ = std::make_unique<ImagerOperations>(*commands_);
}

bool SimulatedImager::colourSensor() const {
  const uint32_t family = identity_.imageSensor & 0xFFFFFFF0u;
  return family == 0x7FA29640u || family == 0x7FA29650u;
}

void SimulatedImager::showScene(const SceneDescription& description) {
  auto picture = std::make_shared<const RgbPicture>(renderScene(description));
  const bool colour = colourSensor();
  operations_->setCaptureSource([this, description, picture, colour] {
    return captureScene(description, *picture, cameraSettings(store_.settings(), colour));
  });
}

void SimulatedImager::shutDown() {
  operations_->control().shutDown();
  link_->shutdown();
}

SimulatedImager::~SimulatedImager() {
  // A transfer blocked in a link write ends only when the link shuts down.
  shutDown();
  operations_.reset();
  commands_.reset();
  link_.reset();
}

Scene demoScene() {
  Scene scene;
  // Types as the imager numbers them: 3 Code 128, 4 Code 39, 6 Data Matrix, 16 QR Code.
  scene.records = {
      SceneBarcode{3, false, {40, 30, 260, 30, 40, 90, 260, 90}, 1800, text("VEL-0042-CODE128")},
      SceneBarcode{4, false, {300, 40, 520, 40, 300, 100, 520, 100}, 2400, text("CODE39 DEMO")},
      SceneBarcode{6, false, {80, 200, 180, 200, 80, 300, 180, 300}, 5200, text("Data Matrix: lot 7731")},
      SceneBarcode{16, false, {400, 220, 540, 220, 400, 360, 540, 360}, 6100, text("https://example.invalid/qr")},
  };
  scene.timing = {1000, 5000, 3000, 8000};
  return scene;
}

}  // namespace sim
