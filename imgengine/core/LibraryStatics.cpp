// The library's static objects, in their construction order; unload destroys them
// in reverse. Keeping them in one translation unit fixes the order.
#include "core/LibraryState.h"
#include "base/Crc16.h"
#include "base/WorkerThread.h"
#include "image/TimestampRecord.h"
#include "operations/ResultStore.h"

namespace vel {

namespace {

// Built first: the packet link's CRC uses it from the first packet on.
Crc16Table g_crc16Table;
// Plain data, all zero from load until factory defaults are applied.
DeviceConfiguration g_configuration;
// The published decode results: empty from load on.
SharedResults g_sharedResults;

LibraryState g_state;
TimestampStore g_timestamp;

struct WorkerSlot {
  WorkerSlot() { WorkerThread::allocateSlot(); }
  ~WorkerSlot() { WorkerThread::freeSlot(); }
} g_workerSlot;

}  // namespace

LibraryState& library() { return g_state; }
const Crc16Table& crc16Table() { return g_crc16Table; }
DeviceConfiguration& deviceConfiguration() { return g_configuration; }
TimestampStore& timestampStore() { return g_timestamp; }
SharedResults& sharedResults() { return g_sharedResults; }

}  // namespace vel
