#include "HttpServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "../Text.h"

namespace velcli::console {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using namespace std::chrono_literals;

namespace {

// A client that sends its head a byte at a time cannot hold a connection: the whole
// head must be there this long after the connection (or after the first byte of a
// further request on a kept connection).
constexpr auto kHeadDeadline = 10s;
// A head is a request line and a few headers; anything bigger is not a browser's or
// curl's, and a bound keeps what one connection costs small.
constexpr size_t kMaxHeaderBytes = 16 * 1024;
constexpr size_t kMaxHeaderLines = 100;
// The largest body any route takes (a configuration file is at most 256 KiB); checked
// while it arrives, chunked bodies included, so that nothing bigger is ever held.
constexpr size_t kMaxBodyBytes = 512 * 1024;
constexpr auto kBodyDeadline = 30s;
// One address cannot take every connection, and all of them together cannot exhaust
// the process's descriptors; beyond these, new connections are closed at once.
constexpr int kMaxPerAddress = 64;
constexpr int kMaxConnections = 512;
// A kept-alive connection with no new request is closed after this.
constexpr auto kIdleKeepAlive = 30s;
// A reply the client does not take within this is abandoned with its connection.
constexpr auto kWriteDeadline = 30s;
// Event streams: each costs a socket and at most one batch of frames, no thread.
constexpr int kMaxStreams = 64;
// A stream whose client has not taken a write for this long is closed: it stopped
// reading, and its slot goes to a browser that reads.
constexpr auto kStalledStream = 30s;
// A comment this often keeps proxies from closing a quiet stream.
constexpr auto kStreamKeepAlive = 15s;
constexpr size_t kStreamBatch = 256 * 1024;
// A small send buffer makes a stalled reader show as a write that does not complete,
// long before the kernel has buffered megabytes for it.
constexpr int kStreamSendBuffer = 16 * 1024;
// When the streams are full: the client is told to come back after this (EventSource
// reconnects after a stream that ends, but never after an error status).
constexpr int kFullRetryMs = 5000;
// A refused request's connection reads and drops what its client still sends for at
// most this long and this much, so that the client sees the answer, not a reset.
constexpr auto kLinger = 2s;
constexpr size_t kLingerBytes = 1024 * 1024;
// Requests that wait for the imager run here, so that the I/O thread never waits.
constexpr int kWorkers = 8;
// After a failed accept (descriptors exhausted), the next is tried this much later.
constexpr auto kAcceptPause = 100ms;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') out += ' ';
    else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else out += text[i];
  }
  return out;
}

// Fixed pool of threads for work that waits.
class Workers {
 public:
  explicit Workers(int count) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
  }
  ~Workers() { stop(); }
  void post(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) jobs_.push_back(std::move(job));
    wake_.notify_one();
  }
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      jobs_.clear();
    }
    wake_.notify_all();
    for (auto& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

 private:
  void run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

std::string HttpRequest::header(const std::string& lowerName) const {
  const auto it = headers.find(lowerName);
  return it == headers.end() ? std::string() : it->second;
}

namespace {

// Calls f(name, value) for each name=value of a query, undecoded.
template <typename F>
void eachParam(const std::string& query, F f) {
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string item = query.substr(start, end - start);
    const size_t eq = item.find('=');
    if (!item.empty() && f(item.substr(0, eq), eq == std::string::npos ? std::string() : item.substr(eq + 1))) return;
    start = end + 1;
  }
}

}  // namespace

std::string HttpRequest::param(const std::string& name) const {
  std::string found;
  eachParam(query, [&](const std::string& n, const std::string& v) {
    if (percentDecoded(n) != name) return false;
    found = percentDecoded(v);
    return true;
  });
  return found;
}

bool HttpRequest::hasParam(const std::string& name) const {
  bool found = false;
  eachParam(query, [&](const std::string& n, const std::string&) { return found = percentDecoded(n) == name; });
  return found;
}

std::string HttpRequest::cookie(const std::string& name) const {
  const std::string all = header("cookie");
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    size_t from = start;
    while (from < end && all[from] == ' ') ++from;
    const size_t eq = all.find('=', from);
    if (eq < end && all.compare(from, eq - from, name) == 0 && eq - from == name.size())
      return all.substr(eq + 1, end - eq - 1);
    start = end + 1;
  }
  return {};
}

class Session;

struct HttpServer::Impl {
  Handlers handlers;
  int port = -1;
  std::map<std::string, int> perAddress;  // the I/O thread's
  std::set<Session*> streams;             // the I/O thread's
  std::atomic<int> connections{0}, streamCount{0};
  std::atomic<bool> wakePending{false};
  std::atomic<bool> stopped{false};
  Workers workers{kWorkers};
  // Last, so that it goes first: the sessions its handlers hold end while the members
  // above still exist.
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer acceptPause{io};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;

  explicit Impl(Handlers h) : handlers(std::move(h)) {}

  void accept();
  void wakeStreams();
  void stop() {
    if (stopped.exchange(true)) return;
    asio::post(io, [this] {
      error_code ignored;
      acceptor.close(ignored);
      guard.reset();
      io.stop();
    });
  }
};

namespace {

std::string errorJson(const HttpServer::Handlers& h, int status, const char* error, const std::string& message) {
  if (h.errorBody) return h.errorBody(status, error, message);
  return std::string("{\"error\":\"") + error + "\"}";
}

}  // namespace

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpServer::Impl& server, tcp::socket socket, std::string peer)
      : server_(server), socket_(std::move(socket)), deadline_(server.io), keepAlive_(server.io), peer_(std::move(peer)) {
    ++server_.connections;
    ++server_.perAddress[peer_];
  }

  ~Session() { release(); }

  void start() { readHead(kHeadDeadline); }

  // The stream takes the events that arrived, when no write of it is in flight.
  void pump(bool keepAliveDue = false) {
    if (!streaming_ || writing_ || closed_) return;
    std::string frames;
    try {
      cursor_ = server_.handlers.eventsAfter(cursor_, kStreamBatch, frames);
    } catch (const std::exception&) {
      frames.clear();
    }
    if (frames.empty() && keepAliveDue) frames = ": keep-alive\n\n";
    if (frames.empty()) return;
    writeStream(std::move(frames));
  }

 private:
  void arm(std::chrono::steady_clock::duration after) {
    deadline_.expires_after(after);
    deadline_.async_wait([weak = weak_from_this()](error_code ec) {
      if (ec) return;
      if (auto self = weak.lock()) self->close();
    });
  }

  void disarm() { deadline_.cancel(); }

  // The connection stops counting against the limits when it is closed, not when its
  // last handler has run: a cancelled write to a stalled client may complete late.
  void release() {
    if (released_) return;
    released_ = true;
    if (streaming_) {
      server_.streams.erase(this);
      --server_.streamCount;
    }
    --server_.connections;
    auto it = server_.perAddress.find(peer_);
    if (it != server_.perAddress.end() && --it->second <= 0) server_.perAddress.erase(it);
  }

  void close() {
    release();
    if (closed_) return;
    closed_ = true;
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    deadline_.cancel();
    keepAlive_.cancel();
  }

  // A further request on a kept connection: up to kIdleKeepAlive for its first byte,
  // then its head within kHeadDeadline.
  void awaitNext() {
    if (buffer_.size() > 0) return readHead(kHeadDeadline);
    arm(kIdleKeepAlive);
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
      if (ec || self->closed_) return self->close();
      self->readHead(kHeadDeadline);
    });
  }

  void readHead(std::chrono::steady_clock::duration deadline) {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser_->body_limit(kMaxBodyBytes);
    arm(deadline);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](error_code ec, size_t) { self->onHead(ec); });
  }

  void onHead(error_code ec) {
    if (closed_) return;
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
      return refuse(431, "too-large", "the request head is larger than " + std::to_string(kMaxHeaderBytes) + " bytes");
    if (ec == http::error::body_limit)
      return refuse(413, "too-large", "the request body is larger than " + std::to_string(kMaxBodyBytes) + " bytes");
    if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset || ec == asio::error::bad_descriptor)
      return close();
    if (ec) return refuse(400, "bad-request", "the request is not HTTP/1.1 (" + ec.message() + ")");
    const auto& head = parser_->get();
    size_t lines = 0;
    for (auto it = head.begin(); it != head.end(); ++it) ++lines;
    if (lines > kMaxHeaderLines)
      return refuse(431, "too-large", "a request has at most " + std::to_string(kMaxHeaderLines) + " header lines");
    request_ = HttpRequest{};
    request_.method = std::string(head.method_string());
    const std::string target(head.target());
    const size_t q = target.find('?');
    request_.path = target.substr(0, q);
    if (q != std::string::npos) request_.query = target.substr(q + 1);
    for (const auto& field : head) {
      std::string& value = request_.headers[asciiLower(std::string(field.name_string()))];
      value += (value.empty() ? "" : ", ") + std::string(field.value());
    }
    request_.peer = peer_;
    keepConnection_ = head.keep_alive();
    const std::string encoding = asciiLower(request_.header("content-encoding"));
    if (!encoding.empty() && encoding != "identity")
      return refuse(415, "unsupported", "compressed request bodies are not accepted");
    if (parser_->content_length() && *parser_->content_length() > kMaxBodyBytes)
      return refuse(413, "too-large", "the request body is larger than " + std::to_string(kMaxBodyBytes) + " bytes");
    std::unique_ptr<HttpReply> refusal;
    try {
      if (server_.handlers.admit) refusal = server_.handlers.admit(request_);
    } catch (const std::exception& e) {
      return refuse(500, "failed", std::string("the request failed: ") + e.what());
    }
    if (refusal) {
      // Its body is not read: the connection ends with the answer.
      keepConnection_ = false;
      return reply(std::move(*refusal));
    }
    if (parser_->is_done()) return onRequest();
    if (asciiLower(request_.header("expect")) == "100-continue") {
      auto line = std::make_shared<std::string>("HTTP/1.1 100 Continue\r\n\r\n");
      arm(kWriteDeadline);
      asio::async_write(socket_, asio::buffer(*line), [self = shared_from_this(), line](error_code e, size_t) {
        if (e) return self->close();
        self->readBody();
      });
      return;
    }
    readBody();
  }

  void readBody() {
    arm(kBodyDeadline);
    http::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](error_code ec, size_t) {
      if (self->closed_) return;
      if (ec == http::error::body_limit)
        return self->refuse(413, "too-large",
                            "the request body is larger than " + std::to_string(kMaxBodyBytes) + " bytes");
      if (ec) return self->close();
      self->request_.body = std::move(self->parser_->get().body());
      self->onRequest();
    });
  }

  void onRequest() {
    disarm();
    HttpHandling handling;
    try {
      handling = server_.handlers.route(request_);
    } catch (const std::exception& e) {
      return refuse(500, "failed", std::string("the request failed: ") + e.what());
    }
    switch (handling.kind) {
      case HttpHandling::Kind::kReply:
        return reply(std::move(handling.reply));
      case HttpHandling::Kind::kWork: {
        // The session goes back to the I/O thread with the reply, so that it never
        // ends on a worker.
        server_.workers.post([self = shared_from_this(), work = std::move(handling.work)]() mutable {
          HttpReply r;
          try {
            r = work();
          } catch (const std::exception& e) {
            r = {500, "application/json", errorJson(self->server_.handlers, 500, "failed", e.what()), {}};
          }
          auto& io = self->server_.io;
          asio::post(io, [self = std::move(self), r = std::move(r)]() mutable { self->reply(std::move(r)); });
        });
        return;
      }
      case HttpHandling::Kind::kStream:
        return startStream(std::move(handling.streamFirst), handling.streamAfter);
    }
  }

  void refuse(int status, const char* error, const std::string& message) {
    keepConnection_ = false;
    reply({status, "application/json", errorJson(server_.handlers, status, error, message), {}});
  }

  static void secure(http::fields& fields, bool hasPolicy) {
    fields.set("X-Content-Type-Options", "nosniff");
    fields.set("Referrer-Policy", "no-referrer");
    fields.set("X-Frame-Options", "DENY");
    if (!hasPolicy) fields.set("Content-Security-Policy", "frame-ancestors 'none'");
  }

  void reply(HttpReply r) {
    if (closed_) return;
    auto response = std::make_shared<http::response<http::string_body>>();
    response->version(11);
    response->result(static_cast<unsigned>(r.status));
    bool hasPolicy = false;
    for (const auto& [name, value] : r.headers) {
      response->insert(name, value);
      hasPolicy |= asciiLower(name) == "content-security-policy";
    }
    secure(*response, hasPolicy);
    response->set(http::field::content_type, r.contentType);
    response->body() = std::move(r.body);
    response->keep_alive(keepConnection_);
    response->prepare_payload();
    arm(kWriteDeadline);
    http::async_write(socket_, *response, [self = shared_from_this(), response](error_code ec, size_t) {
      if (ec) return self->close();
      if (!self->keepConnection_) return self->linger();
      self->awaitNext();
    });
  }

  // Ends a connection whose client may still be sending (a refused body): the answer
  // is out, what still arrives is read and dropped for a moment, so that the client
  // reads the answer rather than a reset.
  void linger() {
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    arm(kLinger);
    drain();
  }

  void drain() {
    socket_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](error_code ec, size_t n) {
      self->drained_ += n;
      if (ec || self->closed_ || self->drained_ > kLingerBytes) return self->close();
      self->drain();
    });
  }

  void startStream(std::string first, uint64_t after) {
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\n"
        "Content-Security-Policy: frame-ancestors 'none'\r\nConnection: close\r\n\r\n";
    if (server_.streamCount >= kMaxStreams) {
      // A stream that ends at once: EventSource comes back after the retry time.
      keepConnection_ = false;
      writeStream(head + "retry: " + std::to_string(kFullRetryMs) + "\n: " + std::to_string(kMaxStreams) +
                      " event streams are open; this one comes back later\n\n",
                  true);
      return;
    }
    streaming_ = true;
    ++server_.streamCount;
    server_.streams.insert(this);
    cursor_ = after;
    error_code ignored;
    socket_.set_option(asio::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
    writeStream(head + first);
    tick();
    watchClose();
  }

  // A stream's client sends nothing more; a read that ends tells that it went.
  void watchClose() {
    socket_.async_read_some(asio::buffer(scratch_), [self = shared_from_this()](error_code ec, size_t) {
      if (ec || self->closed_) return self->close();
      self->watchClose();
    });
  }

  void tick() {
    keepAlive_.expires_after(kStreamKeepAlive);
    keepAlive_.async_wait([weak = weak_from_this()](error_code ec) {
      auto self = weak.lock();
      if (ec || !self || self->closed_) return;
      self->pump(true);
      self->tick();
    });
  }

  void writeStream(std::string frames, bool last = false) {
    writing_ = true;
    auto out = std::make_shared<std::string>(std::move(frames));
    arm(kStalledStream);
    asio::async_write(socket_, asio::buffer(*out), [self = shared_from_this(), out, last](error_code ec, size_t) {
      self->writing_ = false;
      if (ec || last) return self->close();
      self->disarm();
      self->pump();
    });
  }

  HttpServer::Impl& server_;
  tcp::socket socket_;
  asio::steady_timer deadline_, keepAlive_;
  std::string peer_;
  beast::flat_buffer buffer_{kMaxHeaderBytes + 64 * 1024};
  std::optional<http::request_parser<http::string_body>> parser_;
  HttpRequest request_;
  bool keepConnection_ = true;
  bool closed_ = false, released_ = false;
  bool streaming_ = false, writing_ = false;
  uint64_t cursor_ = 0;
  char scratch_[4096];
  size_t drained_ = 0;
};

void HttpServer::Impl::accept() {
  acceptor.async_accept([this](error_code ec, tcp::socket socket) {
    if (stopped) return;
    if (ec) {
      if (ec == asio::error::operation_aborted) return;
      acceptPause.expires_after(kAcceptPause);
      acceptPause.async_wait([this](error_code e) {
        if (!e) accept();
      });
      return;
    }
    error_code peerError;
    const auto remote = socket.remote_endpoint(peerError);
    const std::string peer = peerError ? std::string("?") : remote.address().to_string();
    const auto it = perAddress.find(peer);
    if (connections >= kMaxConnections || (it != perAddress.end() && it->second >= kMaxPerAddress)) {
      error_code ignored;
      socket.close(ignored);
    } else {
      try {
        std::make_shared<Session>(*this, std::move(socket), peer)->start();
      } catch (const std::exception&) {
      }
    }
    accept();
  });
}

void HttpServer::Impl::wakeStreams() {
  wakePending = false;
  // pump() may end a session; the set is copied first.
  std::vector<std::shared_ptr<Session>> live;
  for (Session* s : streams) {
    if (auto p = s->weak_from_this().lock()) live.push_back(std::move(p));
  }
  for (auto& s : live) s->pump();
}

HttpServer::HttpServer(Handlers handlers) : impl_(std::make_shared<Impl>(std::move(handlers))) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::bind(const std::string& host, int port, std::string& why) {
  error_code ec;
  const auto address = asio::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
  if (ec) {
    why = "cannot listen on " + host + ": not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  auto& a = impl_->acceptor;
  a.open(endpoint.protocol(), ec);
  if (!ec) a.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) a.bind(endpoint, ec);
  if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    why = "cannot listen on " + host + ":" + std::to_string(port) + " (" + ec.message() + ")";
    error_code ignored;
    a.close(ignored);
    return false;
  }
  impl_->port = a.local_endpoint(ec).port();
  impl_->guard.emplace(impl_->io.get_executor());
  impl_->accept();
  return true;
}

int HttpServer::port() const { return impl_->port; }

void HttpServer::serve() {
  for (;;) {
    try {
      impl_->io.run();
      break;
    } catch (const std::exception& e) {
      // A handler's fault ends that connection, never the server.
      std::fprintf(stderr, "console: %s\n", e.what());
    }
  }
  // On this thread, once the I/O has stopped: the sessions that queued work end here
  // or with the I/O context, never beside a running handler.
  impl_->workers.stop();
}

void HttpServer::eventsArrived() {
  if (impl_->wakePending.exchange(true)) return;
  auto impl = impl_;
  asio::post(impl_->io, [impl] { impl->wakeStreams(); });
}

void HttpServer::stop() { impl_->stop(); }

HttpServer::Counts HttpServer::counts() const { return {impl_->connections.load(), impl_->streamCount.load()}; }

}  // namespace velcli::console
