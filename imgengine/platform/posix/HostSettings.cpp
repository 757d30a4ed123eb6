// Host settings in a small text file, one value per line:
//   AutoSaved=D:1
//   AutoSaveFolder=S:/srv/images/
// The file is $VEL_HOST_SETTINGS when that is set, else /etc/velmora/host-settings
// (per machine, like the Windows key). Reads and writes open the existing file and
// never create it; an administrator creates it (an empty file will do).
// String values end at the first line break.
#include "platform/HostSettings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vel::platform {

namespace {

constexpr int kAccessDenied = 5;
constexpr int kGeneralFailure = 31;

const char* storePath() {
  const char* env = std::getenv("VEL_HOST_SETTINGS");
  return env && *env ? env : "/etc/velmora/host-settings";
}

int errorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kHostSettingsMissing;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    default: return kGeneralFailure;
  }
}

bool readAll(int fd, std::string& out) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk, static_cast<size_t>(n));
  }
}

// Finds "name=" at the start of a line; answers the offset of the value and of the
// line's end, or false.
bool findValue(const std::string& text, const char* name, size_t* valueAt, size_t* lineStart, size_t* lineEnd) {
  const std::string key = std::string(name) + "=";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    if (text.compare(pos, key.size(), key) == 0) {
      *lineStart = pos;
      *valueAt = pos + key.size();
      *lineEnd = end;
      return true;
    }
    pos = end + 1;
  }
  return false;
}

// The raw "T:data" of a value, or false when the store or value is missing.
bool readRaw(const char* name, char type, std::string& data) {
  const int fd = ::open(storePath(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::flock(fd, LOCK_SH);
  std::string text;
  const bool ok = readAll(fd, text);
  ::close(fd);
  size_t at, start, end;
  if (!ok || !findValue(text, name, &at, &start, &end)) return false;
  if (end - at < 2 || text[at] != type || text[at + 1] != ':') return false;
  data = text.substr(at + 2, end - at - 2);
  if (!data.empty() && data.back() == '\r') data.pop_back();
  return true;
}

int writeRaw(const char* name, char type, const std::string& data) {
  const int fd = ::open(storePath(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errorCode(errno);
  ::flock(fd, LOCK_EX);
  std::string text;
  int rc = 0;
  if (!readAll(fd, text)) {
    rc = errorCode(errno);
  } else {
    const std::string line = std::string(name) + "=" + type + ":" + data;
    size_t at, start, end;
    if (findValue(text, name, &at, &start, &end)) {
      text.replace(start, end - start, line);
    } else {
      if (!text.empty() && text.back() != '\n') text += '\n';
      text += line + "\n";
    }
    if (::ftruncate(fd, 0) != 0) {
      rc = errorCode(errno);
    } else {
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          rc = errorCode(errno);
          break;
        }
        done += static_cast<size_t>(n);
      }
    }
  }
  ::close(fd);
  return rc;
}

}  // namespace

bool hostSettingsReadDword(const char* name, uint32_t* value) {
  std::string data;
  if (!readRaw(name, 'D', data) || data.empty()) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(data.c_str(), &end, 10);
  if (*end != '\0') return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

int hostSettingsReadString(const char* name, char* buffer, size_t capacity) {
  std::string data;
  if (!readRaw(name, 'S', data)) return -1;
  // A value longer than the buffer cannot be read, as with the registry.
  if (data.size() > capacity) return -1;
  std::memcpy(buffer, data.data(), data.size());
  return static_cast<int>(data.size());
}

int hostSettingsWriteDword(const char* name, uint32_t value) { return writeRaw(name, 'D', std::to_string(value)); }

int hostSettingsWriteString(const char* name, const char* text, size_t length) {
  std::string data(text, length);
  const size_t lineBreak = data.find_first_of("\r\n");
  if (lineBreak != std::string::npos) data.resize(lineBreak);
  return writeRaw(name, 'S', data);
}

}  // namespace vel::platform
