// The console's HTTP side: the page, the JSON API under /api/ and the event stream,
// with the access rules (a token beyond loopback, exchanged by the page for a session
// cookie; same-origin for changes; bounded request sizes), on HttpServer.
#pragma once

#include <memory>
#include <string>

#include "DeviceDesk.h"
#include "EventHub.h"

namespace velcli::console {

// localhost, 127.0.0.1 or ::1, with or without a port ("[::1]:8080").
bool isLoopbackName(std::string host);
// A token long enough not to be guessed, of printable ASCII; false with why otherwise.
bool checkToken(const std::string& token, std::string& why);

struct Access {
  std::string token;  // empty: none (loopback only)
};

class HttpConsole {
 public:
  HttpConsole(DeviceDesk& desk, EventHub& events, Access access);
  ~HttpConsole();
  // Binds host:port (port 0: any free one); false with why when it cannot.
  bool bind(const std::string& host, int port, std::string& why);
  int port() const;
  // Serves until stop(); run on a thread of its own.
  void serve();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velcli::console
