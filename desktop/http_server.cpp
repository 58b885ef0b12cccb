#include "http_server.hpp"

#include "common/json.hpp"

#include <httplib.h>

#include <exception>
#include <string>

namespace ruvo::desktop {

namespace {

constexpr std::size_t kLoggedPathBytes = 200;

std::optional<std::string> token_of(const httplib::Request& req) {
  std::string name(kTokenHeader);
  if (!req.has_header(name.c_str())) return std::nullopt;
  return req.get_header_value(name.c_str());
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

}  // namespace ruvo::desktop
