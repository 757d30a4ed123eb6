#include "MqttPublisher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/select.h>
#include <sys/socket.h>
#endif

#include <mosquitto.h>

#include "EventHub.h"

namespace velcli::console {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The keepalive the broker is told (seconds). A station whose link dies without the
// connection being closed (power, cable) shows as offline after one and a half times
// this; a process that dies has its connection closed by the system and shows at once.
// libmosquitto accepts nothing below 5 s.
constexpr int kKeepaliveSeconds = 5;
// The delay before the next attempt: from 1 s, doubled after each failed one, at most
// 10 s; back to 1 s once a connection was made.
constexpr milliseconds kRetryFirst{1000}, kRetryMax{10000};
// An attempt that got no CONNACK within this time is given up, also while the TCP
// connection is not made yet.
constexpr milliseconds kConnectTimeout{kKeepaliveSeconds * 1000};
// While stop() drains the queue, a broker that is away is tried this often.
constexpr milliseconds kDrainRetry{500};
// stop() gives up once nothing was acknowledged (and no connection made) for this
// long, and in any case after kDrainMax.
constexpr milliseconds kDrainIdle{5000}, kDrainMax{60000};
// How long start() waits for the first attempt's outcome.
constexpr milliseconds kStartWait{3000};
// The client's loop returns this often to hand over what was published meanwhile.
constexpr int kLoopMs = 50;
// Messages sent and awaiting their PUBACK at once (libmosquitto's own default).
constexpr size_t kWindow = 20;
constexpr int kQos = 1;
constexpr int kPlainPort = 1883, kTlsPort = 8883;

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// A system error of a socket call as text. libmosquitto leaves the Winsock code in
// errno on Windows, which strerror does not know.
std::string networkReason(int err) {
#ifdef _WIN32
  switch (err) {
    case 10061: return "connection refused";
    case 10060: return "timed out";
    case 10065: return "host unreachable";
    case 10051: return "network unreachable";
    case 10054: return "connection reset";
    case 10053: return "connection aborted";
    default: break;
  }
#endif
  switch (err) {
    case 0: return "the connection failed";
    case ECONNREFUSED: return "connection refused";
    case ETIMEDOUT: return "timed out";
    case EHOSTUNREACH: return "host unreachable";
    case ENETUNREACH: return "network unreachable";
    case ECONNRESET: return "connection reset";
    case EPIPE: return "connection closed";
    default: return std::strerror(err);
  }
}

// Whether the TCP connection of a socket is made yet: waits (at most ms) for it to be
// writable or in error, then answers 1 (made), 0 (not yet) or -1 with the system's
// error in err. Windows tells a refused connection only in select's exception set,
// which libmosquitto's loop does not watch.
int tcpConnected(int sock, int ms, int& err) {
  if (sock == -1) return 1;  // no socket: the client's loop tells why
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
#ifdef _WIN32
  const SOCKET s = static_cast<SOCKET>(sock);
#else
  const int s = sock;
  if (s >= FD_SETSIZE) return 1;
#endif
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval wait{0, ms * 1000};
  if (select(sock + 1, nullptr, &writable, &failed, &wait) <= 0) return 0;
  err = 0;
#ifdef _WIN32
  int length = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &length) != 0) err = WSAGetLastError();
#else
  socklen_t length = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &length) != 0) err = errno;
#endif
  return err == 0 ? 1 : -1;
}

// A decode kept until the broker acknowledges it; seq keeps the publishing order
// across message ids that wrap.
struct Kept {
  uint64_t seq = 0;
  std::string payload;
};

// How one connection (or attempt) ended.
struct Outcome {
  bool connected = false;  // the broker accepted the connection
  bool fatal = false;      // trying again does not mend it (fatal only at start)
  bool quit = false;       // the publisher ends: no failure
  std::string reason;
};

class MosquittoPublisher final : public MqttPublisher {
 public:
  MosquittoPublisher(MqttSettings settings, MqttUrl url)
      : settings_(std::move(settings)), url_(std::move(url)), decodeTopic_(settings_.topicPrefix + "/decode"),
        stateTopic_(settings_.topicPrefix + "/state") {}

  ~MosquittoPublisher() override { stop(); }

  // Starts the thread; false with the reason when the first attempt failed for good.
  bool open(std::string& error) {
    initLibrary();
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kStartWait, [&] { return firstOutcome_; });
    // A first failure that comes later than this is told and tried again like any other.
    startDecided_ = true;
    const bool fail = firstFatal_;
    if (fail) {
      error = "MQTT broker " + settings_.url + ": " + firstError_;
      quit_ = true;
    }
    lock.unlock();
    changed_.notify_all();
    if (fail) thread_.join();
    return !fail;
  }

  void publishDecodes(const CaptureRecord& capture) override {
    for (size_t i = 0; i < capture.barcodes.size(); ++i) {
      nlohmann::json message = decodeJson(capture, i);
      message["station"] = settings_.topicPrefix;
      std::string payload = jsonText(message);
      std::lock_guard<std::mutex> lock(mutex_);
      // After stop() nothing goes out: what is published then is not kept.
      if (quit_) return;
      waiting_.push_back({nextSeq_++, std::move(payload)});
      trim();
    }
  }

  void publishState(const nlohmann::json& state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    lastState_ = jsonText(state);
    stateWaiting_ = true;
    if (state.contains("port") && state["port"].is_number_integer()) port_ = state["port"].get<int>();
  }

  void stop() override {
    if (!thread_.joinable()) return;
    int port;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      port = port_;
    }
    publishState(mqttState("offline", false, port));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      stopAt_ = lastProgress_ = Clock::now();
    }
    changed_.notify_all();
    // The thread drains the queue, disconnects cleanly and ends.
    thread_.join();
  }

  int undelivered() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(waiting_.size() + inFlight_.size()) + failed_;
  }

  int dropped() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
  }

  int delivered() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
  }

  std::string lastError() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
  }

 private:
  // The publisher's thread: attempts and connections one after the other, with the
  // growing delay between them, until stop() has drained the queue (or given up).
  void run() {
    milliseconds delay = kRetryFirst;
    bool first = true;
    bool troubleTold = false;  // a failure was told: a connection is told too
    std::string lastTold;
    for (;;) {
      const Outcome outcome = attempt(troubleTold);
      if (outcome.connected) troubleTold = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (first && !firstOutcome_) {
          firstOutcome_ = true;
          firstFatal_ = outcome.fatal && !outcome.connected;
          firstError_ = outcome.reason;
          changed_.notify_all();
          // start() reports a failure it waited for: it is not told here as well.
          changed_.wait(lock, [&] { return startDecided_; });
        }
        if (!outcome.quit) lastError_ = outcome.reason;
        if (quit_ || outcome.quit) return;
      }
      first = false;
      // A lost connection is always told; a failed attempt when its reason is new.
      if (outcome.connected || outcome.reason != lastTold) {
        tell(outcome.connected ? "connection lost (" + outcome.reason + "); trying again"
                               : outcome.reason + "; trying again");
        lastTold = outcome.reason;
        troubleTold = true;
      }
      delay = outcome.connected ? kRetryFirst : delay;
      const auto ended = Clock::now();
      std::unique_lock<std::mutex> lock(mutex_);
      while (Clock::now() < ended + delay && !(stopping_ && Clock::now() >= ended + kDrainRetry)) {
        if (drainOver()) return;
        changed_.wait_for(lock, milliseconds(kLoopMs));
      }
      if (drainOver()) return;
      if (!outcome.connected) delay = std::min(delay * 2, kRetryMax);
    }
  }

  // One client, one connection attempt and, when the broker accepts it, the
  // connection until it ends. What is still in flight then waits for the next one.
  Outcome attempt(bool troubleTold) {
    Outcome outcome;
    mosquitto* m = mosquitto_new(nullptr, true, this);
    if (!m) {
      outcome.reason = "cannot create an MQTT client";
      outcome.fatal = true;
      return outcome;
    }
    connack_ = -1;
    tlsError_.clear();
    sessionUp_ = false;
    troubleTold_ = troubleTold;
    int rc = configure(m, outcome.reason);
    int err = 0;
    if (rc == MOSQ_ERR_SUCCESS) {
      errno = 0;
      rc = mosquitto_connect_async(m, url_.host.c_str(), url_.port, kKeepaliveSeconds);
      err = errno;
      const auto started = Clock::now();
      bool tcpMade = false;
      while (rc == MOSQ_ERR_SUCCESS) {
        if (!tcpMade) {
          // Until the TCP connection is made the publisher waits for it itself: a
          // refusal is then told as such on every system.
          const int made = tcpConnected(mosquitto_socket(m), kLoopMs, err);
          if (made < 0) {
            rc = MOSQ_ERR_ERRNO;
            break;
          }
          tcpMade = made > 0;
        }
        if (tcpMade) {
          errno = 0;
          rc = mosquitto_loop(m, kLoopMs, 1);
          err = errno;
          if (rc != MOSQ_ERR_SUCCESS) break;
        }
        bool up, end;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          up = connected_;
          end = drainOver();
        }
        if (end) {
          if (up) disconnect(m);
          outcome.quit = true;
          break;
        }
        if (!up && Clock::now() - started > kConnectTimeout) {
          rc = MOSQ_ERR_KEEPALIVE;
          break;
        }
        if (up && !handOver(m)) {
          // libmosquitto's ids wrapped onto a message still awaiting its PUBACK: the
          // next connection starts with fresh ids.
          mosquitto_disconnect(m);
          rc = MOSQ_ERR_CONN_LOST;
          break;
        }
      }
      if (!outcome.quit) outcome.reason = reasonFor(rc, err, outcome.fatal);
    } else {
      outcome.fatal = true;
    }
    outcome.connected = sessionUp_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = false;
      pinging_ = false;
      requeue();
    }
    mosquitto_destroy(m);
    return outcome;
  }

  // The client's settings: callbacks, protocol, will, TLS, user; not MOSQ_ERR_SUCCESS
  // with the reason when one is refused.
  int configure(mosquitto* m, std::string& why) {
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m, [](mosquitto*, void* self, int rc) {
      static_cast<MosquittoPublisher*>(self)->connected(rc);
    });
    mosquitto_publish_callback_set(m, [](mosquitto*, void* self, int mid) {
      static_cast<MosquittoPublisher*>(self)->acknowledged(mid);
    });
    mosquitto_log_callback_set(m, [](mosquitto*, void* self, int level, const char* line) {
      static_cast<MosquittoPublisher*>(self)->logged(level, line);
    });
    int rc = mosquitto_int_option(m, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(kWindow));
    // The will goes with the CONNECT packet, so it is set before connecting.
    const std::string will = jsonText({{"state", "offline"}});
    if (rc == MOSQ_ERR_SUCCESS)
      rc = mosquitto_will_set(m, stateTopic_.c_str(), static_cast<int>(will.size()), will.data(), kQos, true);
    if (rc != MOSQ_ERR_SUCCESS) {
      why = std::string("MQTT client setup: ") + mosquitto_strerror(rc);
      return rc;
    }
    if (url_.tls) {
      if (settings_.caFile.empty()) {
        rc = mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
      } else {
        rc = mosquitto_tls_set(m, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
      }
      if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(m, 1, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        why = rc == MOSQ_ERR_NOT_SUPPORTED ? "this build's MQTT client has no TLS"
              : rc == MOSQ_ERR_INVAL      ? "the CA file " + settings_.caFile + " cannot be read"
                                          : std::string("TLS setup: ") + mosquitto_strerror(rc);
        return rc;
      }
    }
    if (!settings_.user.empty()) {
      rc = mosquitto_username_pw_set(m, settings_.user.c_str(),
                                     settings_.hasPassword ? settings_.password.c_str() : nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        why = std::string("the MQTT user name: ") + mosquitto_strerror(rc);
        return rc;
      }
    }
    return MOSQ_ERR_SUCCESS;
  }

  // Why the attempt or connection ended; fatal: trying again does not mend it.
  std::string reasonFor(int rc, int err, bool& fatal) const {
    if (connack_ > 0) {
      fatal = true;
      return std::string("the broker refused the connection: ") + mosquitto_connack_string(connack_);
    }
    if (url_.tls && (rc == MOSQ_ERR_TLS || !tlsError_.empty() || (rc == MOSQ_ERR_ERRNO && err == EPROTO))) {
      fatal = true;
      return "TLS: " + (tlsError_.empty() ? std::string("the handshake failed") : tlsError_) +
             (tlsError_.find("certificate verify failed") != std::string::npos
                  ? " (the broker's certificate is not signed by " +
                        (settings_.caFile.empty() ? std::string("a CA this system trusts") : settings_.caFile) +
                        ", or is not for " + url_.host + ")"
                  : "");
    }
    switch (rc) {
      case MOSQ_ERR_ERRNO: return networkReason(err);
      case MOSQ_ERR_EAI: fatal = true; return "the host name " + url_.host + " does not resolve";
      case MOSQ_ERR_INVAL: fatal = true; return mosquitto_strerror(rc);
      case MOSQ_ERR_KEEPALIVE:
        return sessionUp_ ? "the broker stopped answering" : "no answer to the connection request (timed out)";
      case MOSQ_ERR_CONN_LOST:
        if (sessionUp_) return "the broker closed the connection";
        // Windows answers the CONNECT written at once to a refused connection with a reset.
        return networkReason(err) == "connection reset" ? "connection refused"
                                                         : "the broker closed the connection before answering";
      case MOSQ_ERR_NO_CONN:
        return sessionUp_ ? "the connection was closed" : "the connection was closed before the broker answered";
      default: return mosquitto_strerror(rc);
    }
  }

  // Hands waiting messages to the client, the state first, up to the window; the
  // offline state of stop() goes after every decode. False when an id came back that
  // is still in flight.
  bool handOver(mosquitto* m) {
    for (;;) {
      bool isState;
      Kept kept;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return true;
        const bool stateNow =
            stateWaiting_ && stateMid_ == 0 && (!stopping_ || (waiting_.empty() && inFlight_.empty()));
        if (stateNow) {
          isState = true;
          kept.payload = lastState_;
          stateWaiting_ = false;
        } else if (!waiting_.empty() && inFlight_.size() < kWindow) {
          isState = false;
          kept = std::move(waiting_.front());
          waiting_.pop_front();
        } else {
          return true;
        }
      }
      // Not under the lock: the client may write at once and run callbacks.
      int mid = 0;
      const std::string& topic = isState ? stateTopic_ : decodeTopic_;
      const int rc = mosquitto_publish(m, &mid, topic.c_str(), static_cast<int>(kept.payload.size()),
                                       kept.payload.data(), kQos, isState);
      std::lock_guard<std::mutex> lock(mutex_);
      if (rc == MOSQ_ERR_SUCCESS) {
        if (inFlight_.count(mid) || (stateMid_ != 0 && mid == stateMid_)) {
          if (isState) stateWaiting_ = true;
          else waiting_.push_front(std::move(kept));
          return false;
        }
        if (isState) {
          stateMid_ = mid;
        } else {
          inFlight_.emplace(mid, std::move(kept));
        }
      } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NOMEM) {
        // The connection is ending: kept for the next one.
        if (isState) stateWaiting_ = true;
        else waiting_.push_front(std::move(kept));
        return true;
      } else if (!isState) {
        // The client refuses this message for good (too large for MQTT).
        ++failed_;
      }
    }
  }

  // A clean disconnection: the broker drops the will. DISCONNECT is written at once;
  // the loop runs until the client closed the socket (bounded).
  void disconnect(mosquitto* m) {
    mosquitto_disconnect(m);
    const auto until = Clock::now() + milliseconds(1000);
    while (mosquitto_socket(m) != -1 && Clock::now() < until) {
      if (mosquitto_loop(m, kLoopMs, 1) != MOSQ_ERR_SUCCESS) break;
    }
  }

  // Under mutex_. The in-flight messages go back, in their order, before the waiting
  // ones; the queue's limit then drops the oldest.
  void requeue() {
    std::vector<Kept> back;
    back.reserve(inFlight_.size());
    for (auto& entry : inFlight_) back.push_back(std::move(entry.second));
    inFlight_.clear();
    std::sort(back.begin(), back.end(), [](const Kept& a, const Kept& b) { return a.seq < b.seq; });
    waiting_.insert(waiting_.begin(), std::make_move_iterator(back.begin()), std::make_move_iterator(back.end()));
    trim();
    if (stateMid_ != 0) {
      stateMid_ = 0;
      stateWaiting_ = true;
    }
  }

  // Under mutex_.
  void trim() {
    while (waiting_.size() > static_cast<size_t>(settings_.queueLimit)) {
      waiting_.pop_front();
      ++dropped_;
    }
  }

  // Under mutex_: whether the thread ends now (stop() drained the queue or gives up).
  bool drainOver() {
    if (quit_) return true;
    if (!stopping_) return false;
    const auto now = Clock::now();
    const bool empty = waiting_.empty() && inFlight_.empty() && !stateWaiting_ && stateMid_ == 0 && !pinging_;
    if (empty || now - lastProgress_ > kDrainIdle || now - stopAt_ > kDrainMax) quit_ = true;
    return quit_;
  }

  void tell(const std::string& what) {
    if (settings_.notice) settings_.notice("MQTT broker " + settings_.url + ": " + what);
  }

  // The callbacks run on the publisher's thread, inside the client's loop.
  void connected(int rc) {
    connack_ = rc;
    if (rc != 0) return;
    sessionUp_ = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = true;
      // After a lost connection the broker has published the will (or, restarted, lost
      // what it retained): the last state goes out again.
      stateWaiting_ = !lastState_.empty();
      stateMid_ = 0;
      lastError_.clear();
      lastProgress_ = Clock::now();
      if (!firstOutcome_) {
        firstOutcome_ = true;
        changed_.notify_all();
      }
    }
    if (troubleTold_) tell("connected");
  }

  void acknowledged(int mid) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = inFlight_.find(mid);
    if (found != inFlight_.end()) {
      inFlight_.erase(found);
      ++delivered_;
    } else if (mid == stateMid_ && mid != 0) {
      stateMid_ = 0;
    } else {
      return;
    }
    lastProgress_ = Clock::now();
    changed_.notify_all();
  }

  // libmosquitto tells the reason of a TLS failure only in its log ("OpenSSL
  // Error[0]: error:0A000086:SSL routines::certificate verify failed"). A ping's
  // answer that arrives after DISCONNECT was written is taken for a protocol error
  // and the connection is dropped without the clean end: the broker would then
  // publish the will after the clean "offline". The drain therefore waits for the
  // answer of a ping in flight; the library tells of pings only in its log too.
  void logged(int level, const char* line) {
    const std::string text = line ? line : "";
    if (level == MOSQ_LOG_ERR && tlsError_.empty() && text.compare(0, 8, "OpenSSL ") == 0) {
      const size_t colon = text.rfind(':');
      tlsError_ = colon == std::string::npos ? text : text.substr(colon + 1);
      return;
    }
    auto endsWith = [&](const std::string& tail) {
      return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    const bool sent = endsWith(" sending PINGREQ");
    if (!sent && !endsWith(" received PINGRESP")) return;
    std::lock_guard<std::mutex> lock(mutex_);
    pinging_ = sent;
    changed_.notify_all();
  }

  const MqttSettings settings_;
  const MqttUrl url_;
  const std::string decodeTopic_, stateTopic_;
  std::thread thread_;

  // The current attempt's, on the publisher's thread only.
  int connack_ = -1;         // the CONNACK's code; -1 before one came
  std::string tlsError_;     // the first TLS error the client logged
  bool sessionUp_ = false;   // the broker accepted the connection
  bool troubleTold_ = false;  // a failure was told before this attempt

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Kept> waiting_;     // decodes not handed to the client, oldest first
  std::map<int, Kept> inFlight_;  // decodes sent, by message id, awaiting their PUBACK
  uint64_t nextSeq_ = 0;
  std::string lastState_;     // the latest state
  bool stateWaiting_ = false;  // it still has to go out
  int stateMid_ = 0;           // a state in flight: its message id
  int port_ = 0;
  int dropped_ = 0, delivered_ = 0, failed_ = 0;
  bool connected_ = false;
  bool pinging_ = false;  // a keepalive ping awaits its answer
  std::string lastError_;
  bool firstOutcome_ = false, firstFatal_ = false, startDecided_ = false;
  std::string firstError_;
  bool stopping_ = false;  // stop() waits for the drain
  bool quit_ = false;      // the thread ends; nothing more is kept
  Clock::time_point stopAt_, lastProgress_;
};

}  // namespace

bool parseMqttUrl(const std::string& url, MqttUrl& out, std::string& error) {
  const std::string plain = "mqtt://", tls = "mqtts://";
  const bool isTls = url.compare(0, tls.size(), tls) == 0;
  if (!isTls && url.compare(0, plain.size(), plain) != 0) {
    error = "the MQTT broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + url;
    return false;
  }
  std::string rest = url.substr(isTls ? tls.size() : plain.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host, port;
  if (!rest.empty() && rest[0] == '[') {  // [IPv6]:PORT
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "unclosed [ in " + url;
      return false;
    }
    host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after[0] != ':') {
      error = "unexpected text after the host in " + url;
      return false;
    }
    if (!after.empty()) port = after.substr(1);
    if (!after.empty() && port.empty()) {
      error = "no port after : in " + url;
      return false;
    }
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
    if (colon != std::string::npos && port.empty()) {
      error = "no port after : in " + url;
      return false;
    }
  }
  if (host.empty() || host.find_first_of("/@?# ") != std::string::npos) {
    error = "no usable host in " + url + " (mqtt://HOST[:PORT])";
    return false;
  }
  long number = isTls ? kTlsPort : kPlainPort;
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        (number = std::stol(port)) < 1 || number > 65535) {
      error = "the port in " + url + " is not 1..65535";
      return false;
    }
  }
  out.host = host;
  out.port = static_cast<int>(number);
  out.tls = isTls;
  return true;
}

bool mqttTlsAvailable() {
  initLibrary();
  mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
  if (!probe) return false;
  const bool available = mosquitto_tls_opts_set(probe, 1, nullptr, nullptr) != MOSQ_ERR_NOT_SUPPORTED;
  mosquitto_destroy(probe);
  return available;
}

bool checkTopicPrefix(const std::string& prefix, std::string& error) {
  // The prefix is a topic of its own: no wildcards, no empty or trailing level.
  if (prefix.empty() || prefix.back() == '/' || prefix.find_first_of("+#") != std::string::npos ||
      prefix.find('\0') != std::string::npos || prefix.size() > 1024) {
    error = "the MQTT topic prefix \"" + prefix + "\" must be a topic without + or # and not end in /";
    return false;
  }
  initLibrary();
  if (mosquitto_validate_utf8(prefix.data(), static_cast<int>(prefix.size())) != MOSQ_ERR_SUCCESS) {
    error = "the MQTT topic prefix is not UTF-8";
    return false;
  }
  return true;
}

nlohmann::json mqttState(const char* state, bool connected, int port) {
  return {{"state", state}, {"connected", connected}, {"port", port}, {"time", isoTime(nowEpochMs())}};
}

std::unique_ptr<MqttPublisher> MqttPublisher::start(const MqttSettings& settings, std::string& error) {
  MqttUrl where;
  if (!parseMqttUrl(settings.url, where, error) || !checkTopicPrefix(settings.topicPrefix, error)) return nullptr;
  if (settings.queueLimit < 1 || settings.queueLimit > kMqttQueueMax) {
    error = "the MQTT queue limit is not 1.." + std::to_string(kMqttQueueMax);
    return nullptr;
  }
  if (where.tls && !mqttTlsAvailable()) {
    error = "MQTT broker " + settings.url + ": mqtts:// needs TLS, which this build's MQTT client lacks";
    return nullptr;
  }
  auto publisher = std::make_unique<MosquittoPublisher>(settings, where);
  if (!publisher->open(error)) return nullptr;
  return publisher;
}

void attachMqtt(EventHub& hub, MqttPublisher& publisher) {
  hub.listen([&publisher](const Event& event) {
    if (event.type == "capture" && event.capture) {
      publisher.publishDecodes(*event.capture);
    } else if (event.type == "state") {
      const nlohmann::json& d = event.data;
      const bool connected = d.contains("connected") && d["connected"].is_boolean() && d["connected"].get<bool>();
      const int port = d.contains("port") && d["port"].is_number_integer() ? d["port"].get<int>() : 0;
      publisher.publishState(mqttState("online", connected, port));
    }
  });
}

}  // namespace velcli::console
