// Threads, thread ids, the thread-local slot and the process's end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

uint32_t currentThreadId();

// Threads are created suspended; resume starts them once.
struct NativeThread;
using ThreadEntry = void (*)(void* argument);
NativeThread* threadCreateSuspended(ThreadEntry entry, void* argument, size_t stackBytes);  // null on failure
bool threadSetPriority(NativeThread* t, int priority);  // result of the platform call
void threadResume(NativeThread* t);
void threadJoin(NativeThread* t);
void threadDestroy(NativeThread* t);  // after join

// True while the process is ending and the library's static objects go with it:
// its other threads are being ended by the system and must not be waited for.
bool processEnding();

// Thread-local slot holding one pointer per thread.
struct TlsSlot;
TlsSlot* tlsAllocate();
void tlsFree(TlsSlot* slot);
void tlsSet(TlsSlot* slot, void* value);
void* tlsGet(TlsSlot* slot);

}  // namespace vel::platform
