// A hand-driven imager for link tests: answers the resynchronisation and reads
// and writes raw frames on the imager end of a MemoryLine.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "imager/ImagerLine.h"
#include "imager/WireCrc.h"

namespace linktest {

using Bytes = std::vector<uint8_t>;

class RawImager {
 public:
  explicit RawImager(sim::ImagerLine& line) : line_(line) {}

  // Reads exactly n bytes unless timeoutMs passes; answers what arrived.
  Bytes read(size_t n, int timeoutMs = 2000) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
      line_.takeLineRecovery();
      uint8_t b[1024];
      size_t want = n - out.size() < sizeof b ? n - out.size() : sizeof b;
      size_t got = line_.read(b, want, 10);
      out.insert(out.end(), b, b + got);
      if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return out;
  }

  // Waits for 00 00 FF and the host's token; answers whether they came.
  bool awaitResync(uint32_t* hostToken = nullptr, int timeoutMs = 3000) {
    uint32_t window = 0xFFFFFFFF;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      Bytes b = read(1, 20);
      if (b.empty()) continue;
      window = ((window << 8) | b[0]) & 0xFFFFFF;
      if (window == 0x0000FF) {
        Bytes t = read(4);
        if (t.size() != 4) return false;
        if (hostToken) *hostToken = t[0] | (t[1] << 8) | (t[2] << 16) | (uint32_t(t[3]) << 24);
        return true;
      }
    }
    return false;
  }

  void answer(uint32_t token) {
    Bytes a = {0x00, 0x00, 0x01, uint8_t(token), uint8_t(token >> 8), uint8_t(token >> 16), uint8_t(token >> 24)};
    line_.write(a.data(), a.size());
  }

  bool resync(uint32_t token) {
    if (!awaitResync()) return false;
    answer(token);
    return true;
  }

  static Bytes packet(int port, int seq, const Bytes& payload) {
    Bytes w(4 + payload.size());
    uint16_t h = uint16_t((payload.size() << 6) | ((seq & 3) << 4) | (port & 0xF));
    w[2] = uint8_t(h);
    w[3] = uint8_t(h >> 8);
    std::copy(payload.begin(), payload.end(), w.begin() + 4);
    uint16_t c = sim::wireCrc(w.data() + 2, 2 + payload.size());
    w[0] = uint8_t(c);
    w[1] = uint8_t(c >> 8);
    return w;
  }

  static Bytes message(int port, int seq, const Bytes& payload) {
    uint32_t h = uint32_t(payload.size() << 6) | uint32_t((seq & 3) << 4) | uint32_t(port & 0xF);
    Bytes w(4 + payload.size());
    for (int i = 0; i < 4; ++i) w[size_t(i)] = uint8_t(h >> (8 * i));
    std::copy(payload.begin(), payload.end(), w.begin() + 4);
    return w;
  }

  void send(const Bytes& b) { line_.write(b.data(), b.size()); }

  // One packet from the host: header, then its payload.
  Bytes readPacket(int timeoutMs = 2000) {
    Bytes p = read(4, timeoutMs);
    if (p.size() < 4) return p;
    size_t len = (p[2] | (p[3] << 8)) >> 6;
    Bytes rest = read(len, timeoutMs);
    p.insert(p.end(), rest.begin(), rest.end());
    return p;
  }

  static int port(const Bytes& p) { return p[2] & 0xF; }
  static int seq(const Bytes& p) { return (p[2] >> 4) & 3; }
  static size_t length(const Bytes& p) { return (p[2] | (p[3] << 8)) >> 6; }

 private:
  sim::ImagerLine& line_;
};

}  // namespace linktest
