// A whole simulated imager behind one of the library's port numbers: the
// simulated device (a serial line for ports 1..99, the first USB driver's device
// for port 0, the second driver's for port 100) installed behind the device seam,
// the imager's link on it, its command set with a configuration store, and its
// long responses and trigger transfers. While it exists, VelDeviceConnect(port)
// of this process talks to it through the real transports and links.
#pragma once

#include <memory>

#include "devices/DeviceSim.h"
#include "imager/ImagerCommands.h"
#include "imager/ImagerConfigStore.h"
#include "imager/ImagerLink.h"
#include "imager/ImagerOperations.h"
#include "imager/ImagerScene.h"
#include "imager/SceneFile.h"

namespace sim {

class SimulatedImager {
 public:
  // The imager speaks the packet framing on a serial line and the direct framing on
  // USB unless packetFraming asks for packets there too (a host then falls back).
  explicit SimulatedImager(int port, ImagerIdentity identity = {}, bool packetFraming = false);
  ~SimulatedImager();
  SimulatedImager(const SimulatedImager&) = delete;
  SimulatedImager& operator=(const SimulatedImager&) = delete;

  int port() const { return port_; }
  ImagerCommands& commands() { return *commands_; }
  ImagerOperations& operations() { return *operations_; }
  ImagerConfigStore& store() { return store_; }
  ImagerLink& link() { return *link_; }
  SimSerialLine* serialLine() { return serial_.get(); }  // null on USB
  // Ends the imager's transfers and its link: a host still waiting on it fails.
  void shutDown();
  void setScene(Scene scene) { operations_->setScene(std::move(scene)); }
  // From now on every capture photographs this scene with the imager's current
  // window, subsampling, rotation and enabled symbologies.
  void showScene(const SceneDescription& description);
  // Sends a trigger transfer with the given operation flags; returns when it ended.
  TransferReport pullTrigger(uint8_t flags) { return operations_->pullTrigger(flags); }

 private:
  bool colourSensor() const;

  int port_;
  ImagerIdentity identity_;
  DeviceSim devices_;
  std::shared_ptr<SimSerialLine> serial_;
  std::shared_ptr<UsbDevice> usb_;
  ImagerConfigStore store_;
  std::unique_ptr<ImagerLink> link_;
  std::unique_ptr<ImagerCommands> commands_;
  std::unique_ptr<ImagerOperations> operations_;
};

// A scene with barcodes of several symbologies, their corners and decode times,
// and a timing record: what a demonstration capture decodes.
Scene demoScene();

}  // namespace sim
