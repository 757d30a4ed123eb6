// serve: the imager console (console/): one desk thread owns the connection, the HTTP
// server answers the page, the API and the event stream, until Ctrl+C or --seconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "../Cli.h"
#include "../Commands.h"
#include "DeviceDesk.h"
#include "EventHub.h"
#include "HttpConsole.h"
#include "MqttPublisher.h"

namespace velcli {

namespace {

// HOST:PORT, [IPv6]:PORT; the port 0..65535.
bool splitListen(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return !host.empty() && parseNumber(text.substr(colon + 1), 0, 65535, port);
}

bool readToken(const std::string& path, std::string& token) {
  std::ifstream in(path);
  if (!in || !std::getline(in, token)) return false;
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t')) token.pop_back();
  return !token.empty();
}

}  // namespace

int runServe(Context& c) {
  const Options& o = c.options;
  std::string host;
  int port = 0;
  if (!splitListen(o.listen, host, port)) {
    c.report.fail("--listen takes HOST:PORT, not " + o.listen);
    return kUsage;
  }
  console::Access access{o.token};
  std::string why;
  if (!o.tokenFile.empty() && !readToken(o.tokenFile, access.token)) {
    c.report.fail("no token in " + o.tokenFile);
    return kFileError;
  }
  if (!access.token.empty() && !console::checkToken(access.token, why)) {
    c.report.fail(why);
    return kUsage;
  }
  if (access.token.empty() && !console::isLoopbackName(host)) {
    c.report.fail("listening on " + host + " needs --token or --token-file");
    return kUsage;
  }

  // Declared before the hub and the desk: it outlives what they publish.
  std::unique_ptr<console::MqttPublisher> mqtt;
  if (!startMqtt(c, mqtt)) return kConnectFailed;
  console::EventHub events;
  if (mqtt) console::attachMqtt(events, *mqtt);
  console::DeviceDesk desk({o.port, o.timeoutMs, c.imager}, events);
  console::HttpConsole http(desk, events, access);
  if (!http.bind(host, port, why)) {
    c.report.fail(why);
    return kConnectFailed;
  }
  desk.start();
  const nlohmann::json state = desk.state();
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  const std::string url = "http://" + shownHost + ":" + std::to_string(http.port()) + "/";
  c.report.put("url", "console", url + (access.token.empty() ? "" : "?token=TOKEN"));
  c.report.put("connected", "imager", state.value("connected", false) ? 1 : 0,
               state.value("connected", false) ? "connected" : "not connected (tried again every 5 s)");
  // The JSON document is written at the end; a script learns the address meanwhile
  // from the standard error.
  if (c.report.json()) std::fprintf(stderr, "console: %s\n", url.c_str());
  else std::printf("serving until Ctrl+C%s\n", o.seconds > 0 ? " or the time is up" : "");
  std::fflush(stdout);

  std::thread server([&] { http.serve(); });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  while (!g_interrupted && (o.seconds <= 0 || std::chrono::steady_clock::now() < until)) pauseMs(50);
  // The desk first: it answers the requests waiting for it, so the server's threads end.
  desk.stop();
  http.stop();
  server.join();
  const int result = stopMqtt(c, mqtt.get(), kOk);
  c.report.say("stopped");
  return result;
}

}  // namespace velcli
