#include "http/http_server.hpp"

#include "common/json.hpp"
#include "platform/server.hpp"
#include "protocol/routes.hpp"

#include <httplib.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace ruvo::desktop {

namespace {

constexpr std::size_t kLoggedPathBytes = 200;

std::optional<std::string> token_of(const httplib::Request& req) {
  std::string name(protocol::kTokenHeader);
  if (!req.has_header(name.c_str())) return std::nullopt;
  return req.get_header_value(name.c_str());
}

bool declared_length_too_large(const httplib::Request& req) {
  if (!req.has_header("Content-Length")) return false;
  const std::string value = req.get_header_value("Content-Length");
  std::uint64_t length = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;  // the library refuses it later
    if (length > kMaxBodyBytes) return true;
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return length > kMaxBodyBytes;
}

void send(httplib::Response& res, const Reply& reply) {
  res.status = reply.status;
  res.set_content(common::to_compact(reply.body), "application/json; charset=utf-8");
}

}  // namespace

void install_service(httplib::Server& server, ServiceContext& ctx, Log& log) {
  server.set_payload_max_length(kMaxBodyBytes);
  // A client that keeps a connection open gets nothing more on it, and ruvo
  // reads each reply to the end of the stream.
  server.set_keep_alive_max_count(1);
  // A client that announces a body with "Expect: 100-continue" and a length
  // past the limit is refused before it sends the body. Any other gets its
  // "100 Continue" (held back up to 200 ms by
  // platform::hold_writes_until_shutdown).
  server.set_expect_100_continue_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!declared_length_too_large(req)) return 100;
    res.status = 413;
    return 413;
  });
  server.set_read_timeout(10, 0);
  server.set_write_timeout(10, 0);

  // A chunked body, or a body-carrying request without Content-Length, has
  // no length to check before it is read: the library would read it to the
  // end of the stream and hold it whole. Both are refused unread; ruvo always
  // sends a Content-Length.
  server.set_pre_routing_handler([&ctx](const httplib::Request& req, httplib::Response& res) {
    const bool carries_body = req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
                              req.method == "DELETE" || req.method == "PRI";
    const bool unbounded = req.has_header("Transfer-Encoding") || (carries_body && !req.has_header("Content-Length"));
    if (!unbounded) return httplib::Server::HandlerResponse::Unhandled;
    send(res, refusal_reply(ctx, 411, token_of(req)));
    return httplib::Server::HandlerResponse::Handled;
  });

  auto route = [&ctx](const httplib::Request& req, httplib::Response& res) {
    send(res, handle_request(ctx, req.method, req.path, token_of(req), req.body));
  };
  server.Get(".*", route);
  server.Post(".*", route);
  server.Put(".*", route);
  server.Patch(".*", route);
  server.Delete(".*", route);
  server.Options(".*", route);

  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [&ctx](const httplib::Request& req, httplib::Response& res) {
        // Our own replies already have a body; only the library's need one.
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        send(res, refusal_reply(ctx, res.status, token_of(req)));
        return httplib::Server::HandlerResponse::Handled;
      }));

  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    send(res, error_reply(500, "internal", "服务内部错误"));
  });

  server.set_logger([&log](const httplib::Request& req, const httplib::Response& res) {
    std::string path = req.path.substr(0, kLoggedPathBytes);
    log.write(req.method + " " + path + " " + std::to_string(res.status));
  });
}

namespace {

// Runs each accepted connection on the thread that accepted it.
class AnswerOnAcceptingThread : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

}  // namespace

HttpService::HttpService(ServiceContext& ctx, Log& log) : ctx_(ctx), log_(log) {}

HttpService::~HttpService() { stop(); }

int HttpService::bind() {
  if (!servers_.empty()) return 0;
  sockets_.assign(kServeThreads, -1);
  int port = 0;
  for (int i = 0; i < kServeThreads; ++i) {
    auto& server = *servers_.emplace_back(std::make_unique<httplib::Server>());
    install_service(server, ctx_, log_);
    server.new_task_queue = [] { return new AnswerOnAcceptingThread; };
    // One reply per connection, then a shutdown: the reply goes out whole.
    server.set_socket_options([this, i](socket_t sock) {
      httplib::default_socket_options(sock);
      platform::hold_writes_until_shutdown(sock);
      sockets_[static_cast<std::size_t>(i)] = sock;
    });
    int bound = server.bind_to_any_port("127.0.0.1");
    int listening = sockets_[static_cast<std::size_t>(i)];
    if (bound <= 0 || listening < 0) return 0;
    if (i == 0) {
      port = bound;
      // Our own descriptor of the socket, to shut it down by: each server
      // closes its descriptor when its loop ends, which may be early.
      shared_ = platform::duplicate_descriptor(listening);
      if (shared_ < 0) return 0;
    } else if (!platform::share_listening_socket(shared_, listening)) {
      return 0;
    }
    // From here the server's descriptor stands for the first server's
    // socket; the port it bound alone is given up.
  }
  return port;
}

void HttpService::start(std::function<void()> on_ended) {
  for (auto& server : servers_) {
    threads_.emplace_back([this, &server = *server, on_ended] {
      server.listen_after_bind();
      if (!stopping_ && on_ended) on_ended();
    });
  }
}

bool HttpService::running() const {
  if (servers_.empty()) return false;
  for (const auto& server : servers_) {
    if (!server->is_running()) return false;
  }
  return true;
}

void HttpService::stop() {
  if (stopping_.exchange(true)) return;
  // Shutting the socket down makes every accept fail, through any
  // descriptor, also one not yet begun; each server then closes its own
  // descriptor and its loop ends. The library's stop() is not used: it
  // closes the descriptor too, racing the loop that closes it.
  if (shared_ >= 0) platform::shut_down_socket(shared_);
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  // Servers that never ran still hold their descriptors.
  if (threads_.empty()) {
    for (int fd : sockets_) {
      if (fd >= 0) platform::close_descriptor(fd);
    }
  }
  if (shared_ >= 0) platform::close_descriptor(shared_);
  shared_ = -1;
}

}  // namespace ruvo::desktop
