#include "HttpConsole.h"

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../Cli.h"
#include "../Settings.h"
#include "ConsolePage.h"
#include "ImgEngine.h"
#include "SimulatedImager.h"

namespace velcli::console {

namespace {

using httplib::Request;
using httplib::Response;

constexpr size_t kMaxBody = 512 * 1024;        // any request; beyond it 413
constexpr size_t kMaxJsonBody = 64 * 1024;     // API requests with JSON
constexpr size_t kMaxConfigFile = 256 * 1024;  // an uploaded configuration file
constexpr int kCaptureWaitMs = 120000;
constexpr int kJobWaitMs = 60000;
constexpr int kMaxStreams = 8;                 // event streams at once
constexpr int kThreads = kMaxStreams + 8;

void reply(Response& res, const Answer& a) {
  res.status = a.status;
  res.set_content(a.body.dump(), "application/json");
}

void fail(Response& res, int status, const char* error, const std::string& message) {
  reply(res, errorAnswer(status, error, message));
}

// Compares without stopping at the first difference.
bool sameSecret(const std::string& given, const std::string& secret) {
  if (secret.empty()) return false;
  unsigned char diff = given.size() != secret.size();
  for (size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
  return diff == 0;
}

}  // namespace

bool isLoopbackName(std::string host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    const size_t end = host.find(']');
    return end != std::string::npos && host.substr(1, end - 1) == "::1";
  }
  if (host == "::1") return true;
  host = host.substr(0, host.find(':'));
  return host == "localhost" || host == "127.0.0.1";
}

namespace {

// A JSON object body, or an error answered.
bool jsonBody(const Request& req, Response& res, nlohmann::json& body, bool emptyIsObject = true) {
  if (req.body.size() > kMaxJsonBody) {
    fail(res, 413, "too-large", "the request body is larger than " + std::to_string(kMaxJsonBody) + " bytes");
    return false;
  }
  if (req.body.empty() && emptyIsObject) {
    body = nlohmann::json::object();
    return true;
  }
  body = nlohmann::json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    fail(res, 400, "bad-json", "the body is not a JSON object");
    return false;
  }
  return true;
}

// A boolean member: absent is false; anything but a boolean or 0/1 is an error.
bool flag(const nlohmann::json& body, const char* key, bool& out, std::string& why) {
  out = false;
  if (!body.contains(key)) return true;
  const nlohmann::json& v = body[key];
  if (v.is_boolean()) out = v.get<bool>();
  else if (v.is_number_integer() && (v.get<long long>() == 0 || v.get<long long>() == 1)) out = v.get<long long>() == 1;
  else {
    why = std::string(key) + " must be true or false";
    return false;
  }
  return true;
}

bool captureOptions(const nlohmann::json& body, CaptureOptions& o, std::string& why) {
  return flag(body, "decode", o.decode, why) && flag(body, "grey", o.grey, why) && flag(body, "binary", o.binary, why) &&
         flag(body, "compressed", o.compressed, why);
}

std::string tempFile(const char* what) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const auto dir = std::filesystem::temp_directory_path(error);
  return (dir / ("velcli-console-" + std::to_string(ownThreadId()) + "-" + std::to_string(++counter) + what)).string();
}

// Text with at least one section header line ("[Name]").
bool looksLikeIni(const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') return true;
    start = end + 1;
  }
  return false;
}

nlohmann::json settingsJson() {
  nlohmann::json groups = nlohmann::json::array();
  for (const char* group : settingGroups()) {
    nlohmann::json list = nlohmann::json::array();
    for (const Setting& s : settings()) {
      if (std::string(s.group) != group) continue;
      list.push_back({{"name", s.name},
                      {"value", s.get()},
                      {"min", s.low},
                      {"max", s.high},
                      {"kind", s.isSwitch ? "switch" : "value"}});
    }
    if (!list.empty()) groups.push_back({{"name", group}, {"settings", list}});
  }
  return {{"groups", groups}};
}

}  // namespace

struct HttpConsole::Impl {
  DeviceDesk& desk;
  EventHub& events;
  Access access;
  httplib::Server server;
  int port = 0;
  std::atomic<int> streams{0};

  Impl(DeviceDesk& d, EventHub& e, Access a) : desk(d), events(e), access(std::move(a)) {}

  // Every request: the token when there is one; otherwise a loopback Host (a page of
  // another site cannot reach us through a name it controls). Changes also need the
  // token or a request from our own page.
  bool admitted(const Request& req, Response& res) {
    const std::string host = req.get_header_value("Host");
    if (!access.token.empty()) {
      const std::string bearer = req.get_header_value("Authorization");
      const bool ok = (bearer.rfind("Bearer ", 0) == 0 && sameSecret(bearer.substr(7), access.token)) ||
                      (req.has_param("token") && sameSecret(req.get_param_value("token"), access.token));
      if (!ok) {
        res.set_header("WWW-Authenticate", "Bearer");
        fail(res, 401, "unauthorized", "a valid token is needed (Authorization: Bearer TOKEN, or ?token=TOKEN)");
        return false;
      }
      return true;
    }
    if (!isLoopbackName(host)) {
      fail(res, 403, "forbidden", "only loopback names are served without a token");
      return false;
    }
    const std::string origin = req.get_header_value("Origin");
    if (req.method != "GET" && req.method != "HEAD" && !origin.empty() && origin != "http://" + host) {
      fail(res, 403, "forbidden", "a change from another origin (" + origin + ") is refused");
      return false;
    }
    return true;
  }

  void routes() {
    server.set_payload_max_length(kMaxBody);
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_pre_routing_handler([this](const Request& req, Response& res) {
      return admitted(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                : httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const Request&, Response& res) {
      if (!res.body.empty()) return;
      const int status = res.status;
      fail(res, status, status == 413 ? "too-large" : status == 404 ? "not-found" : "failed",
           status == 413 ? "the request body is too large" : status == 404 ? "no such resource" : "the request failed");
    });

    server.Get("/", [](const Request&, Response& res) {
      res.set_content(consolePage(), consolePageSize(), "text/html; charset=utf-8");
      res.set_header("Cache-Control", "no-store");
      res.set_header("Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                                                "script-src 'self' 'unsafe-inline'; img-src 'self' blob: data:");
    });
    server.Get("/api/state", [this](const Request&, Response& res) { reply(res, {200, desk.state()}); });
    server.Post("/api/capture", [this](const Request& req, Response& res) {
      nlohmann::json body;
      CaptureOptions o;
      std::string why;
      if (!jsonBody(req, res, body)) return;
      if (!captureOptions(body, o, why)) return fail(res, 400, "bad-request", why);
      reply(res, desk.capture(o, kCaptureWaitMs));
    });
    server.Post("/api/live", [this](const Request& req, Response& res) {
      nlohmann::json body;
      CaptureOptions o;
      bool on = false;
      std::string why;
      if (!jsonBody(req, res, body)) return;
      if (!flag(body, "on", on, why) || !captureOptions(body, o, why)) return fail(res, 400, "bad-request", why);
      reply(res, desk.live(on, o));
    });
    server.Get("/api/captures/latest", [this](const Request&, Response& res) {
      CapturePtr c = desk.latest();
      if (!c) return fail(res, 404, "not-found", "no capture yet");
      reply(res, {200, captureJson(*c)});
    });
    server.Get(R"(/api/captures/(\d{1,18}))", [this](const Request& req, Response& res) {
      CapturePtr c = desk.find(std::stoull(req.matches[1]));
      if (!c) return fail(res, 404, "not-found", "no such capture (the last 50 are kept)");
      reply(res, {200, captureJson(*c)});
    });
    server.Get(R"(/api/captures/(\d{1,18})/(grey|colour|binary|thumb))", [this](const Request& req, Response& res) {
      CapturePtr c = desk.find(std::stoull(req.matches[1]));
      const std::string kind = req.matches[2];
      if (!c) return fail(res, 404, "not-found", "no such capture (the last 50 are kept)");
      res.set_header("Cache-Control", "private, max-age=3600");
      if (kind == "thumb") {
        if (c->thumbnail.empty()) return fail(res, 404, "not-found", "this capture has no thumbnail");
        return res.set_content(reinterpret_cast<const char*>(c->thumbnail.data()), c->thumbnail.size(), "image/bmp");
      }
      for (const Image& image : c->images) {
        if (image.kind == kind || (kind == "grey" && image.kind == "colour"))
          return res.set_content(reinterpret_cast<const char*>(image.file.data()), image.file.size(), image.mime.c_str());
      }
      fail(res, 404, "not-found", "this capture has no " + kind + " image (older captures keep only their thumbnail)");
    });
    server.Get("/api/triggers", [this](const Request&, Response& res) {
      nlohmann::json list = nlohmann::json::array();
      for (const CapturePtr& c : desk.triggerCaptures()) list.push_back(captureJson(*c));
      reply(res, {200, {{"captures", list}}});
    });
    server.Get("/api/settings", [this](const Request&, Response& res) {
      reply(res, desk.call([] { return Answer{200, settingsJson()}; }, kJobWaitMs));
    });
    server.Post("/api/settings", [this](const Request& req, Response& res) { changeSettings(req, res); });
    server.Post("/api/config/defaults", [this](const Request& req, Response& res) {
      nlohmann::json body;
      std::string store;
      if (!jsonBody(req, res, body) || !storeOf(body, store, res)) return;
      reply(res, desk.call([this, store] {
              if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
              VelSetFactoryDefaultConfiguration();
              return sendRecord(store, nlohmann::json::array(), true);
            }, kJobWaitMs));
    });
    server.Get("/api/config/file", [this](const Request&, Response& res) { downloadConfig(res); });
    server.Post("/api/config/file", [this](const Request& req, Response& res) { uploadConfig(req, res); });
    server.Post("/api/reconnect", [this](const Request&, Response& res) {
      reply(res, desk.call([this] { return desk.reconnect(); }, kJobWaitMs));
    });
    server.Post("/api/sim/pull", [this](const Request& req, Response& res) {
      if (!desk.imager()) return fail(res, 404, "not-found", "only a simulated imager (--simulate) has a trigger here");
      nlohmann::json body;
      if (!jsonBody(req, res, body)) return;
      const int flags = body.value("flags", 1);
      if (flags < 1 || flags > 255) return fail(res, 400, "out-of-range", "flags is 1..255");
      desk.imager()->pullTrigger(static_cast<uint8_t>(flags));
      reply(res, {202, {{"pulled", true}}});
    });
    server.Get("/api/events", [this](const Request& req, Response& res) { stream(req, res); });
  }

  bool storeOf(const nlohmann::json& body, std::string& store, Response& res) {
    store = "temporary";
    if (!body.contains("store")) return true;
    if (body["store"].is_string()) store = body["store"].get<std::string>();
    if (store == "temporary" || store == "permanent") return true;
    fail(res, 400, "bad-request", "store is \"temporary\" or \"permanent\"");
    return false;
  }

  // On the desk's thread: sends the host record and tells everyone.
  Answer sendRecord(const std::string& store, const nlohmann::json& changed, bool defaults) {
    const int sent = store == "permanent" ? VelSetPermanentDeviceConfiguration() : VelSetTemporaryDeviceConfiguration();
    nlohmann::json body = {{"changed", changed}, {"store", store}, {"sent", sent == 1}};
    if (defaults) body["defaults"] = true;
    events.publish("config", body);
    if (sent == 1) return {200, body};
    body["error"] = "failed";
    body["message"] = "the imager did not take the configuration";
    return {502, body};
  }

  void changeSettings(const Request& req, Response& res) {
    nlohmann::json body;
    std::string store;
    if (!jsonBody(req, res, body, false) || !storeOf(body, store, res)) return;
    if (!body.contains("values") || !body["values"].is_object() || body["values"].empty())
      return fail(res, 400, "bad-request", "values is an object of setting names and values");
    // Everything is checked before anything changes.
    std::vector<std::pair<const Setting*, int>> changes;
    for (const auto& [name, value] : body["values"].items()) {
      const Setting* s = findSetting(name);
      if (!s) return fail(res, 400, "unknown-setting", "no setting " + name);
      long long v;
      if (value.is_boolean()) v = value.get<bool>();
      else if (value.is_number_integer()) v = value.get<long long>();
      else return fail(res, 400, "bad-request", s->name + " takes an integer");
      if (v < s->low || v > s->high)
        return fail(res, 400, "out-of-range",
                    s->name + " is " + std::to_string(s->low) + ".." + std::to_string(s->high) + ", not " +
                        std::to_string(v));
      changes.emplace_back(s, static_cast<int>(v));
    }
    reply(res, desk.call([this, changes, store] {
            if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
            nlohmann::json changed = nlohmann::json::array();
            for (const auto& [s, value] : changes) {
              s->set(value);
              changed.push_back({{"name", s->name}, {"requested", value}, {"stored", s->get()}});
            }
            return sendRecord(store, changed, false);
          }, kJobWaitMs));
  }

  void downloadConfig(Response& res) {
    std::string text;
    const Answer a = desk.call([&text] {
      const std::string path = tempFile(".ini");
      const int result = VelSaveCurrentConfigurations(path.c_str());
      std::ifstream in(path, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      in.close();
      std::error_code error;
      std::filesystem::remove(path, error);
      text = bytes.str();
      if (text.empty()) return errorAnswer(500, "failed", "the library wrote no file (" + std::to_string(result) + ")");
      return Answer{200, nullptr};
    }, kJobWaitMs);
    if (a.status != 200) return reply(res, a);
    res.set_header("Content-Disposition", "attachment; filename=\"imager.ini\"");
    res.set_content(text, "text/plain; charset=utf-8");
  }

  void uploadConfig(const Request& req, Response& res) {
    if (req.body.size() > kMaxConfigFile)
      return fail(res, 413, "too-large", "a configuration file is at most " + std::to_string(kMaxConfigFile) + " bytes");
    if (req.body.empty()) return fail(res, 400, "bad-request", "the body is the configuration file");
    // The library reads whatever it is given and takes defaults for what is missing, so
    // a file that is not one at all is refused here rather than deployed as defaults.
    if (!looksLikeIni(req.body)) return fail(res, 400, "bad-config", "the body is not a configuration file");
    const std::string body = req.body;
    reply(res, desk.call([this, body] {
            if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
            const std::string path = tempFile(".ini");
            {
              std::ofstream out(path, std::ios::binary);
              out.write(body.data(), static_cast<std::streamsize>(body.size()));
              if (!out) return errorAnswer(500, "failed", "could not write a temporary file");
            }
            const int result = VelLoadAndDeployConfigurations(path.c_str());
            std::error_code error;
            std::filesystem::remove(path, error);
            if (result != 1) return errorAnswer(400, "bad-config", "the library could not read the file");
            const bool stored = VelGetCommunicationStatus() == 1;
            nlohmann::json b = {{"loaded", true}, {"stored", stored}};
            events.publish("config", b);
            if (!stored) {
              b["error"] = "failed";
              b["message"] = "the file was read, but the imager did not store it";
            }
            return Answer{stored ? 200 : 502, b};
          }, kJobWaitMs));
  }

  // Server-sent events: the state first, then every event as it comes; a comment
  // every 15 s keeps proxies from closing the stream and notices a gone client.
  void stream(const Request& req, Response& res) {
    if (++streams > kMaxStreams) {
      --streams;
      return fail(res, 503, "busy", "too many event streams are open");
    }
    uint64_t after = events.lastSeq();
    if (req.has_header("Last-Event-ID")) {
      try {
        after = std::min<uint64_t>(std::stoull(req.get_header_value("Last-Event-ID")), after);
      } catch (const std::exception&) {
      }
    }
    res.set_header("Cache-Control", "no-store");
    auto first = std::make_shared<bool>(true);
    auto cursor = std::make_shared<uint64_t>(after);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, first, cursor](size_t, httplib::DataSink& sink) {
          std::string out;
          if (*first) {
            *first = false;
            out = "retry: 1000\nevent: state\ndata: " + desk.state().dump() + "\n\n";
          }
          std::vector<Event> list;
          const bool open = events.waitAfter(*cursor, list, out.empty() ? 15000 : 0);
          for (const Event& e : list) {
            out += "id: " + std::to_string(e.seq) + "\nevent: " + e.type + "\ndata: " + e.data.dump() + "\n\n";
            *cursor = e.seq;
          }
          if (out.empty()) out = ": keep-alive\n\n";
          if (!open || !sink.write(out.data(), out.size())) {
            sink.done();
            return false;
          }
          return true;
        },
        [this](bool) { --streams; });
  }
};

HttpConsole::HttpConsole(DeviceDesk& desk, EventHub& events, Access access)
    : impl_(std::make_unique<Impl>(desk, events, std::move(access))) {
  impl_->routes();
}

HttpConsole::~HttpConsole() = default;

bool HttpConsole::bind(const std::string& host, int port, std::string& why) {
  if (port == 0) impl_->port = impl_->server.bind_to_any_port(host);
  else impl_->port = impl_->server.bind_to_port(host, port) ? port : -1;
  if (impl_->port > 0) return true;
  why = "cannot listen on " + host + ":" + std::to_string(port);
  return false;
}

int HttpConsole::port() const { return impl_->port; }
void HttpConsole::serve() { impl_->server.listen_after_bind(); }
void HttpConsole::stop() {
  impl_->events.close();
  impl_->server.stop();
}

}  // namespace velcli::console
