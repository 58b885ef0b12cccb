// Serving the routes over HTTP with cpp-httplib.
#pragma once

#include "http/routes.hpp"
#include "log.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace ruvo::desktop {

// How many requests are served at once.
inline constexpr int kServeThreads = 8;

// Sets the server up to answer every request through handle_request: one
// request per connection, so every reply carries "Connection: close" and the
// connection is closed after it; every reply is one JSON object with a
// Content-Length (never chunked); bodies over kMaxBodyBytes are refused with
// 413 and chunked request bodies with 411, before they are held in memory;
// the replies the library makes on its own (a malformed request, say) get a
// JSON body too. Each request is logged by method, path and status, never by
// its headers or body. `ctx` and `log` must outlive the server.
void install_service(httplib::Server& server, ServiceContext& ctx, Log& log);

// The service on 127.0.0.1: kServeThreads threads, each accepting from one
// shared listening socket and answering the connection it accepted itself.
// The library's own loop accepts on one thread and hands each connection to
// a pool thread; waking that second thread, often on the other core, cost
// as much as the rest of a lookup, and every ruvo call makes two requests.
// The kernel gives each new connection to a thread waiting in accept, so a
// slow client holds only its own thread, as a pool thread did.
class HttpService {
 public:
  // `ctx` and `log` must outlive the service.
  HttpService(ServiceContext& ctx, Log& log);
  ~HttpService();  // stops
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Listens on a free port of 127.0.0.1; returns it, or 0 on failure.
  int bind();

  // Starts serving (after a successful bind). `on_ended` is called, from a
  // serving thread, if serving ends without stop().
  void start(std::function<void()> on_ended);

  // True once every thread is accepting.
  bool running() const;

  // Stops accepting and returns when every thread has finished the request
  // it was answering. Safe to call more than once.
  void stop();

 private:
  ServiceContext& ctx_;
  Log& log_;
  std::vector<std::unique_ptr<httplib::Server>> servers_;
  std::vector<int> sockets_;  // each server's listening descriptor
  int shared_ = -1;           // ours, for the same socket
  std::vector<std::thread> threads_;
  std::atomic<bool> stopping_{false};
};

}  // namespace ruvo::desktop
