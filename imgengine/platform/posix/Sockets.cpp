// POSIX TCP sockets, non-blocking, with poll for the bounded waits.
#include "platform/Sockets.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vel::platform {

struct NativeSocket {
  int fd;
};

namespace {

NativeSocket* wrap(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return new NativeSocket{fd};
}

addrinfo* resolve(const char* host, uint16_t port, bool passive) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host, service.c_str(), &hints, &list) != 0) return nullptr;
  return list;
}

int pollFor(int fd, short events, uint32_t timeoutMs) {
  pollfd p{fd, events, 0};
  const int ms = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
  const int r = ::poll(&p, 1, ms);
  return r > 0 ? p.revents : (r < 0 && errno != EINTR ? POLLERR : 0);
}

}  // namespace

NativeSocket* tcpConnect(const char* host, uint16_t port, uint32_t timeoutMs) {
  addrinfo* list = resolve(host, port, false);
  if (!list) return nullptr;
  NativeSocket* result = nullptr;
  for (addrinfo* a = list; a && !result; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS && (pollFor(fd, POLLOUT, timeoutMs) & POLLOUT)) {
      int error = 0;
      socklen_t len = sizeof error;
      connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
    if (connected) {
      result = wrap(fd);
    } else {
      ::close(fd);
    }
  }
  ::freeaddrinfo(list);
  return result;
}

NativeSocket* tcpListen(const char* host, uint16_t port) {
  addrinfo* list = resolve(host, port, true);
  if (!list) return nullptr;
  NativeSocket* result = nullptr;
  for (addrinfo* a = list; a && !result; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 4) == 0) {
      result = new NativeSocket{fd};
    } else {
      ::close(fd);
    }
  }
  ::freeaddrinfo(list);
  return result;
}

NativeSocket* tcpAccept(NativeSocket* listener, uint32_t timeoutMs) {
  if (!(pollFor(listener->fd, POLLIN, timeoutMs) & POLLIN)) return nullptr;
  const int fd = ::accept(listener->fd, nullptr, nullptr);
  return fd < 0 ? nullptr : wrap(fd);
}

uint16_t socketLocalPort(NativeSocket* s) {
  sockaddr_storage address{};
  socklen_t len = sizeof address;
  if (::getsockname(s->fd, reinterpret_cast<sockaddr*>(&address), &len) != 0) return 0;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

void socketClose(NativeSocket* s) {
  if (!s) return;
  ::close(s->fd);
  delete s;
}

unsigned socketWait(NativeSocket* s, bool wantWritable, uint32_t timeoutMs) {
  const int revents = pollFor(s->fd, static_cast<short>(POLLIN | (wantWritable ? POLLOUT : 0)), timeoutMs);
  unsigned ready = 0;
  if (revents & (POLLIN | POLLHUP)) ready |= kSocketReadable;
  if (revents & POLLOUT) ready |= kSocketWritable;
  if (revents & (POLLERR | POLLNVAL)) ready |= kSocketFailed;
  return ready;
}

long socketSend(NativeSocket* s, const void* data, size_t length) {
  const ssize_t n = ::send(s->fd, data, length, MSG_NOSIGNAL);
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long socketReceive(NativeSocket* s, void* buffer, size_t capacity) {
  const ssize_t n = ::recv(s->fd, buffer, capacity, 0);
  if (n > 0) return static_cast<long>(n);
  if (n == 0) return -1;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

}  // namespace vel::platform
