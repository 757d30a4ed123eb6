// Captures and previous images, run by the host operation: the export writes
// the command under the command lock, hands the response to the host operation
// and returns; the outcome arrives as WM_OPERATION_PROGRESS. Nothing happens
// when not connected.
#include "ImgEngine.h"
#include "config/DeviceConfiguration.h"
#include "connection/DeviceConnection.h"
#include "core/LibraryState.h"
#include "operations/OperationResponse.h"
#include "api/TracedCall.h"

namespace {

// Runs request(connection, host operation) under the command lock when connected.
template <typename Request>
void hostRequest(Request request) {
  vel::LibraryState& state = vel::library();
  vel::CommandHold hold(state.commandLock);
  vel::DeviceConnection* connection = state.connection();
  vel::HostOperation* host = state.hostOperation();
  if (connection && host) request(*connection, *host);
}

bool imageCompressionEnabled() {
  vel::ScopedLock hold(vel::configurationLock());
  return (vel::deviceConfiguration().fwImageCompressedEnabled & 1) != 0;
}

}  // namespace

extern "C" {

// Each argument counts by its low byte; a binary image only from the SA-1110.
void VEL_API VelCaptureImage(int decode, int binary, int grey, int compressed) {
  vel::LibraryState& state = vel::library();
  uint8_t flags = 0;
  if (decode & 0xFF) flags |= vel::kOpDecodeFirst;
  if ((binary & 0xFF) && state.processorType == vel::kProcessorSa1110) flags |= vel::kOpBinaryImage;
  if (grey & 0xFF) flags |= vel::kOpGreyImage;
  if (compressed & 0xFF) flags |= vel::kOpCompressedGrey;
  hostRequest([&](vel::DeviceConnection& connection, vel::HostOperation& host) {
    state.lastCaptureFlags = flags;
    connection.capture(flags, host);
  });
  vel::api::tracedVoid(__func__, decode, binary, grey, compressed);
}

void VEL_API VelCaptureGreyImage(void) {
  hostRequest([](vel::DeviceConnection& connection, vel::HostOperation& host) { connection.captureGrey(host); });
  vel::api::tracedVoid(__func__);
}

void VEL_API VelGetPreviousBinaryImage(void) {
  if (vel::library().processorType != vel::kProcessorSa1110) {
    vel::api::tracedVoid(__func__);
    return;
  }
  hostRequest(
      [](vel::DeviceConnection& connection, vel::HostOperation& host) { connection.previousBinaryImage(host); });
  vel::api::tracedVoid(__func__);
}

void VEL_API VelGetPreviousGreyImage(void) {
  hostRequest([](vel::DeviceConnection& connection, vel::HostOperation& host) {
    connection.previousGreyImage(host, false, false);
  });
  vel::api::tracedVoid(__func__);
}

void VEL_API VelGetPreviousGreyImageEx(void) {
  const bool compressed = imageCompressionEnabled();
  hostRequest([compressed](vel::DeviceConnection& connection, vel::HostOperation& host) {
    connection.previousGreyImage(host, true, compressed);
  });
  vel::api::tracedVoid(__func__);
}

// The imager gives the five values their meaning; they travel unchanged.
void VEL_API VelGetWindowedPreviousGreyImage(int w1, int w2, int w3, int w4, int b) {
  const uint16_t window[4] = {static_cast<uint16_t>(w1), static_cast<uint16_t>(w2), static_cast<uint16_t>(w3),
                              static_cast<uint16_t>(w4)};
  hostRequest([&](vel::DeviceConnection& connection, vel::HostOperation& host) {
    connection.windowedPreviousGreyImage(static_cast<uint8_t>(b), window, host);
  });
  vel::api::tracedVoid(__func__, w1, w2, w3, w4, b);
}

}  // extern "C"
