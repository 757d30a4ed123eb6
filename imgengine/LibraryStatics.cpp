// The library's static objects, in their construction order; unload destroys them
// in reverse. Keeping them in one translation unit fixes the order.
#include "LibraryState.h"
#include "link/WorkerThread.h"

namespace vel {

namespace {

// Plain data, all zero from load until factory defaults are applied.
DeviceConfiguration g_configuration;

LibraryState g_state;

struct WorkerSlot {
  WorkerSlot() { WorkerThread::allocateSlot(); }
  ~WorkerSlot() { WorkerThread::freeSlot(); }
} g_workerSlot;

}  // namespace

LibraryState& library() { return g_state; }
DeviceConfiguration& deviceConfiguration() { return g_configuration; }

}  // namespace vel
