// Serving the handlers over HTTP on 127.0.0.1 with libmicrohttpd: a few
// event-driven threads carry every connection, so an idle or slow client
// costs a few kilobytes and never a thread.
#pragma once

#include "answers/context.hpp"
#include "common/result.hpp"
#include "http/handlers.hpp"

#include <cstddef>
#include <memory>

namespace ruvo::desktop::http {

using answers::LogSink;

// Bounds on what one client may make the service hold or wait for.
struct HttpLimits {
  std::size_t max_head_bytes = 16 * 1024;  // request line and headers; more gets 431
  int head_timeout_s = 10;                 // a whole request head must arrive within this
  int idle_timeout_s = 30;                 // a connection with no traffic for this long is closed
  unsigned max_connections = 4096;         // beyond this, new connections are closed at once
};

// The service on 127.0.0.1. Every reply is one JSON object (or, for a
// browser, a page) with a Content-Length (never chunked) and "Connection:
// close": one request per connection. Each request passes the gate
// (gate.hpp) on its head alone: it must name this machine's loopback in
// Host (403 otherwise); one that changes anything must not come from another
// origin's page (403); then it must carry the token or a signed-in page's
// session key (401; the session's cookie alone opens only the pages). The
// sign-in address, the sign-in links and the interface's pages are answered
// there; replies to requests without the token header carry
// browser_headers(), those to ruvo's requests stay as they were. A head over
// the limit gets 431, a body over its bound 413 and a chunked body 411, all
// before the body is read; a request without a length has none. Each request
// is logged by method, path and status, never by its headers or body. What
// pool_for puts on a pool is answered on its threads while the connection
// rests: explanations (which may wait for a model) and imports on the
// workers, writes on threads of their own (a write queued longer than the
// store waits for its writer is answered 503 "busy"), searches on theirs (a
// full queue is 503 "busy"); so a slow model, a busy writer or many searches
// never hold up health, lookups or each other. One import at a time: its
// body is written to HandlerContext::import_file as it arrives (another
// import meanwhile is 503 "busy", one without the token 401, both from the
// head) and the file is removed when the request ends.
class HttpService {
 public:
  // `ctx` must outlive the service; `log` is called from its threads.
  HttpService(HandlerContext& ctx, LogSink log, HttpLimits limits = {});
  ~HttpService();  // stops
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Listens on a free port of 127.0.0.1; returns it, or why it cannot.
  common::Result<int> bind();

  // Starts serving (after a successful bind), or says why it cannot.
  common::Result<void> start();

  // Stops accepting, lets every request on a worker finish and answer, and
  // closes every connection. Safe to call more than once.
  void stop();

  // The connection bound in effect: the asked one, lowered when the process
  // may not open that many files.
  unsigned max_connections() const;

  struct State;  // shared with the library's callbacks

 private:
  std::unique_ptr<State> state_;
};

}  // namespace ruvo::desktop::http
