// A scripted fake of the local service: an in-process server on threads
// of the test that records the request bytes it receives and answers bytes
// the test chose, malformed ones included. Stopped by its destructor.
#pragma once

#include "support/http.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ruvo::test {

struct Reply {
  std::string bytes;       // sent as they are, after the request has been read
  bool keep_open = false;  // after sending, hold the connection until the client closes it (or the
                           //   service is destroyed) instead of closing it
  bool reset = false;      // after sending, reset the connection (SO_LINGER 0): the client may
                           //   lose bytes it has not read yet and then sees ECONNRESET
  int delay_ms = 0;        // wait this long before sending
  int drip_ms = 0;         // send one byte at a time, this long apart (the client may give up first)

  // A full HTTP/1.1 reply with Content-Type: application/json,
  // Content-Length and Connection: close.
  static Reply json(int status, std::string_view body);
  static Reply raw(std::string bytes);
};

struct Request {
  std::string raw;     // every byte received: the head up to CR LF CR LF and Content-Length body
                       //   bytes (fewer when the client stopped early)
  std::string method;  // first word of the request line ("" if none)
  std::string path;    // second word of the request line ("" if none)
  std::string body;    // the bytes after CR LF CR LF

  // The value of the first header of that name (compared without regard to
  // case), without surrounding spaces; nothing when there is none.
  std::optional<std::string> header(std::string_view name) const;
};


class FakeService {
 public:
  // Binds 127.0.0.1 on a free port and starts accepting. A failure to bind
  // fails the current test (port() is then 0).
  FakeService();
  // Stops promptly: wakes every waiting connection, closes all sockets and
  // joins the threads.
  ~FakeService();
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  uint16_t port() const;

  // Replies for "METHOD /path", used in order; the last one repeats. "GET
  // /v1/health" answers Reply::json(200, R"({"ok":true,"version":"test"})")
  // unless set. Unknown routes: 404 JSON {"ok":false,"message":"not found"}.
  // An empty list removes the route. Replaces what was set for the route.
  void on(std::string method_and_path, std::vector<Reply> replies);

  // Every request received, in order, raw bytes kept. A request is recorded
  // before its reply is sent, so once a client has its reply the request is
  // here.
  std::vector<Request> requests() const;
  // Connections accepted so far.
  std::size_t connections() const;

 private:
  struct Route {
    std::vector<Reply> replies;
    std::size_t next = 0;
  };

  void accept_loop();
  void serve(int fd);
  Reply reply_for(const Request& request);

  int listen_fd_ = -1;
  int wake_read_ = -1;   // readable once the service is stopping
  int wake_write_ = -1;
  uint16_t port_ = 0;

  mutable std::mutex mutex_;
  std::map<std::string, Route> routes_;
  std::vector<Request> requests_;
  std::size_t connections_ = 0;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace ruvo::test
