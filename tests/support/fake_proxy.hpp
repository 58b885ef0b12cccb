// A forward HTTP proxy for the tests, on threads of the test process,
// listening on 127.0.0.1 at a free port. It knows host names that no name
// server does, each standing for 127.0.0.1, so a request that arrives at a
// fake endpoint under such a name can only have come through the proxy. It
// forwards plain-HTTP requests in absolute form ("POST http://host:port/path")
// and CONNECT tunnels (https) to those names, at the port the client gave;
// any other host gets 502 and is never connected to.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ruvo::test {

struct ProxiedRequest {
  std::string method;      // "POST", "CONNECT", …
  std::string target;      // as the client wrote it: "http://models.internal:8080/v1/x" or "models.internal:8443"
  std::string host;        // the host name in it, as written
  int port = 0;            // the port in it (80 when an http target names none)
  bool forwarded = false;  // false: answered 502 (an unknown host or nothing listening)
};

class FakeProxy {
 public:
  // Forwards to the given host names (compared without regard to case).
  explicit FakeProxy(std::vector<std::string> known_hosts);
  // Stops at once: wakes every connection, closes the sockets, joins the threads.
  ~FakeProxy();
  FakeProxy(const FakeProxy&) = delete;
  FakeProxy& operator=(const FakeProxy&) = delete;

  // 0 when it could not start (the test then fails).
  int port() const;
  // "http://127.0.0.1:<port>", for http_proxy and https_proxy.
  std::string url() const;
  // Every request head received, in order; recorded before it is forwarded.
  std::vector<ProxiedRequest> requests() const;

  struct State;  // what the connection threads share with the test

 private:
  std::unique_ptr<State> state_;
};

}  // namespace ruvo::test
