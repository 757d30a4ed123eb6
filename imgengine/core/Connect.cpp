#include "core/Connect.h"

#include <exception>
#include <vector>

#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"
#include "transport/SerialTransport.h"
#include "transport/UsbTransport.h"

namespace vel {

namespace {

constexpr int kUsbPort = 0;
constexpr int kUsb2Port = 100;
constexpr int kStatusCheckTimeoutMs = 200;

enum ConnectResult : int {
  kConnected = 1,
  kNotConnected = 0,
  kRefused = -1,
  kNoTransport = -2,
  kNoResources = -3,
};

// The transport a port selects and the link kinds to try on it, in order.
struct Line {
  std::unique_ptr<OverlappedTransport> transport;
  std::vector<LinkKind> linkKinds;
};

Line openLine(int port, int baudRate) {
  Line line;
  if (port == kUsbPort) {
    line.transport = std::make_unique<UsbTransport>();
    line.linkKinds = {LinkKind::Direct, LinkKind::Packet};
  } else if (port == kUsb2Port) {
    line.transport = std::make_unique<Usb2Transport>();
    line.linkKinds = {LinkKind::Direct};
  } else {
    auto serial = std::make_unique<SerialTransport>(port);
    if (serial->opened()) serial->setBaudRate(static_cast<uint32_t>(baudRate));  // the result is not needed
    line.transport = std::move(serial);
    line.linkKinds = {LinkKind::Packet};
  }
  return line;
}

OperationTargets operationTargets(LibraryState& state) {
  return OperationTargets{sharedResults(), deviceConfiguration(), state.images, state.watchdog};
}

// The connection over the session's transport: each link kind in turn until one connects.
bool buildConnection(Session& session, const std::vector<LinkKind>& kinds) {
  for (LinkKind kind : kinds) {
    session.connection.reset();
    session.connection = std::make_unique<DeviceConnection>(*session.transport, session.trigger.get(), kind);
    if (!session.connection->errorFlag()) return true;
  }
  return false;
}

// Versions, classification and configuration of the connected imager.
bool readImager(LibraryState& state, Session& session) {
  DeviceConnection& connection = *session.connection;
  VersionRecord versions;
  if (!connection.getVersions(versions)) return false;
  state.versions = versions;
  state.processorType = classifyProcessor(versions.visionProcessor);
  state.sensorType = classifySensor(versions.imageSensor);
  session.host->setClassification(state.processorType, state.sensorType);
  session.trigger->setClassification(state.processorType, state.sensorType);

  DeviceConfiguration record;
  {
    ScopedLock hold(configurationLock());
    record = deviceConfiguration();
  }
  const bool read = connection.getConfiguration(record);
  ScopedLock hold(configurationLock());
  deviceConfiguration() = record;
  return read && !connection.errorFlag();
}

int connectSession(LibraryState& state, int port, int channelTimeoutMs, int baudRate) {
  auto session = std::make_unique<Session>();
  Line line = openLine(port, baudRate);
  if (!line.transport->opened()) return kNoTransport;
  session->transport = std::move(line.transport);
  {
    ScopedLock hold(configurationLock());
    ApplyFactoryDefaults(deviceConfiguration());
  }
  session->host = std::make_unique<HostOperation>(operationTargets(state), state.transferLock, state.commandLock);
  session->trigger = std::make_unique<TriggerOperation>(operationTargets(state), state.transferLock);
  state.channelTimeout = channelTimeoutMs;
  if (!buildConnection(*session, line.linkKinds)) return kNotConnected;
  DeviceConnection& connection = *session->connection;
  session->host->setConnection(&connection);
  session->trigger->setConnection(&connection);
  connection.setChannelTimeouts(channelTimeoutMs);

  bool passed = false;
  if (!connection.checkLink(passed)) return kNotConnected;  // no answer
  if (!passed) return kRefused;
  if (!readImager(state, *session)) return kNotConnected;
  state.attachSession(std::move(session));
  return kConnected;
}

}  // namespace

int connectDevice(int port, int channelTimeoutMs, int baudRate) {
  LibraryState& state = library();
  ScopedLock serial(state.connectLock);
  state.closeConnection();
  try {
    return connectSession(state, port, channelTimeoutMs, baudRate);
  } catch (const std::exception&) {
    return kNoResources;
  }
}

void disconnectDevice() { library().closeConnection(); }

int communicationStatus() {
  LibraryState& state = library();
  CommandHold hold(state.commandLock);
  DeviceConnection* connection = state.connection();
  if (!connection) return -4;
  if (connection->errorFlag()) return -3;
  // The check uses the command channel only: the event channel keeps its timeout
  // for a trigger transfer that reads on meanwhile.
  PortPair& command = connection->commandChannel();
  command.setDefaultTimeout(kStatusCheckTimeoutMs);
  bool passed = false;
  connection->checkLink(passed);
  command.setDefaultTimeout(state.channelTimeout);
  return passed ? 1 : -3;
}

}  // namespace vel
