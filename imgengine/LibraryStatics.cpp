// The library's static objects, in their construction order; unload destroys them
// in reverse. Keeping them in one translation unit fixes the order.
#include "LibraryState.h"
#include "link/WorkerThread.h"

namespace vel {

namespace {

LibraryState g_state;

struct WorkerSlot {
  WorkerSlot() { WorkerThread::allocateSlot(); }
  ~WorkerSlot() { WorkerThread::freeSlot(); }
} g_workerSlot;

}  // namespace

LibraryState& library() { return g_state; }

}  // namespace vel
