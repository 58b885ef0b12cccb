#include "http/replies.hpp"

#include "protocol/routes.hpp"

#include <string>

namespace ruvo::desktop::http {

using common::ErrorKind;

Reply error_reply(int status, std::string_view kind, std::string_view message) {
  Reply reply{status, JsonValue::object()};
  reply.body["ok"] = false;
  reply.body["kind"] = std::string(kind);
  reply.body["message"] = std::string(message);
  return reply;
}

Reply error_reply(const common::Error& error) {
  struct Mapping {
    ErrorKind kind;
    int status;
    std::string_view name;
    std::string_view reason;  // empty: the error's own, when it has one
  };
  static constexpr Mapping kMappings[] = {
      {ErrorKind::kBadInput, 400, "bad_request", ""},
      {ErrorKind::kNotFound, 404, "not_found", ""},
      {ErrorKind::kTooLarge, 413, "too_large", ""},
      {ErrorKind::kBadImport, 400, "bad_import", ""},
      {ErrorKind::kStoreFailure, 500, "store", ""},
      {ErrorKind::kStoreDamaged, 503, "store", "store_damaged"},
      {ErrorKind::kBusy, 503, "busy", ""},
      {ErrorKind::kModel, 502, "model", ""},
      {ErrorKind::kModelTimeout, 504, "model", ""},
  };
  for (const auto& mapping : kMappings) {
    if (mapping.kind != error.kind) continue;
    Reply reply = error_reply(mapping.status, mapping.name, error.text());
    if (!mapping.reason.empty()) {
      reply.body["reason"] = std::string(mapping.reason);
    } else if ((error.kind == ErrorKind::kModel || error.kind == ErrorKind::kModelTimeout) && !error.reason.empty()) {
      reply.body["reason"] = error.reason;
    }
    return reply;
  }
  return error_reply(500, "internal", error.text());
}

Reply reply_for(const Result<JsonValue>& answer) {
  if (!answer) return error_reply(answer.error());
  Reply reply;
  reply.body = *answer;
  return reply;
}

Reply unauthorized() {
  return error_reply(401, "auth",
                     std::string(protocol::kTokenHeader) + " 缺失或不对：请按 explain.json 里的 token 重试");
}

Reply too_large(std::size_t limit) {
  return error_reply(413, "too_large", "请求体超过 " + std::to_string(limit / (1024 * 1024)) + " MiB");
}

Reply refusal_reply(int status, bool authorised, std::size_t body_limit) {
  if (!authorised) return unauthorized();
  switch (status) {
    case 413:
      return too_large(body_limit);
    case 411:
      return error_reply(411, "length_required", "请求必须带 Content-Length，不接受分块传输的请求体");
    case 400:
      return error_reply(400, "bad_request", "请求格式不对");
    case 404:
      return error_reply(404, "not_found", "没有这个接口");
    case 405:
      return error_reply(405, "method_not_allowed", "不接受这种请求方法");
    default:
      return error_reply(status, "refused", "请求被拒绝（HTTP " + std::to_string(status) + "）");
  }
}

Reply page_reply(int status, std::string_view html) {
  Reply reply;
  reply.status = status;
  reply.raw = std::string(html);
  reply.content_type = "text/html; charset=utf-8";
  return reply;
}

}  // namespace ruvo::desktop::http
