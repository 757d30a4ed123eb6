#include "HttpConsole.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "../Cli.h"
#include "../Settings.h"
#include "../Text.h"
#include "ConsolePage.h"
#include "HttpServer.h"
#include "ImgEngine.h"
#include "SimulatedImager.h"
#include "platform/Files.h"

namespace velcli::console {

namespace {

constexpr size_t kMaxJsonBody = 64 * 1024;     // API requests with JSON
constexpr size_t kMaxConfigFile = 256 * 1024;  // an uploaded configuration file
constexpr int kCaptureWaitMs = 120000;
constexpr int kJobWaitMs = 60000;
// A token is a password a whole line may read: shorter ones are guessed.
constexpr size_t kShortestToken = 16;
// The cookie the page gets for its token: images, the event stream and downloads
// carry it, so the token itself never goes into a URL.
constexpr const char* kSessionCookie = "vel_session";
constexpr const char* kPagePolicy =
    "default-src 'self'; style-src 'self' 'unsafe-inline'; script-src 'self' 'unsafe-inline'; "
    "img-src 'self' blob: data:; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

HttpReply reply(const Answer& a) { return {a.status, "application/json", jsonText(a.body), {}}; }

HttpReply fail(int status, const char* error, const std::string& message) {
  return reply(errorAnswer(status, error, message));
}

HttpHandling now(HttpReply r) {
  HttpHandling h;
  h.reply = std::move(r);
  return h;
}

HttpHandling later(std::function<HttpReply()> work) {
  HttpHandling h;
  h.kind = HttpHandling::Kind::kWork;
  h.work = std::move(work);
  return h;
}

// Compares without stopping at the first difference.
bool sameSecret(const std::string& given, const std::string& secret) {
  if (secret.empty()) return false;
  unsigned char diff = given.size() != secret.size();
  for (size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
  return diff == 0;
}

std::string randomHex(int bytes) {
  std::random_device random;
  std::string out;
  char digit[3];
  for (int i = 0; i < bytes; ++i) {
    std::snprintf(digit, sizeof digit, "%02x", static_cast<unsigned>(random() & 0xFF));
    out += digit;
  }
  return out;
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

bool checkToken(const std::string& token, std::string& why) {
  if (token.size() < kShortestToken) {
    why = "a token has at least " + std::to_string(kShortestToken) + " characters";
    return false;
  }
  for (unsigned char c : token) {
    if (c < 0x21 || c > 0x7E) {
      why = "a token is printable ASCII without blanks";
      return false;
    }
  }
  return true;
}

namespace {

// A JSON object body, or the error to answer.
bool jsonBody(const HttpRequest& req, nlohmann::json& body, HttpReply& error) {
  if (req.body.size() > kMaxJsonBody) {
    error = fail(413, "too-large", "the request body is larger than " + std::to_string(kMaxJsonBody) + " bytes");
    return false;
  }
  if (req.body.empty()) {
    body = nlohmann::json::object();
    return true;
  }
  body = nlohmann::json::parse(req.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    error = fail(400, "bad-json", "the body is not a JSON object");
    return false;
  }
  return true;
}

// An integer (or a boolean as 0/1) within low..high. Values beyond the signed range
// are refused, not wrapped into it.
bool integerValue(const nlohmann::json& v, long long low, long long high, long long& out) {
  if (v.is_boolean()) out = v.get<bool>() ? 1 : 0;
  else if (v.is_number_unsigned() && v.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<long long>::max()))
    out = static_cast<long long>(v.get<uint64_t>());
  else if (v.is_number_integer() && !v.is_number_unsigned()) out = v.get<long long>();
  else return false;
  return low <= out && out <= high;
}

// A member by integerValue; absent is fallback.
bool integer(const nlohmann::json& body, const char* key, long long low, long long high, long long fallback,
             long long& out, std::string& why) {
  out = fallback;
  if (!body.contains(key) || integerValue(body[key], low, high, out)) return true;
  why = std::string(key) + " is an integer " + std::to_string(low) + ".." + std::to_string(high);
  return false;
}

// A boolean member: absent is false; anything but a boolean or 0/1 is an error.
bool flag(const nlohmann::json& body, const char* key, bool& out, std::string& why) {
  long long v = 0;
  if (!integer(body, key, 0, 1, 0, v, why)) {
    why = std::string(key) + " must be true or false";
    return false;
  }
  out = v == 1;
  return true;
}

bool captureOptions(const nlohmann::json& body, CaptureOptions& o, std::string& why) {
  return flag(body, "decode", o.decode, why) && flag(body, "grey", o.grey, why) && flag(body, "binary", o.binary, why) &&
         flag(body, "compressed", o.compressed, why);
}

// "temporary" when absent; otherwise "temporary" or "permanent", nothing else.
bool storeOf(const nlohmann::json& body, std::string& store, std::string& why) {
  store = "temporary";
  if (!body.contains("store")) return true;
  if (body["store"].is_string()) store = body["store"].get<std::string>();
  if (body["store"].is_string() && (store == "temporary" || store == "permanent")) return true;
  why = "store is \"temporary\" or \"permanent\"";
  return false;
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

std::string trimmed(std::string text) {
  const char* blanks = " \t\r";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The entries of a section (name compared without case), as "key=value" lines.
std::vector<std::string> sectionEntries(const std::string& text, const std::string& section) {
  std::vector<std::string> entries;
  std::istringstream lines(text);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    line = trimmed(line);
    if (!line.empty() && line.front() == '[') {
      const size_t close = line.find(']');
      inside = close != std::string::npos && asciiLower(trimmed(line.substr(1, close - 1))) == asciiLower(section);
    } else if (inside && line.find('=') != std::string::npos && line.front() != ';' && line.front() != '#') {
      entries.push_back(line);
    }
  }
  return entries;
}

// The section [section] of text, header line included, each line ended by "\n".
std::string sectionText(const std::string& text, const std::string& section) {
  std::string out = "[" + section + "]\n";
  for (const std::string& entry : sectionEntries(text, section)) out += entry + "\n";
  return out;
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

// A folder of the console's own for the files it hands the library: made at start
// under the system's temporary folder with a name nobody can predict, open to this
// user only, removed at the end. Its files are created new-only and removed on every
// path.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    for (int attempt = 0; attempt < 8 && path_.empty(); ++attempt) {
      const auto candidate = base / ("velcli-console-" + randomHex(12));
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
    if (path_.empty()) return;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                 error);
  }
  ~PrivateFolder() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  bool ok() const { return !path_.empty(); }
  // A name in the folder that no file has had.
  std::string name(const char* suffix) {
    return (path_ / ("f" + std::to_string(++counter_) + suffix)).string();
  }

 private:
  std::filesystem::path path_;
  std::atomic<unsigned> counter_{0};
};

// A file of the private folder, removed when it goes out of scope.
struct TempFile {
  std::string path;
  ~TempFile() {
    std::error_code error;
    std::filesystem::remove(path, error);
  }
  // Creates it new-only with the bytes; false when it cannot be created or written whole.
  bool write(const std::string& bytes) const {
    vel::platform::PlainFile* f = vel::platform::fileCreate(path.c_str(), vel::platform::CreateMode::kNewOnly);
    if (!f) return false;
    const bool written = vel::platform::fileWrite(f, bytes.data(), bytes.size()) == bytes.size();
    return vel::platform::fileClose(f) && written;
  }
  bool read(std::string& bytes, size_t limit) const {
    std::vector<uint8_t> data;
    if (!vel::platform::fileReadAll(path.c_str(), data, limit)) return false;
    bytes.assign(data.begin(), data.end());
    return true;
  }
};

}  // namespace

struct HttpConsole::Impl {
  DeviceDesk& desk;
  EventHub& events;
  Access access;
  // The session cookie's value: new at every start, so a cookie of an earlier run or
  // of another station is worth nothing.
  const std::string session = randomHex(24);
  PrivateFolder folder;
  int listener = 0;
  std::unique_ptr<HttpServer> server;

  Impl(DeviceDesk& d, EventHub& e, Access a) : desk(d), events(e), access(std::move(a)) {
    HttpServer::Handlers h;
    h.admit = [this](const HttpRequest& req) { return admit(req); };
    h.route = [this](const HttpRequest& req) { return route(req); };
    h.eventsAfter = [this](uint64_t seq, size_t maxBytes, std::string& out) {
      return events.framesAfter(seq, maxBytes, out);
    };
    h.errorBody = [](int status, const char* error, const std::string& message) {
      return jsonText(errorAnswer(status, error, message).body);
    };
    server = std::make_unique<HttpServer>(std::move(h));
    listener = events.listen([this](const Event&) { server->eventsArrived(); });
  }

  ~Impl() { events.unlisten(listener); }

  // With a token: the bearer header, the page's session cookie or ?token=. Without
  // one: a loopback Host (a page of another site cannot reach us through a name it
  // controls). A change by cookie or without a token must come from our own page.
  std::unique_ptr<HttpReply> admit(const HttpRequest& req) {
    const std::string host = req.header("host");
    const bool change = req.method != "GET" && req.method != "HEAD";
    const std::string origin = req.header("origin");
    const bool foreignOrigin = change && !origin.empty() && origin != "http://" + host;
    if (!access.token.empty()) {
      const std::string bearer = req.header("authorization");
      const bool byBearer = bearer.rfind("Bearer ", 0) == 0 && sameSecret(bearer.substr(7), access.token);
      const bool byCookie = sameSecret(req.cookie(kSessionCookie), session);
      const bool byQuery = req.hasParam("token") && sameSecret(req.param("token"), access.token);
      if (!byBearer && !byCookie && !byQuery) {
        auto r = std::make_unique<HttpReply>(
            fail(401, "unauthorized", "a valid token is needed (Authorization: Bearer TOKEN, or open /?token=TOKEN)"));
        r->headers.emplace_back("WWW-Authenticate", "Bearer");
        return r;
      }
      if (!byBearer && foreignOrigin)
        return std::make_unique<HttpReply>(fail(403, "forbidden", "a change from another origin is refused"));
      return nullptr;
    }
    if (!isLoopbackName(host))
      return std::make_unique<HttpReply>(fail(403, "forbidden", "only loopback names are served without a token"));
    if (foreignOrigin)
      return std::make_unique<HttpReply>(
          fail(403, "forbidden", "a change from another origin (" + origin + ") is refused"));
    return nullptr;
  }

  HttpHandling route(const HttpRequest& req) {
    const std::string& p = req.path;
    const bool get = req.method == "GET", post = req.method == "POST";
    if (get && p == "/") return now(page(req));
    if (get && p == "/api/state") return now(reply({200, desk.state()}));
    if (get && p == "/api/events") return stream(req);
    if (get && p == "/api/triggers") {
      nlohmann::json list = nlohmann::json::array();
      for (const CapturePtr& c : desk.triggerCaptures()) list.push_back(captureJson(*c));
      return now(reply({200, {{"captures", list}}}));
    }
    if (get && p == "/api/captures/latest") {
      CapturePtr c = desk.latest();
      return now(c ? reply({200, captureJson(*c)}) : fail(404, "not-found", "no capture yet"));
    }
    if (get && p.rfind("/api/captures/", 0) == 0) return now(captureRoute(p.substr(14)));
    if (get && p == "/api/settings")
      return later([this] { return reply(desk.call([] { return Answer{200, settingsJson()}; }, kJobWaitMs)); });
    if (get && p == "/api/config/file") return later([this] { return downloadConfig(); });
    if (post && p == "/api/config/file") return uploadConfig(req);
    if (post && p == "/api/reconnect")
      return later([this] { return reply(desk.call([this] { return desk.reconnect(); }, kJobWaitMs)); });
    if (post) {
      nlohmann::json body;
      HttpReply error;
      if (!jsonBody(req, body, error)) return now(error);
      if (p == "/api/capture") return capture(body);
      if (p == "/api/live") return live(body);
      if (p == "/api/settings") return changeSettings(body);
      if (p == "/api/config/defaults") return defaults(body);
      if (p == "/api/sim/pull") return pull(body);
    }
    return now(fail(404, "not-found", "no such resource"));
  }

  HttpReply page(const HttpRequest& req) {
    HttpReply r{200, "text/html; charset=utf-8", std::string(consolePage(), consolePageSize()), {}};
    r.headers = {{"Cache-Control", "no-store"}, {"Content-Security-Policy", kPagePolicy}};
    // The page was opened with the token: from now on the cookie stands for it (the
    // page takes the token out of its address).
    if (!access.token.empty() && req.hasParam("token"))
      r.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + session +
                                               "; HttpOnly; SameSite=Strict; Path=/");
    return r;
  }

  // ID, or ID/KIND with KIND grey, colour, binary or thumb.
  HttpReply captureRoute(const std::string& rest) {
    const size_t slash = rest.find('/');
    const std::string id = rest.substr(0, slash), kind = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos ||
        (slash != std::string::npos && kind != "grey" && kind != "colour" && kind != "binary" && kind != "thumb"))
      return fail(404, "not-found", "no such resource");
    CapturePtr c = desk.find(std::stoull(id));
    if (!c) return fail(404, "not-found", "no such capture (the last 50 are kept)");
    if (slash == std::string::npos) return reply({200, captureJson(*c)});
    // Ids start at 1 in every run; the URLs carry the run, so a cached image is
    // always of this one.
    const std::vector<std::pair<std::string, std::string>> cache = {{"Cache-Control", "private, max-age=3600"}};
    if (kind == "thumb") {
      if (c->thumbnail.empty()) return fail(404, "not-found", "this capture has no thumbnail");
      return {200, "image/bmp", std::string(c->thumbnail.begin(), c->thumbnail.end()), cache};
    }
    for (const Image& image : c->images) {
      if (image.kind == kind || (kind == "grey" && image.kind == "colour"))
        return {200, image.mime, std::string(image.file.begin(), image.file.end()), cache};
    }
    return fail(404, "not-found", "this capture has no " + kind + " image (older captures keep only their thumbnail)");
  }

  HttpHandling capture(const nlohmann::json& body) {
    CaptureOptions o;
    std::string why;
    if (!captureOptions(body, o, why)) return now(fail(400, "bad-request", why));
    return later([this, o] { return reply(desk.capture(o, kCaptureWaitMs)); });
  }

  HttpHandling live(const nlohmann::json& body) {
    CaptureOptions o;
    bool on = false;
    std::string why;
    if (!flag(body, "on", on, why) || !captureOptions(body, o, why)) return now(fail(400, "bad-request", why));
    return now(reply(desk.live(on, o)));
  }

  HttpHandling pull(const nlohmann::json& body) {
    if (!desk.imager()) return now(fail(404, "not-found", "only a simulated imager (--simulate) has a trigger here"));
    long long flags = 1;
    std::string why;
    if (!integer(body, "flags", 1, 255, 1, flags, why)) return now(fail(400, "out-of-range", "flags is 1..255"));
    desk.imager()->pullTrigger(static_cast<uint8_t>(flags));
    return now(reply({202, {{"pulled", true}}}));
  }

  HttpHandling defaults(const nlohmann::json& body) {
    std::string store, why;
    if (!storeOf(body, store, why)) return now(fail(400, "bad-request", why));
    return later([this, store] {
      return reply(desk.call([this, store] {
        if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
        VelSetFactoryDefaultConfiguration();
        return sendRecord(store, nlohmann::json::array(), true);
      }, kJobWaitMs));
    });
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

  // values: setting names and values, every one checked before anything changes; no
  // values sends the record as it is (the page's "Send permanently" with nothing changed).
  HttpHandling changeSettings(const nlohmann::json& body) {
    std::string store, why;
    if (!storeOf(body, store, why)) return now(fail(400, "bad-request", why));
    if (body.contains("values") && !body["values"].is_object())
      return now(fail(400, "bad-request", "values is an object of setting names and values"));
    std::vector<std::pair<const Setting*, int>> changes;
    if (body.contains("values")) {
      for (const auto& [name, value] : body["values"].items()) {
        const Setting* s = findSetting(name);
        if (!s) return now(fail(400, "unknown-setting", "no setting " + name));
        long long v = 0;
        if (!value.is_boolean() && !value.is_number_integer())
          return now(fail(400, "bad-request", s->name + " takes an integer"));
        if (!integerValue(value, s->low, s->high, v))
          return now(fail(400, "out-of-range", s->name + " is " + std::to_string(s->low) + ".." +
                                                   std::to_string(s->high) + ", not " + value.dump()));
        changes.emplace_back(s, static_cast<int>(v));
      }
    }
    return later([this, changes, store] {
      return reply(desk.call([this, changes, store] {
        if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
        nlohmann::json changed = nlohmann::json::array();
        for (const auto& [s, value] : changes) {
          s->set(value);
          changed.push_back({{"name", s->name}, {"requested", value}, {"stored", s->get()}});
        }
        return sendRecord(store, changed, false);
      }, kJobWaitMs));
    });
  }

  // The library's text of the host copy, through a file of the private folder.
  bool currentConfig(std::string& text, int& result) {
    TempFile file{folder.name(".ini")};
    result = VelSaveCurrentConfigurations(file.path.c_str());
    return result == 0 && file.read(text, kMaxConfigFile * 4) && !text.empty();
  }

  HttpReply downloadConfig() {
    // Shared with the job: after a time-out it still runs, and writes here.
    auto text = std::make_shared<std::string>();
    const Answer a = desk.call([this, text] {
      if (!folder.ok()) return errorAnswer(500, "failed", "the console has no folder for its files");
      int result = 0;
      if (!currentConfig(*text, result))
        return errorAnswer(500, "failed", "the library wrote no file (" + std::to_string(result) + ")");
      return Answer{200, nullptr};
    }, kJobWaitMs);
    if (a.status != 200) return reply(a);
    return {200, "text/plain; charset=utf-8", *text, {{"Content-Disposition", "attachment; filename=\"imager.ini\""}}};
  }

  // The imager's part of the file is deployed; its host part (auto-save, the image
  // folder, the perspective switches) is not: a browser does not decide where the
  // station writes. The station's own host section goes after the file's, and the
  // library takes the last value of a key.
  HttpHandling uploadConfig(const HttpRequest& req) {
    if (req.body.size() > kMaxConfigFile)
      return now(
          fail(413, "too-large", "a configuration file is at most " + std::to_string(kMaxConfigFile) + " bytes"));
    if (req.body.empty()) return now(fail(400, "bad-request", "the body is the configuration file"));
    // The library reads whatever it is given and takes defaults for what is missing, so
    // a file that is not one at all is refused here rather than deployed as defaults.
    if (!looksLikeIni(req.body)) return now(fail(400, "bad-config", "the body is not a configuration file"));
    return later([this, body = req.body] {
      return reply(desk.call([this, body] {
        if (VelGetCommunicationStatus() != 1) return errorAnswer(503, "not-connected", "no imager is connected");
        if (!folder.ok()) return errorAnswer(500, "failed", "the console has no folder for its files");
        std::string current;
        int result = 0;
        if (!currentConfig(current, result))
          return errorAnswer(500, "failed", "the station's host settings could not be read");
        // What the file would have changed: its host values that differ from the station's.
        std::map<std::string, std::string> own;
        for (const std::string& entry : sectionEntries(current, "HostConfig")) {
          const size_t eq = entry.find('=');
          own[asciiLower(trimmed(entry.substr(0, eq)))] = trimmed(entry.substr(eq + 1));
        }
        nlohmann::json ignored = nlohmann::json::array();
        for (const std::string& entry : sectionEntries(body, "HostConfig")) {
          const size_t eq = entry.find('=');
          const std::string name = trimmed(entry.substr(0, eq)), value = trimmed(entry.substr(eq + 1));
          if (own[asciiLower(name)] != value) ignored.push_back({{"name", name}, {"value", value}});
        }
        TempFile file{folder.name(".ini")};
        if (!file.write(body + "\n" + sectionText(current, "HostConfig")))
          return errorAnswer(500, "failed", "could not write a temporary file");
        if (VelLoadAndDeployConfigurations(file.path.c_str()) != 1)
          return errorAnswer(400, "bad-config", "the library could not read the file");
        const bool stored = VelGetCommunicationStatus() == 1;
        nlohmann::json b = {{"loaded", true}, {"stored", stored}, {"ignored", ignored}};
        events.publish("config", b);
        if (!stored) {
          b["error"] = "failed";
          b["message"] = "the file was read, but the imager did not store it";
        }
        return Answer{stored ? 200 : 502, b};
      }, kJobWaitMs));
    });
  }

  // Server-sent events: the state first, then every event as it comes (from the one
  // after Last-Event-ID when the browser reconnects).
  HttpHandling stream(const HttpRequest& req) {
    HttpHandling h;
    h.kind = HttpHandling::Kind::kStream;
    uint64_t after = events.lastSeq();
    const std::string last = req.header("last-event-id");
    if (!last.empty() && last.size() <= 19 && last.find_first_not_of("0123456789") == std::string::npos)
      after = std::min<uint64_t>(std::stoull(last), after);
    h.streamAfter = after;
    h.streamFirst = "retry: 1000\nevent: state\ndata: " + jsonText(desk.state()) + "\n\n";
    return h;
  }
};

HttpConsole::HttpConsole(DeviceDesk& desk, EventHub& events, Access access)
    : impl_(std::make_unique<Impl>(desk, events, std::move(access))) {}

HttpConsole::~HttpConsole() = default;

bool HttpConsole::bind(const std::string& host, int port, std::string& why) {
  if (!impl_->folder.ok()) {
    why = "cannot make a private folder for the console's files under the temporary folder";
    return false;
  }
  return impl_->server->bind(host, port, why);
}

int HttpConsole::port() const { return impl_->server->port(); }
void HttpConsole::serve() { impl_->server->serve(); }
void HttpConsole::stop() { impl_->server->stop(); }

}  // namespace velcli::console
