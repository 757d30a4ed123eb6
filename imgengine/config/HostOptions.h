// The host-side options kept in the per-machine settings store: auto-save and its
// folder, host perspective correction, perspective display. Reads of a missing
// store or value answer "off" and the folder ".\".
#pragma once

#include <cstddef>
#include <string>

namespace vel::hostoptions {

extern const char* const kAutoSaved;
extern const char* const kHostPerspectiveCorrection;
extern const char* const kPerspectiveDisplay;

// A DWORD switch: 1 when stored and non-zero, else 0.
int readSwitch(const char* name);
// Stores the low byte of value; answers 0 or the store's error code.
int writeSwitch(const char* name, int value);

// The longest auto-save folder the store keeps whole, its trailing backslash
// included.
constexpr size_t kLongestFolder = 260;

// The auto-save folder, always ending in a backslash: the stored text (at most
// kLongestFolder characters) or ".\".
std::string readImageSourceFolder();
// The same in the buffer that callers of the export keep a pointer to; it changes
// at the next read or write.
const char* imageSourceFolder();
// Stores path (cut to kLongestFolder - 1 characters) with a backslash appended
// when missing; false when the store refused it.
bool setImageSourceFolder(const char* path);

}  // namespace vel::hostoptions
