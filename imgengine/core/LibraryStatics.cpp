// The library's static objects, in their construction order; unload destroys them
// in reverse. Keeping them in one translation unit fixes the order: the library
// state goes first, stopping its threads while everything they use still exists.
// Statics elsewhere are constant-initialised and have no destructor.
#include "core/LibraryState.h"
#include "base/Crc16.h"
#include "base/WorkerThread.h"
#include "base/trace/Recorder.h"
#include "config/ConfigurationFile.h"
#include "image/TimestampRecord.h"
#include "operations/ResultStore.h"
#include "platform/Messages.h"
#include "transport/DeviceSeam.h"

namespace vel {

namespace {

// Built first: the packet link's CRC uses it from the first packet on.
Crc16Table g_crc16Table;
// Plain data, all zero from load until factory defaults are applied.
DeviceConfiguration g_configuration;
Mutex g_configurationLock;
// Serialises the configuration file calls.
Mutex g_configurationFileLock;
// The published decode results: empty from load on.
SharedResults g_sharedResults;

// The timestamp snapshot of the last capture or auto-save.
TimestampStore g_timestamp;

// The thread-local slot every library thread stores itself in.
struct WorkerSlot {
  WorkerSlot() { WorkerThread::allocateSlot(); }
  ~WorkerSlot() { WorkerThread::freeSlot(); }
} g_workerSlot;

// The field trace recorder: its writer thread needs the worker slot, and the
// connections the state closes at unload record their close into it first.
trace::Recorders g_traceRecorders;

// The devices the transports and the USB watcher reach when no simulator is installed.
devices::PlatformProvider g_platformProvider;

// The message queues threads are given as they first use them: freed once the
// state has ended the library's threads.
struct MessageQueues {
  ~MessageQueues() { platform::messageQueuesRelease(); }
} g_messageQueues;

// Built last, destroyed first: its destructor stops the USB watcher and closes the connection.
LibraryState g_state;

}  // namespace

LibraryState& library() { return g_state; }
const Crc16Table& crc16Table() { return g_crc16Table; }
DeviceConfiguration& deviceConfiguration() { return g_configuration; }
Mutex& configurationLock() { return g_configurationLock; }
Mutex& configfile::fileLock() { return g_configurationFileLock; }
TimestampStore& timestampStore() { return g_timestamp; }
SharedResults& sharedResults() { return g_sharedResults; }
devices::PlatformProvider& devices::defaultProvider() { return g_platformProvider; }
trace::Recorders& trace::recorders() { return g_traceRecorders; }

}  // namespace vel
