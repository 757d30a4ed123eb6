// Plain files by path: created for writing without sharing (new only, or
// replacing), read whole, probed, deleted, renamed over another; folders created.
// Paths are the caller's; the library's own composed names join with
// kPathSeparator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vel::platform {

extern const char kPathSeparator;  // '\\' on Windows, '/' elsewhere
extern const char* const kLineEnd;  // of text files: "\r\n" on Windows, "\n" elsewhere

enum class CreateMode { kNewOnly, kReplace };

struct PlainFile;
// Opens path for writing with no other opener allowed while it is open: kNewOnly
// fails when the file exists, kReplace creates it or empties an existing one.
// Null when it cannot be created.
PlainFile* fileCreate(const char* path, CreateMode mode);
// Creates path new only, for the owner alone (mode 0600; on Windows a protected
// list granting the owner and the system), others allowed to read it while it is
// open. Null when it exists or cannot be created.
PlainFile* fileCreatePrivate(const char* path);
// Writes length bytes; answers the number written (fewer on a full disk).
size_t fileWrite(PlainFile* file, const void* data, size_t length);
// Allocates disk space for the bytes from offset to offset + length without
// changing the file's size, so that later writes there cost less; a hint, false
// where the system or the file system has no such request. The close gives back
// what was reserved beyond the bytes written.
bool fileReserve(PlainFile* file, uint64_t offset, uint64_t length);
// False when the system reports a failure of the close (data not written).
bool fileClose(PlainFile* file);

// Reads the whole file into bytes; false when it cannot be opened or read, or
// holds more than limit bytes.
bool fileReadAll(const char* path, std::vector<uint8_t>& bytes, size_t limit);
// True when path names a file that opens for reading.
bool fileProbe(const char* path);
bool fileDelete(const char* path);
// Moves from over to, replacing to in one step.
bool fileReplace(const char* from, const char* to);
// True when the folder exists afterwards (created now or before).
bool directoryCreate(const char* path);

// Writes length bytes to the process's standard output; true when all were written.
bool standardOutputWrite(const void* data, size_t length);

}  // namespace vel::platform
