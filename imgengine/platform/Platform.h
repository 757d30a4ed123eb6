// The only interface through which ImgEngine reaches the operating system.
// win32/ implements it with the Win32 API, posix/ with POSIX threads and calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

// Wait without a time limit.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds timeout as the library passes them (-1 = no limit) to a wait argument.
inline uint32_t waitMs(int timeoutMs) { return timeoutMs < 0 ? kInfinite : static_cast<uint32_t>(timeoutMs); }

uint32_t tickCount();  // milliseconds since an arbitrary start, wrapping at 2^32
void sleepMs(uint32_t ms);
uint32_t currentThreadId();

// Mutex that the holding thread may lock again (each lock needs its unlock).
struct Mutex;
Mutex* mutexCreate();
void mutexDestroy(Mutex* m);
void mutexLock(Mutex* m);
bool mutexTryLock(Mutex* m);
void mutexUnlock(Mutex* m);

// Event with manual or automatic reset.
struct Event;
Event* eventCreate(bool manualReset, bool initiallySet);
void eventDestroy(Event* e);
void eventSet(Event* e);
void eventReset(Event* e);
bool eventWait(Event* e, uint32_t ms);  // true when signalled, false on timeout

// Counting semaphore.
struct Semaphore;
Semaphore* semaphoreCreate(long initial, long maximum);
void semaphoreDestroy(Semaphore* s);
bool semaphoreWait(Semaphore* s, uint32_t ms);  // true when a count was taken
void semaphoreRelease(Semaphore* s, long count);

// Threads are created suspended; resume starts them once.
struct Thread;
using ThreadEntry = void (*)(void* argument);
Thread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes);  // null on failure
bool threadSetPriority(Thread* t, int priority);  // result of the platform call
void threadResume(Thread* t);
void threadJoin(Thread* t);
void threadDestroy(Thread* t);  // after join

// A thread that must not outlive the module holding its code runs with a pin on
// that module and ends by releasing the pin and exiting in one step (win32); on
// posix the pin is null and the release returns so the thread ends normally.
void* modulePin();
void moduleUnpin(void* pin);
void threadExitReleasingModule(void* pin);
// True while the process is ending and the library's static objects go with it:
// its other threads are being ended by the system and must not be waited for.
bool processEnding();

// Thread-local slot holding one pointer per thread.
struct TlsSlot;
TlsSlot* tlsAllocate();
void tlsFree(TlsSlot* slot);
void tlsSet(TlsSlot* slot, void* value);
void* tlsGet(TlsSlot* slot);

// ---- Devices: serial lines and driver device files with overlapped I/O ----

// How an overlapped request started.
enum class IoStart { kCompleted, kPending, kFailed };

// Overlapped operation record bound to a manual-reset event that the system
// signals when the request completes.
struct IoOperation;
IoOperation* ioOperationCreate(Event* event);
void ioOperationDestroy(IoOperation* op);

struct DeviceFile;
// Exclusive open for reading and writing, only if the name exists, for overlapped I/O.
DeviceFile* deviceOpen(const char* name);
// Presence probe: open without access rights, sharing read and write, and close again.
bool deviceProbe(const char* name);
void deviceClose(DeviceFile* f);
IoStart deviceRead(DeviceFile* f, void* buffer, uint32_t length, IoOperation* op);
IoStart deviceWrite(DeviceFile* f, const void* data, uint32_t length, IoOperation* op);
IoStart deviceControl(DeviceFile* f, uint32_t code, const void* input, uint32_t inputLength, IoOperation* op);
// Result of a request without waiting: false when it failed or is still pending.
bool deviceResult(DeviceFile* f, IoOperation* op, uint32_t* transferred);
void deviceCancel(DeviceFile* f);  // cancels the calling thread's pending requests on the file
// After a cancel: returns once op has ended, so that its buffer and record may be reused.
void ioSettle(DeviceFile* f, IoOperation* op);

// Serial line settings written when a port opens; the rest of the port state stays.
struct SerialSettings {
  uint32_t inQueue = 65536, outQueue = 65536;
  uint32_t baudRate = 115200;
  uint32_t extraEventMask = 0;  // added to the mask the port already has
};
// Line events (the system's own bit values).
constexpr uint32_t kLineCts = 0x0008, kLineDsr = 0x0010, kLineBreak = 0x0040, kLineError = 0x0080;

// Queue sizes; port state; purge; timeouts; event mask.
bool serialConfigure(DeviceFile* f, const SerialSettings& s);
bool serialSetBaudRate(DeviceFile* f, uint32_t baud);
bool serialPurge(DeviceFile* f);  // both pending operations and both buffers
bool serialSetBreak(DeviceFile* f, bool on);
// Overlapped wait for a line event; *mask receives the bits on completion and
// must stay valid until then.
IoStart serialWaitEvent(DeviceFile* f, uint32_t* mask, IoOperation* op);

// ---- Run-time library loading ----
struct Library;
Library* libraryLoad(const char* name);  // null when missing
void* libraryEntry(Library* lib, const char* entry);
void libraryFree(Library* lib);

// ---- Window and thread messages ----
// A window is the system's window handle on win32; on posix a handle to a message
// queue owned by the thread that created it.
using Window = void*;
struct Message {
  Window window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);
// A window of the calling thread that only receives posted messages.
Window messageWindowCreate();
void messageWindowDestroy(Window w);
// Takes the next posted message of the calling thread (window and thread messages);
// waits at most ms. Creates the thread's queue on first use.
bool messageTake(Message* out, uint32_t ms);

}  // namespace vel::platform
