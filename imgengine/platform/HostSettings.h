// The per-machine host settings store: a few named values that outlive the
// process. On Windows it is the registry key HKEY_LOCAL_MACHINE\Software\Velmora;
// elsewhere a small text file (posix/HostSettings.cpp). The library opens the
// store and never creates it: when it is missing every read fails and every
// write answers kHostSettingsMissing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

// Windows error code for a store (or key) that does not exist.
constexpr int kHostSettingsMissing = 2;

// Reads up to four bytes of a DWORD value; false when the store or value is missing.
bool hostSettingsReadDword(const char* name, uint32_t* value);
// Reads at most capacity bytes of a string value (not terminated by this call);
// answers the byte count, or -1 when the store or value is missing.
int hostSettingsReadString(const char* name, char* buffer, size_t capacity);
// Answer 0 on success, else the Windows error code.
int hostSettingsWriteDword(const char* name, uint32_t value);
// Stores length bytes of text (no terminating NUL) as a string value.
int hostSettingsWriteString(const char* name, const char* text, size_t length);

}  // namespace vel::platform
