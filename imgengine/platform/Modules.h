// Run-time library loading, and the pin that keeps the library's own module
// loaded under a thread running its code.
#pragma once

#include <string>

namespace vel::platform {

struct Library;
Library* libraryLoad(const char* name);  // null when missing
void* libraryEntry(Library* lib, const char* entry);
void libraryFree(Library* lib);

// The folder of the running program's executable (empty when unknown).
std::string programFolder();

// A thread that must not outlive the module holding its code runs with a pin on
// that module and ends by releasing the pin and exiting in one step (win32). On
// posix the pin is null and the release returns so the thread ends normally: its
// owner joins it at unload, before the code is unmapped, and the thread must not
// load or free libraries meanwhile (the unloading thread holds the loader's lock).
void* modulePin();
void moduleUnpin(void* pin);
void threadExitReleasingModule(void* pin);

}  // namespace vel::platform
