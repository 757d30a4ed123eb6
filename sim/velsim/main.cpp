// velsim: the simulated imager as a program of its own, served as a network
// serial port (RFC 2217) so that any application reaches it through the port map:
//
//   velsim [--listen HOST] [--tcp-port N] [--paced] [--echo] [--scene FILE]
//          [--processor N] [--sensor HEX] [--firmware TEXT] [--link-level N]
//          [--pull-every MS] [--no-break-answer] [--break-delay MS] [--modem-event-every MS]
//          [--line-event-every MS] [--drop-every MS] [--corrupt-every MS]
//          [--lose-every MS] [--seconds S]
//   velsim --replay TRACE [--listen HOST] [--tcp-port N] [--paced] [--seconds S]
//
// It listens on 127.0.0.1:2217 unless told otherwise (--tcp-port 0: any free
// port) and prints the URL it serves, then every connection, setting, break and
// fault. Enter on standard input pulls the trigger once, as does every period of
// --pull-every; "q" and Enter, Ctrl-C or --seconds end it. --paced runs the line
// at the baud rate the client sets; --echo serves a line that returns every byte
// instead of the imager. The imager photographs the --scene file, by default
// sim/scenes/demo.scene. Faults: the imager does not answer breaks, answers them
// late, reports a line error every period, or the connection is dropped every period;
// every period a data packet to the host is corrupted or lost (counted at the end).
// --replay answers the host with the imager's side of a recorded field trace (see
// Replay.h) and ends, with status 3, at the first command the recording does not have.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <mutex>
#include <thread>

#include "SimulatedImager.h"
#include "velsim/NetworkPortServer.h"
#include "velsim/Replay.h"

namespace {

std::atomic<bool> g_stop{false};
// Closes standard input's trigger pulls at the end (see main).
std::mutex g_keysLock;
bool g_keysClosed = false;

struct Options {
  std::string listen = "127.0.0.1";
  long tcpPort = 2217;
  bool paced = false, echo = false, answerBreaks = true;
  long breakDelayMs = -1, pullEveryMs = 0, lineEventEveryMs = 0, dropEveryMs = 0, seconds = 0;
  long modemEventEveryMs = 0;
  long corruptEveryMs = 0, loseEveryMs = 0;
  sim::ImagerIdentity identity;
  std::string scene = sim::sceneFolder() + "/demo.scene";  // the scene file photographed
  std::string replay;  // a trace whose imager side is played instead
};

int usage() {
  std::fprintf(stderr,
               "usage: velsim [--listen HOST] [--tcp-port N] [--paced] [--echo] [--scene FILE] [--processor N]\n"
               "              [--sensor HEX] [--firmware TEXT] [--link-level N] [--pull-every MS] [--no-break-answer]\n"
               "              [--modem-event-every MS]\n"
               "              [--break-delay MS] [--line-event-every MS] [--drop-every MS] [--corrupt-every MS]\n"
               "              [--lose-every MS] [--seconds S]\n"
               "       velsim --replay TRACE [--listen HOST] [--tcp-port N] [--paced] [--seconds S]\n");
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](long& out, int base = 10) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtol(argv[++i], &end, base);
      return end && *end == '\0' && out >= 0;
    };
    long v = 0;
    if (a == "--listen" && i + 1 < argc) {
      o.listen = argv[++i];
    } else if (a == "--replay" && i + 1 < argc) {
      o.replay = argv[++i];
    } else if (a == "--scene" && i + 1 < argc) {
      o.scene = argv[++i];
    } else if (a == "--firmware" && i + 1 < argc) {
      o.identity.firmware = argv[++i];
    } else if (a == "--tcp-port") {
      if (!value(o.tcpPort) || o.tcpPort > 65535) return false;
    } else if (a == "--processor" || a == "--sensor" || a == "--link-level") {
      if (!value(v, a == "--sensor" ? 16 : 10)) return false;
      uint32_t& field = a == "--processor" ? o.identity.visionProcessor
                        : a == "--sensor"  ? o.identity.imageSensor
                                           : o.identity.linkLevel;
      field = static_cast<uint32_t>(v);
    } else if (a == "--pull-every") {
      if (!value(o.pullEveryMs)) return false;
    } else if (a == "--break-delay") {
      if (!value(o.breakDelayMs)) return false;
    } else if (a == "--line-event-every") {
      if (!value(o.lineEventEveryMs)) return false;
    } else if (a == "--modem-event-every") {
      if (!value(o.modemEventEveryMs)) return false;
    } else if (a == "--drop-every") {
      if (!value(o.dropEveryMs)) return false;
    } else if (a == "--corrupt-every") {
      if (!value(o.corruptEveryMs)) return false;
    } else if (a == "--lose-every") {
      if (!value(o.loseEveryMs)) return false;
    } else if (a == "--seconds") {
      if (!value(o.seconds)) return false;
    } else if (a == "--paced") {
      o.paced = true;
    } else if (a == "--echo") {
      o.echo = true;
    } else if (a == "--no-break-answer") {
      o.answerBreaks = false;
    } else {
      return false;
    }
  }
  return o.replay.empty() || !o.echo;
}

void say(const std::string& text) {
  std::printf("velsim: %s\n", text.c_str());
  std::fflush(stdout);
}

// The imager end of an echo line: every byte the host sends comes back.
void echo(sim::SimSerialLine& line) {
  uint8_t chunk[4096];
  while (!g_stop) {
    line.takeLineRecovery();
    const size_t n = line.read(chunk, sizeof chunk, 20);
    if (n > 0) line.write(chunk, n);
  }
}

// Runs action every periodMs (0: never) until the program stops.
std::thread every(long periodMs, std::function<void()> action) {
  if (periodMs <= 0) return {};
  return std::thread([periodMs, action] {
    auto next = std::chrono::steady_clock::now();
    while (!g_stop) {
      next += std::chrono::milliseconds(periodMs);
      while (!g_stop && std::chrono::steady_clock::now() < next) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!g_stop) action();
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return usage();
  std::signal(SIGINT, [](int) { g_stop = true; });
  std::signal(SIGTERM, [](int) { g_stop = true; });

  // The simulated imager is on COM1 of this process; only the server opens it.
  std::unique_ptr<sim::SimulatedImager> imager;
  std::shared_ptr<sim::SimSerialLine> line;
  std::thread echoer;
  std::unique_ptr<sim::Replay> replay;
  if (!o.replay.empty()) {
    std::string error;
    std::vector<trace::Exchange> exchanges = sim::Replay::load(o.replay, &error);
    if (exchanges.empty()) {
      std::fprintf(stderr, "velsim: %s\n", error.c_str());
      return 2;
    }
    line = std::make_shared<sim::SimSerialLine>(1);
    replay = std::make_unique<sim::Replay>(std::move(exchanges), *line, say);
  } else if (o.echo) {
    line = std::make_shared<sim::SimSerialLine>(1);
    echoer = std::thread([&line] { echo(*line); });
  } else {
    imager = std::make_unique<sim::SimulatedImager>(1, o.identity);
    std::string error;
    const auto scene = sim::loadScene(o.scene, &error);
    if (!scene) {
      std::fprintf(stderr, "velsim: %s\n", error.c_str());
      return 2;
    }
    imager->showScene(*scene);
    line = std::shared_ptr<sim::SimSerialLine>(imager->serialLine(), [](sim::SimSerialLine*) {});
  }
  line->setAnswerBreaks(o.answerBreaks);
  if (o.breakDelayMs >= 0) line->setBreakAnswerDelayMs(static_cast<int>(o.breakDelayMs));

  sim::NetworkPortServer::Options serverOptions;
  serverOptions.paced = o.paced;
  serverOptions.log = say;
  sim::NetworkPortServer server(line, o.listen, static_cast<uint16_t>(o.tcpPort), serverOptions);
  if (!server.listening()) {
    std::fprintf(stderr, "velsim: cannot listen on %s:%ld\n", o.listen.c_str(), o.tcpPort);
    g_stop = true;
    if (echoer.joinable()) echoer.join();
    return 1;
  }
  const bool v6 = o.listen.find(':') != std::string::npos;
  say("serving rfc2217://" + (v6 ? "[" + o.listen + "]" : o.listen) + ":" + std::to_string(server.port()) +
      (replay ? " (replaying " + o.replay + ")"
       : o.echo ? " (echo line)"
                : " (simulated imager, firmware " + o.identity.firmware + ")"));

  auto pull = [&] {
    if (!imager) return;
    const sim::TransferReport report = imager->pullTrigger(0x01);
    say("trigger pulled: " + std::to_string(report.bytes) + " bytes sent");
  };
  std::thread puller = every(o.pullEveryMs, pull);
  std::thread lineEvents = every(o.lineEventEveryMs, [&] {
    say("injecting a line error");
    line->injectLineEvent(vel::devices::kLineError);
  });
  // CTS and DSR turn over together, as when the cable is pulled or put back.
  std::thread modemEvents = every(o.modemEventEveryMs, [&] {
    say("injecting a CTS and DSR change");
    line->injectLineEvent(vel::devices::kLineCts | vel::devices::kLineDsr);
  });
  std::thread dropper = every(o.dropEveryMs, [&] {
    say("dropping the connection");
    server.dropClient();
  });
  // The next data packet to the host goes damaged (its CRC fails) or not at all.
  std::thread corrupter = every(o.corruptEveryMs, [&] {
    if (imager) imager->link().corruptOutgoingPackets(1);
  });
  std::thread loser = every(o.loseEveryMs, [&] {
    if (imager) imager->link().dropOutgoingPackets(1);
  });
  // Standard input: Enter pulls the trigger, "q" ends; its end leaves the rest running.
  // The thread stays blocked in its read after the end: it is left behind, and once
  // g_keysClosed is set it touches nothing of main's any more.
  std::thread keys([&] {
    std::string text;
    while (!g_stop && std::getline(std::cin, text)) {
      std::lock_guard<std::mutex> hold(g_keysLock);
      if (g_keysClosed) return;
      if (text == "q") {
        g_stop = true;
      } else {
        pull();
      }
    }
  });
  keys.detach();

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  while (!g_stop && !(replay && replay->failed()) && (o.seconds == 0 || std::chrono::steady_clock::now() < end)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  g_stop = true;
  {
    std::lock_guard<std::mutex> hold(g_keysLock);  // a pull under way ends first
    g_keysClosed = true;
  }
  for (std::thread* t : {&puller, &lineEvents, &modemEvents, &dropper, &corrupter, &loser, &echoer}) {
    if (t->joinable()) t->join();
  }
  if (imager && (o.corruptEveryMs || o.loseEveryMs)) {
    const sim::ImagerLink& link = imager->link();
    say("faults: " + std::to_string(link.packetsCorrupted()) + " packet(s) corrupted, " +
        std::to_string(link.packetsDropped()) + " lost, " + std::to_string(link.resyncsAnswered()) +
        " resynchronisation(s) answered");
  }
  say("stopped");
  return replay && replay->failed() ? 3 : 0;
}
