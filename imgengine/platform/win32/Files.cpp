// Win32 plain files: CreateFileA with no sharing for writing, shared reading.
#include "platform/Files.h"

#include <new>

#include <windows.h>

#include <sddl.h>

namespace vel::platform {

const char kPathSeparator = '\\';
const char* const kLineEnd = "\r\n";

namespace {

HANDLE handleOf(PlainFile* file) { return reinterpret_cast<HANDLE>(file); }

// WriteFile and ReadFile take 32-bit counts: large transfers go in slices.
constexpr size_t kSlice = 1u << 30;

bool writeAll(HANDLE h, const uint8_t* p, size_t length, size_t* written) {
  size_t done = 0;
  while (done < length) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(length - done < kSlice ? length - done : kSlice);
    if (!WriteFile(h, p + done, ask, &n, nullptr) || n == 0) break;
    done += n;
  }
  *written = done;
  return done == length;
}

}  // namespace

PlainFile* fileCreate(const char* path, CreateMode mode) {
  if (!path || !*path) return nullptr;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, mode == CreateMode::kNewOnly ? CREATE_NEW : CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<PlainFile*>(h);
}

PlainFile* fileCreatePrivate(const char* path) {
  if (!path || !*path) return nullptr;
  // Protected (no inherited entries): full access for the owner and the system only.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(descriptor);
  return h == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<PlainFile*>(h);
}

size_t fileWrite(PlainFile* file, const void* data, size_t length) {
  size_t written = 0;
  if (file) writeAll(handleOf(file), static_cast<const uint8_t*>(data), length, &written);
  return written;
}

// Windows allocates as the file grows; a reservation would move its end.
bool fileReserve(PlainFile*, uint64_t, uint64_t) { return false; }

bool fileClose(PlainFile* file) { return file && CloseHandle(handleOf(file)); }

bool fileReadAll(const char* path, std::vector<uint8_t>& bytes, size_t limit) {
  if (!path) return false;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(h, &size) && static_cast<uint64_t>(size.QuadPart) <= limit;
  if (ok) {
    try {
      bytes.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
      CloseHandle(h);
      return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      const DWORD ask = static_cast<DWORD>(bytes.size() - done < kSlice ? bytes.size() - done : kSlice);
      if (!ReadFile(h, bytes.data() + done, ask, &n, nullptr) || n == 0) break;
      done += n;
    }
    ok = done == bytes.size();
  }
  CloseHandle(h);
  return ok;
}

bool fileProbe(const char* path) {
  if (!path) return false;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool fileDelete(const char* path) { return path && DeleteFileA(path); }

bool fileReplace(const char* from, const char* to) {
  return from && to && MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

bool directoryCreate(const char* path) {
  if (!path || !*path) return false;
  if (CreateDirectoryA(path, nullptr)) return true;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool standardOutputWrite(const void* data, size_t length) {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  size_t written = 0;
  return h && h != INVALID_HANDLE_VALUE && writeAll(h, static_cast<const uint8_t*>(data), length, &written);
}

}  // namespace vel::platform
