// WinSock TCP sockets, non-blocking, with select for the bounded waits. WinSock
// starts with the first socket and stays for the life of the process.
#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace vel::platform {

struct NativeSocket {
  SOCKET s;
};

namespace {

bool started() {
  static const bool ok = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

void nonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

NativeSocket* wrap(SOCKET s) {
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  nonBlocking(s);
  return new NativeSocket{s};
}

addrinfo* resolve(const char* host, uint16_t port, bool passive) {
  if (!started()) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host, service.c_str(), &hints, &list) != 0) return nullptr;
  return list;
}

// select on one socket: bit 0 readable, bit 1 writable, bit 2 failed.
unsigned selectOn(SOCKET s, bool read, bool write, uint32_t timeoutMs) {
  fd_set r, w, e;
  FD_ZERO(&r);
  FD_ZERO(&w);
  FD_ZERO(&e);
  if (read) FD_SET(s, &r);
  if (write) FD_SET(s, &w);
  FD_SET(s, &e);
  timeval tv{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  const int n = select(0, &r, &w, &e, timeoutMs == 0xFFFFFFFFu ? nullptr : &tv);
  if (n == SOCKET_ERROR) return kSocketFailed;
  unsigned ready = 0;
  if (FD_ISSET(s, &r)) ready |= kSocketReadable;
  if (FD_ISSET(s, &w)) ready |= kSocketWritable;
  if (FD_ISSET(s, &e)) ready |= kSocketFailed;
  return ready;
}

bool wouldBlock() {
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

}  // namespace

NativeSocket* tcpConnect(const char* host, uint16_t port, uint32_t timeoutMs) {
  addrinfo* list = resolve(host, port, false);
  if (!list) return nullptr;
  NativeSocket* result = nullptr;
  for (addrinfo* a = list; a && !result; a = a->ai_next) {
    const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    nonBlocking(s);
    bool connected = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
      // A refused connection shows in the exception set.
      connected = selectOn(s, false, true, timeoutMs) == kSocketWritable;
    }
    if (connected) {
      result = wrap(s);
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(list);
  return result;
}

NativeSocket* tcpListen(const char* host, uint16_t port) {
  addrinfo* list = resolve(host, port, true);
  if (!list) return nullptr;
  NativeSocket* result = nullptr;
  for (addrinfo* a = list; a && !result; a = a->ai_next) {
    const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    if (bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 && listen(s, 4) == 0) {
      result = new NativeSocket{s};
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(list);
  return result;
}

NativeSocket* tcpAccept(NativeSocket* listener, uint32_t timeoutMs) {
  if (!(selectOn(listener->s, true, false, timeoutMs) & kSocketReadable)) return nullptr;
  const SOCKET s = accept(listener->s, nullptr, nullptr);
  return s == INVALID_SOCKET ? nullptr : wrap(s);
}

uint16_t socketLocalPort(NativeSocket* s) {
  sockaddr_storage address{};
  int len = sizeof address;
  if (getsockname(s->s, reinterpret_cast<sockaddr*>(&address), &len) != 0) return 0;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

void socketClose(NativeSocket* s) {
  if (!s) return;
  closesocket(s->s);
  delete s;
}

unsigned socketWait(NativeSocket* s, bool wantWritable, uint32_t timeoutMs) {
  return selectOn(s->s, true, wantWritable, timeoutMs);
}

long socketSend(NativeSocket* s, const void* data, size_t length) {
  const int chunk = length > 0x10000 ? 0x10000 : static_cast<int>(length);
  const int n = send(s->s, static_cast<const char*>(data), chunk, 0);
  if (n != SOCKET_ERROR) return n;
  return wouldBlock() ? 0 : -1;
}

long socketReceive(NativeSocket* s, void* buffer, size_t capacity) {
  const int chunk = capacity > 0x10000 ? 0x10000 : static_cast<int>(capacity);
  const int n = recv(s->s, static_cast<char*>(buffer), chunk, 0);
  if (n > 0) return n;
  if (n == 0) return -1;
  return wouldBlock() ? 0 : -1;
}

}  // namespace vel::platform
