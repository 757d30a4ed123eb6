// POSIX plain files. "No sharing" is an exclusive advisory lock (flock) held while
// the file is open for writing; readers ask for a shared one and fail without it,
// as a Windows reader fails on a file opened without sharing.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

namespace vel::platform {

const char kPathSeparator = '/';
const char* const kLineEnd = "\n";

struct PlainFile {
  int fd;
  bool reserved = false;  // space beyond the end may be allocated: the close trims it
};

namespace {

bool writeAll(int fd, const uint8_t* p, size_t length, size_t* written) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  *written = done;
  return done == length;
}

}  // namespace

PlainFile* fileCreate(const char* path, CreateMode mode) {
  if (!path || !*path) return nullptr;
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == CreateMode::kNewOnly ? O_EXCL : 0);
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) return nullptr;
  // Emptied only once no one else holds the file.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (mode == CreateMode::kReplace && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return nullptr;
  }
  return new PlainFile{fd};
}

PlainFile* fileCreatePrivate(const char* path) {
  if (!path || !*path) return nullptr;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  // The mode above is masked by the umask, which can only take bits away.
  ::fchmod(fd, 0600);
  return new PlainFile{fd};
}

size_t fileWrite(PlainFile* file, const void* data, size_t length) {
  size_t written = 0;
  if (file) writeAll(file->fd, static_cast<const uint8_t*>(data), length, &written);
  return written;
}

bool fileReserve(PlainFile* file, uint64_t offset, uint64_t length) {
#ifdef __linux__
  if (!file || offset > uint64_t(INT64_MAX) || length > uint64_t(INT64_MAX) - offset) return false;
  file->reserved = true;
  return ::fallocate(file->fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(length)) == 0;
#else
  (void)file;
  (void)offset;
  (void)length;
  return false;
#endif
}

bool fileClose(PlainFile* file) {
  if (!file) return false;
  if (file->reserved) {
    struct stat st {};
    if (::fstat(file->fd, &st) == 0) ::ftruncate(file->fd, st.st_size);
  }
  const bool closed = ::close(file->fd) == 0;
  delete file;
  return closed;
}

bool fileReadAll(const char* path, std::vector<uint8_t>& bytes, size_t limit) {
  if (!path) return false;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::flock(fd, LOCK_SH | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) <= limit;
  if (ok) {
    try {
      bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      ::close(fd);
      return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ok = done == bytes.size();
  }
  ::close(fd);
  return ok;
}

bool fileProbe(const char* path) {
  if (!path) return false;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return file;
}

bool fileDelete(const char* path) { return path && ::unlink(path) == 0; }

bool fileReplace(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

bool directoryCreate(const char* path) {
  if (!path || !*path) return false;
  if (::mkdir(path, 0777) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool standardOutputWrite(const void* data, size_t length) {
  size_t written = 0;
  return writeAll(STDOUT_FILENO, static_cast<const uint8_t*>(data), length, &written);
}

}  // namespace vel::platform
