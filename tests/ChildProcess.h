// Runs a piece of a test in a forked child process (POSIX), where it may limit
// the size of the files it writes, so that writes come back short, or give up
// root's right to write into any folder. The child hands back a list of numbers.
#pragma once

#ifndef _WIN32

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace childprocess {

// The numbers body returns in the child; empty when the child did not end
// normally within the deadline (it is then killed).
inline std::vector<int> run(const std::function<std::vector<int>()>& body, int deadlineSeconds = 60) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return {};
  }
  if (child == 0) {
    ::close(pipeEnds[0]);
    const std::vector<int> numbers = body();
    const char* p = reinterpret_cast<const char*>(numbers.data());
    size_t left = numbers.size() * sizeof(int);
    while (left > 0) {
      const ssize_t n = ::write(pipeEnds[1], p, left);
      if (n <= 0) ::_exit(2);
      p += n;
      left -= static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
  std::vector<char> bytes;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{pipeEnds[0], POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) continue;
    char chunk[512];
    const ssize_t n = ::read(pipeEnds[0], chunk, sizeof chunk);
    if (n > 0)
      bytes.insert(bytes.end(), chunk, chunk + n);
    else
      ended = true;  // the child closed its end
  }
  ::close(pipeEnds[0]);
  if (!ended) ::kill(child, SIGKILL);
  int status = 0;
  pid_t waited = 0;
  while (waited == 0 && std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5)) {
    waited = ::waitpid(child, &status, WNOHANG);
    if (waited == 0) ::poll(nullptr, 0, 10);
  }
  if (!ended || waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  std::vector<int> numbers(bytes.size() / sizeof(int));
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(numbers.size() * sizeof(int)),
            reinterpret_cast<char*>(numbers.data()));
  return numbers;
}

// In a child: every file write stops at bytes, the write that reaches the limit
// comes back short and later ones fail (SIGXFSZ is ignored, so nothing ends the
// process).
inline bool limitFileSize(rlim_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// In a child: a root process becomes the unprivileged user 65534, for which a
// folder's permissions hold; any other process stays as it is.
inline bool dropRoot() {
  if (::geteuid() != 0) return true;
  return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace childprocess

#endif
