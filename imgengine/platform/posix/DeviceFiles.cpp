// POSIX device files: serial lines by their COM port names or paths (termios devices),
// with overlapped requests on helper threads. The imager's USB driver devices do
// not exist here: opening them fails.
#include "platform/DeviceFiles.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Threads.h"
#include "platform/posix/OverlappedFile.h"

namespace vel::platform {

IoOperation* ioOperationCreate(NativeEvent* event) {
  auto* op = new IoOperation;
  op->event = event;
  return op;
}

void ioOperationDestroy(IoOperation* op) {
  if (!op) return;
  op->cancel = true;
  if (op->worker.joinable()) op->worker.join();
  delete op;
}

IoStart startOn(NativeFile* f, IoOperation* op, std::function<bool(IoOperation*, uint32_t*)> work) {
  if (op->worker.joinable()) {
    op->cancel = true;
    op->worker.join();
  }
  op->cancel = false;
  op->done = false;
  op->ok = false;
  op->transferred = 0;
  op->starter = currentThreadId();
  eventReset(op->event);
  {
    std::lock_guard<std::mutex> g(f->m);
    f->active[op] = true;
  }
  op->worker = std::thread([op, work] {
    uint32_t n = 0;
    const bool ok = work(op, &n);
    op->ok = ok;
    op->transferred = n;
    op->done = true;
    eventSet(op->event);
  });
  return IoStart::kPending;
}

namespace {

bool isSerialName(const char* name, int* number) {
  if (std::strncmp(name, "\\\\.\\", 4) != 0 || strncasecmp(name + 4, "COM", 3) != 0) return false;
  char* end = nullptr;
  const long n = std::strtol(name + 7, &end, 10);
  if (!end || *end || n < 1) return false;
  *number = static_cast<int>(n);
  return true;
}

// "\\.\COMN" is the N-th serial port: /dev/ttyS<N-1>, or <VEL_SERIAL_PREFIX><N-1>;
// an absolute path (the port map's "/dev/ttyUSB0") is itself. Anything else names nothing.
std::string serialPath(const char* name) {
  if (name[0] == '/') return name;
  int number = 0;
  if (!isSerialName(name, &number)) return {};
  const char* prefix = std::getenv("VEL_SERIAL_PREFIX");
  return std::string(prefix && *prefix ? prefix : "/dev/ttyS") + std::to_string(number - 1);
}

// Waits for fd readiness in short slices so that a cancel is seen promptly.
constexpr int kCancelPollMs = 10;
bool waitReady(int fd, short events, const IoOperation* op) {
  while (!op->cancel) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, kCancelPollMs);
    if (r > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

}  // namespace

NativeFile* deviceOpen(const char* name) {
  const std::string path = name ? serialPath(name) : std::string();
  if (path.empty()) return nullptr;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // Exclusive: no second open through us (flock) nor through others (TIOCEXCL).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return nullptr;
  }
  auto* f = new NativeFile;
  f->fd = fd;
  return f;
}

bool deviceProbe(const char*) { return false; }

void deviceClose(NativeFile* f) {
  if (!f) return;
  std::map<IoOperation*, bool> ops;
  {
    std::lock_guard<std::mutex> g(f->m);
    ops.swap(f->active);
  }
  for (auto& [op, _] : ops) {
    op->cancel = true;
    if (op->worker.joinable()) op->worker.join();
  }
  ::close(f->fd);
  delete f;
}

IoStart deviceRead(NativeFile* f, void* buffer, uint32_t length, IoOperation* op) {
  const int fd = f->fd;
  return startOn(f, op, [fd, buffer, length](IoOperation* o, uint32_t* n) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (*n < length) {
      if (!waitReady(fd, POLLIN, o)) return false;
      const ssize_t r = ::read(fd, p + *n, length - *n);
      if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (r <= 0) return false;
      *n += static_cast<uint32_t>(r);
    }
    return true;
  });
}

IoStart deviceWrite(NativeFile* f, const void* data, uint32_t length, IoOperation* op) {
  const int fd = f->fd;
  return startOn(f, op, [fd, data, length](IoOperation* o, uint32_t* n) {
    auto* p = static_cast<const uint8_t*>(data);
    while (*n < length) {
      if (!waitReady(fd, POLLOUT, o)) return false;
      const ssize_t r = ::write(fd, p + *n, length - *n);
      if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (r <= 0) return false;
      *n += static_cast<uint32_t>(r);
    }
    return true;
  });
}

IoStart deviceControl(NativeFile*, uint32_t, const void*, uint32_t, IoOperation*) { return IoStart::kFailed; }

bool deviceResult(NativeFile*, IoOperation* op, uint32_t* transferred) {
  if (!op->done) {
    if (transferred) *transferred = 0;
    return false;
  }
  if (transferred) *transferred = op->transferred;
  return op->ok;
}

void deviceCancel(NativeFile* f) {
  const uint32_t self = currentThreadId();
  std::lock_guard<std::mutex> g(f->m);
  for (auto it = f->active.begin(); it != f->active.end();) {
    IoOperation* op = it->first;
    if (op->starter == self) {
      op->cancel = true;
      if (op->worker.joinable()) op->worker.join();
      it = f->active.erase(it);
    } else {
      ++it;
    }
  }
}

void ioSettle(NativeFile*, IoOperation* op) {
  if (op->worker.joinable() && op->starter == currentThreadId()) {
    op->cancel = true;
    op->worker.join();
  }
}

}  // namespace vel::platform
