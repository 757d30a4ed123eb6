// An HTTP/1.1 server for a hostile network, over Boost.Beast and Asio: one I/O thread
// serves every connection and every event stream; requests that wait for the imager
// run on a small fixed pool. What a client may send and how long it may take are
// bounded (the limits in HttpServer.cpp, each with its reason); nothing a handler
// throws ends the process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velcli::console {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // the target up to '?', not decoded
  std::string query;   // after '?'
  std::map<std::string, std::string> headers;  // names in lower case; repeated ones joined by ", "
  std::string body;
  std::string peer;  // the client's address

  std::string header(const std::string& lowerName) const;
  // A parameter of the query, percent-decoded; empty when absent.
  std::string param(const std::string& name) const;
  bool hasParam(const std::string& name) const;
  std::string cookie(const std::string& name) const;
};

struct HttpReply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// What the server does with a request.
struct HttpHandling {
  enum class Kind { kReply, kWork, kStream } kind = Kind::kReply;
  HttpReply reply;                 // kReply
  std::function<HttpReply()> work;  // kWork: run on the pool (it may wait for the imager)
  std::string streamFirst;          // kStream: the first frames
  uint64_t streamAfter = 0;         // kStream: the events after this one follow
};

class HttpServer {
 public:
  struct Handlers {
    // With the head only: a reply refuses the request before its body is read
    // (an unauthorised upload costs nothing). nullptr admits it.
    std::function<std::unique_ptr<HttpReply>(const HttpRequest&)> admit;
    std::function<HttpHandling(const HttpRequest&)> route;
    // The event stream's frames after seq, at most maxBytes of them (at least one
    // event when there is one); answers the seq of the last frame given, seq when none.
    std::function<uint64_t(uint64_t seq, size_t maxBytes, std::string& frames)> eventsAfter;
    // Every reply: JSON for an error the server answers itself (413, 431, ...).
    std::function<std::string(int status, const char* error, const std::string& message)> errorBody;
  };

  explicit HttpServer(Handlers handlers);
  ~HttpServer();
  // Binds host:port (port 0: any free one); false with why when it cannot.
  bool bind(const std::string& host, int port, std::string& why);
  int port() const;
  // Serves until stop(); run on a thread of its own.
  void serve();
  // From any thread: the event streams look for new events.
  void eventsArrived();
  void stop();

  struct Counts {
    int connections = 0, streams = 0;
  };
  Counts counts() const;

  struct Impl;  // HttpServer.cpp's, shared with its connections

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace velcli::console
