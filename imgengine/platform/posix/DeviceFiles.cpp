// POSIX serial lines (termios), run-time libraries (dlopen) and per-thread message
// queues. The imager's USB driver devices do not exist here: opening them fails.
#include "platform/Platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vel::platform {

// An overlapped request runs on a helper thread that signals the event when done.
struct IoOperation {
  Event* event = nullptr;
  std::thread worker;
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  bool ok = false;
  uint32_t transferred = 0;
  uint32_t starter = 0;
};

struct DeviceFile {
  int fd = -1;
  uint32_t eventMask = 0;
  std::mutex m;
  std::map<IoOperation*, bool> active;
};

IoOperation* ioOperationCreate(Event* event) {
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

namespace {

bool isSerialName(const char* name, int* number) {
  if (std::strncmp(name, "\\\\.\\", 4) != 0 || strncasecmp(name + 4, "COM", 3) != 0) return false;
  char* end = nullptr;
  const long n = std::strtol(name + 7, &end, 10);
  if (!end || *end || n < 1) return false;
  *number = static_cast<int>(n);
  return true;
}

// "\\.\COMN" is the N-th serial port: /dev/ttyS<N-1>, or <VEL_SERIAL_PREFIX><N-1>.
std::string serialPath(int number) {
  const char* prefix = std::getenv("VEL_SERIAL_PREFIX");
  return std::string(prefix && *prefix ? prefix : "/dev/ttyS") + std::to_string(number - 1);
}

// Waits for fd readiness in short slices so that a cancel is seen promptly.
bool waitReady(int fd, short events, const IoOperation* op) {
  while (!op->cancel) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, 10);
    if (r > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

IoStart startOn(DeviceFile* f, IoOperation* op, std::function<bool(IoOperation*, uint32_t*)> work) {
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
  op->worker = std::thread([f, op, work] {
    uint32_t n = 0;
    const bool ok = work(op, &n);
    op->ok = ok;
    op->transferred = n;
    op->done = true;
    eventSet(op->event);
  });
  return IoStart::kPending;
}

#ifdef __linux__
struct LineCounts {
  int cts, dsr, brk, err;
};
bool lineCounts(int fd, LineCounts* c) {
  serial_icounter_struct ic{};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  *c = {ic.cts, ic.dsr, ic.brk, ic.frame + ic.overrun + ic.parity + ic.buf_overrun};
  return true;
}
#endif

speed_t speedOf(uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

}  // namespace

DeviceFile* deviceOpen(const char* name) {
  int number = 0;
  if (!name || !isSerialName(name, &number)) return nullptr;
  const int fd = ::open(serialPath(number).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // Exclusive: no second open through us (flock) nor through others (TIOCEXCL).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return nullptr;
  }
  auto* f = new DeviceFile;
  f->fd = fd;
  return f;
}

bool deviceProbe(const char*) { return false; }

void deviceClose(DeviceFile* f) {
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

IoStart deviceRead(DeviceFile* f, void* buffer, uint32_t length, IoOperation* op) {
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

IoStart deviceWrite(DeviceFile* f, const void* data, uint32_t length, IoOperation* op) {
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

IoStart deviceControl(DeviceFile*, uint32_t, const void*, uint32_t, IoOperation*) { return IoStart::kFailed; }

bool deviceResult(DeviceFile*, IoOperation* op, uint32_t* transferred) {
  if (!op->done) {
    if (transferred) *transferred = 0;
    return false;
  }
  if (transferred) *transferred = op->transferred;
  return op->ok;
}

void deviceCancel(DeviceFile* f) {
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

void ioSettle(DeviceFile*, IoOperation* op) {
  if (op->worker.joinable() && op->starter == currentThreadId()) {
    op->cancel = true;
    op->worker.join();
  }
}

bool serialConfigure(DeviceFile* f, const SerialSettings& s) {
  termios t{};
  if (tcgetattr(f->fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t sp = speedOf(s.baudRate);
  if (sp != B0) cfsetspeed(&t, sp);
  bool ok = tcsetattr(f->fd, TCSANOW, &t) == 0;
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(f->fd, TIOCMBIS, &lines);
  ok = serialPurge(f) && ok;
  f->eventMask |= s.extraEventMask;
  return ok;
}

bool serialSetBaudRate(DeviceFile* f, uint32_t baud) {
  termios t{};
  const speed_t sp = speedOf(baud);
  if (sp == B0 || tcgetattr(f->fd, &t) != 0) return false;
  cfsetspeed(&t, sp);
  return tcsetattr(f->fd, TCSANOW, &t) == 0;
}

bool serialPurge(DeviceFile* f) { return tcflush(f->fd, TCIOFLUSH) == 0; }

bool serialSetBreak(DeviceFile* f, bool on) { return ioctl(f->fd, on ? TIOCSBRK : TIOCCBRK) == 0; }

IoStart serialWaitEvent(DeviceFile* f, uint32_t* mask, IoOperation* op) {
  const int fd = f->fd;
  const uint32_t wanted = f->eventMask;
  return startOn(f, op, [fd, mask, wanted](IoOperation* o, uint32_t* n) {
    *n = 0;
#ifdef __linux__
    // Counters of the line's events, compared in short slices so that a cancel is seen.
    LineCounts before{}, now{};
    if (!lineCounts(fd, &before)) {
      // A line without event counters (a pseudo-terminal) reports nothing.
      while (!o->cancel) ::usleep(5000);
      return false;
    }
    while (!o->cancel) {
      ::usleep(5000);
      if (!lineCounts(fd, &now)) return false;
      uint32_t bits = 0;
      if (now.cts != before.cts) bits |= kLineCts;
      if (now.dsr != before.dsr) bits |= kLineDsr;
      if (now.brk != before.brk) bits |= kLineBreak;
      if (now.err != before.err) bits |= kLineError;
      before = now;
      bits &= wanted;
      if (bits) {
        *mask = bits;
        return true;
      }
    }
#else
    (void)fd;
    (void)mask;
    (void)wanted;
    while (!o->cancel) ::usleep(5000);
#endif
    return false;
  });
}

Library* libraryLoad(const char* name) {
  std::string n(name ? name : "");
  // "X.dll" is the shared object libX.so here.
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dll") == 0) n = "lib" + n.substr(0, n.size() - 4) + ".so";
  return static_cast<Library*>(dlopen(n.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* libraryEntry(Library* lib, const char* entry) { return lib ? dlsym(lib, entry) : nullptr; }

void libraryFree(Library* lib) {
  if (lib) dlclose(lib);
}

// ---- Message queues: one per thread, created on first use; windows name a queue ----

namespace {

struct Queue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<Message> items;
};

struct Registry {
  std::mutex m;
  std::map<uint32_t, std::shared_ptr<Queue>> threads;
  std::map<Window, std::weak_ptr<Queue>> windows;
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every thread's queue holder
  return *r;
}

struct ThreadQueue {
  std::shared_ptr<Queue> q;
  uint32_t id = 0;
  ~ThreadQueue() {
    if (!q) return;
    std::lock_guard<std::mutex> g(registry().m);
    registry().threads.erase(id);
  }
};
thread_local ThreadQueue t_queue;

std::shared_ptr<Queue> ownQueue() {
  if (!t_queue.q) {
    t_queue.q = std::make_shared<Queue>();
    t_queue.id = currentThreadId();
    std::lock_guard<std::mutex> g(registry().m);
    registry().threads[t_queue.id] = t_queue.q;
  }
  return t_queue.q;
}

bool post(const std::shared_ptr<Queue>& q, const Message& msg) {
  if (!q) return false;
  std::lock_guard<std::mutex> g(q->m);
  q->items.push_back(msg);
  q->cv.notify_all();
  return true;
}

}  // namespace

bool postWindowMessage(Window w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(registry().m);
    auto it = registry().windows.find(w);
    if (it != registry().windows.end()) q = it->second.lock();
  }
  return post(q, Message{w, message, wParam, lParam});
}

bool postThreadMessage(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> g(registry().m);
    auto it = registry().threads.find(threadId);
    if (it != registry().threads.end()) q = it->second;
  }
  return post(q, Message{nullptr, message, wParam, lParam});
}

Window messageWindowCreate() {
  auto q = ownQueue();
  Window w = new char;  // a unique handle
  std::lock_guard<std::mutex> g(registry().m);
  registry().windows[w] = q;
  return w;
}

void messageWindowDestroy(Window w) {
  if (!w) return;
  {
    std::lock_guard<std::mutex> g(registry().m);
    registry().windows.erase(w);
  }
  delete static_cast<char*>(w);
}

bool messageTake(Message* out, uint32_t ms) {
  auto q = ownQueue();
  std::unique_lock<std::mutex> lock(q->m);
  auto ready = [&] { return !q->items.empty(); };
  if (ms == kInfinite) {
    q->cv.wait(lock, ready);
  } else if (!q->cv.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
    return false;
  }
  *out = q->items.front();
  q->items.pop_front();
  return true;
}

}  // namespace vel::platform

namespace vel::platform {

void* modulePin() { return nullptr; }
void moduleUnpin(void*) {}
void threadExitReleasingModule(void*) {}
bool processEnding() { return false; }

}  // namespace vel::platform
