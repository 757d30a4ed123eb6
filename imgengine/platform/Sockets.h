// TCP sockets for network serial ports: connect with a time limit, a listening
// socket for the stand-alone simulator, non-blocking sends and receives, and a
// bounded wait for readiness so that callers see their own cancellation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vel::platform {

struct NativeSocket;

// Resolves host (a name or a numeric address) and connects within timeoutMs; the
// socket is non-blocking and sends without delay. Null on failure.
NativeSocket* tcpConnect(const char* host, uint16_t port, uint32_t timeoutMs);
// Listens on host:port (port 0: any free port). Null on failure.
NativeSocket* tcpListen(const char* host, uint16_t port);
// Waits at most timeoutMs for a connection on a listening socket; null when none came.
NativeSocket* tcpAccept(NativeSocket* listener, uint32_t timeoutMs);
uint16_t socketLocalPort(NativeSocket* s);
void socketClose(NativeSocket* s);

// What socketWait found.
enum SocketReady : unsigned { kSocketReadable = 1, kSocketWritable = 2, kSocketFailed = 4 };
// Waits at most timeoutMs for the socket to become readable (or writable, when
// asked); answers the SocketReady bits, 0 on timeout.
unsigned socketWait(NativeSocket* s, bool wantWritable, uint32_t timeoutMs);
// Non-blocking transfers: bytes moved, 0 when the call would block, -1 when the
// connection ended (a receive of end of stream) or failed.
long socketSend(NativeSocket* s, const void* data, size_t length);
long socketReceive(NativeSocket* s, void* buffer, size_t capacity);

}  // namespace vel::platform
