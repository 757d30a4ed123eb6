// Captures run by the host operation: the export writes the command under the
// command lock, hands the response to the host operation and returns; the
// outcome arrives as WM_OPERATION_PROGRESS. Nothing happens when not connected.
#include "ImgEngine.h"
#include "core/LibraryState.h"
#include "connection/DeviceConnection.h"
#include "operations/OperationResponse.h"

extern "C" {

// Each argument counts by its low byte; a binary image only from the SA-1110.
void VEL_API VelCaptureImage(int decode, int binary, int grey, int compressed) {
  vel::LibraryState& state = vel::library();
  uint8_t flags = 0;
  if (decode & 0xFF) flags |= vel::kOpDecodeFirst;
  if ((binary & 0xFF) && state.processorType == vel::kProcessorSa1110) flags |= vel::kOpBinaryImage;
  if (grey & 0xFF) flags |= vel::kOpGreyImage;
  if (compressed & 0xFF) flags |= vel::kOpCompressedGrey;
  vel::CommandHold hold(state.commandLock);
  vel::DeviceConnection* connection = state.connection();
  vel::HostOperation* host = state.hostOperation();
  if (!connection || !host) return;
  state.lastCaptureFlags = flags;
  connection->capture(flags, *host);
}

}  // extern "C"
