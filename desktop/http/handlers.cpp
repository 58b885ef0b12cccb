#include "http/handlers.hpp"

#include "answers/dictionaries.hpp"
#include "answers/entries.hpp"
#include "answers/explanations.hpp"
#include "answers/import_export.hpp"
#include "answers/lookups.hpp"
#include "answers/model_settings.hpp"
#include "answers/service_status.hpp"
#include "common/utf8.hpp"
#include "http/browser.hpp"
#include "http/token.hpp"
#include "protocol/routes.hpp"
#include "ui/assets.hpp"

#include <exception>
#include <memory>
#include <string>

namespace ruvo::desktop::http {

namespace {

// How a route's path is matched.
enum class Match {
  kExact,
  kPrefix,  // every path that begins with it
  kPage,    // every path the interface serves (ui::find_asset)
};

// What a route's body is.
enum class Body {
  kNone,        // not looked at
  kJsonObject,  // parsed, and must be a JSON object
  kFile,        // written to HandlerContext::import_file as it arrives (else handed over as sent)
};

// Who may ask a route answered from the head (the others need the token or
// a signed-in browser's session, checked before anything else).
enum class Access {
  kAnyone,    // the sign-in address carries its own secret
  kToken,     // the header token alone, else 401 JSON
  kSignedIn,  // the token or a session, else the signed-out page
};

struct Route {
  std::string_view path;
  Match match;
  std::string_view methods[2];    // the methods it takes; "" past the last
  std::string_view wrong_method;  // the 405 message; empty: "接口 <path> 不接受 <method> 请求"
  Body body;
  std::size_t body_limit;
  Pool pool;      // the threads it runs on (pool_for)
  bool at_head;   // answered from the head alone, before any body is read
  Access access;  // with at_head
  Reply (*handler)(const Call&);
};

Reply health(const Call& call) { return reply_for(answers::health(call.ctx.answers)); }
Reply lookup(const Call& call) { return reply_for(answers::lookup(call.ctx.answers, call.json)); }
Reply save(const Call& call) { return reply_for(answers::save(call.ctx.answers, call.json)); }
Reply explain(const Call& call) { return reply_for(answers::explain(call.ctx.answers, call.json)); }
Reply misses(const Call& call) { return reply_for(answers::misses(call.ctx.answers)); }
Reply terms(const Call& call) { return reply_for(answers::search(call.ctx.answers, call.query)); }
Reply import(const Call& call) {
  if (!call.body_file.empty()) {
    return reply_for(answers::import_terms_file(call.ctx.answers, call.query, std::string(call.body_file)));
  }
  return reply_for(answers::import_terms(call.ctx.answers, call.query, call.body));
}

// A body that is a JSON object, or none at all (an empty object), for the
// routes whose methods differ in whether they carry one (the model's
// settings, the dictionaries).
Result<JsonValue> object_body(std::string_view body) {
  if (common::is_blank(body)) return JsonValue::object();
  if (body.find('\0') != std::string_view::npos) {
    return common::failure(common::ErrorKind::kBadInput, "请求体不是 JSON：含有 NUL 字节");
  }
  auto parsed = common::parse_json(body);
  if (!parsed) return common::failure(common::ErrorKind::kBadInput, "请求体不是 JSON：" + parsed.error().text());
  if (!parsed->is_object()) return common::failure(common::ErrorKind::kBadInput, "请求体必须是 JSON 对象");
  return parsed;
}

// GET or PUT /v1/model.
Reply model_settings(const Call& call) {
  if (call.method == "GET") return reply_for(answers::model_settings(call.ctx.answers));
  auto body = object_body(call.body);
  if (!body) return error_reply(body.error());
  return reply_for(answers::change_model_settings(call.ctx.answers, *body));
}

// POST /v1/model/try.
Reply try_model(const Call& call) {
  auto body = object_body(call.body);
  if (!body) return error_reply(body.error());
  return reply_for(answers::try_model(call.ctx.answers, *body));
}

constexpr std::string_view kTermsPath = "/v1/terms";

// GET or DELETE /v1/terms/<id>.
Reply term(const Call& call) {
  const std::string_view id = call.path.substr(kTermsPath.size() + 1);
  if (call.method == "DELETE") return reply_for(answers::remove_entry(call.ctx.answers, id));
  return reply_for(answers::entry(call.ctx.answers, id));
}

Reply export_all(const Call& call) {
  auto pieces = answers::export_terms(call.ctx.answers);
  if (!pieces) return error_reply(pieces.error());
  auto shared = std::make_shared<answers::ExportPieces>(std::move(pieces).value());
  auto stream = std::make_shared<StreamedBody>();
  stream->content_type = "application/x-ndjson; charset=utf-8";
  stream->file_name = "ruvo-terms.jsonl";
  stream->next = [shared] { return shared->next(); };
  Reply reply;
  reply.stream = std::move(stream);
  return reply;
}

constexpr std::string_view kDictionariesPath = "/v1/dictionaries";

// GET or POST /v1/dictionaries.
Reply dictionaries(const Call& call) {
  if (call.method == "GET") return reply_for(answers::list_dictionaries(call.ctx.answers));
  auto body = object_body(call.body);
  if (!body) return error_reply(body.error());
  return reply_for(answers::add_dictionaries(call.ctx.answers, *body));
}

// PATCH or DELETE /v1/dictionaries/<id>.
Reply dictionary(const Call& call) {
  const std::string_view id = call.path.substr(kDictionariesPath.size() + 1);
  if (call.method == "DELETE") return reply_for(answers::remove_dictionary(call.ctx.answers, id));
  auto body = object_body(call.body);
  if (!body) return error_reply(body.error());
  return reply_for(answers::change_dictionary(call.ctx.answers, id, *body));
}

using protocol::kExplainRoute;
using protocol::kHealthRoute;
using protocol::kLookupRoute;
using protocol::kSaveRoute;
using protocol::kSignInLinkRoute;

constexpr Route kTable[] = {
    // The contract's routes, as ruvo calls them.
    {kHealthRoute.path,
     Match::kExact,
     {kHealthRoute.method},
     "",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kEvent,
     false,
     Access::kToken,
     health},
    {kLookupRoute.path,
     Match::kExact,
     {kLookupRoute.method},
     "",
     Body::kJsonObject,
     kMaxBodyBytes,
     Pool::kEvent,
     false,
     Access::kToken,
     lookup},
    {kSaveRoute.path,
     Match::kExact,
     {kSaveRoute.method},
     "",
     Body::kJsonObject,
     kMaxBodyBytes,
     Pool::kWrites,
     false,
     Access::kToken,
     save},
    {kExplainRoute.path,
     Match::kExact,
     {kExplainRoute.method},
     "",
     Body::kJsonObject,
     kMaxBodyBytes,
     Pool::kWorkers,
     false,
     Access::kToken,
     explain},
    // The service's own, what the browser interface reads and writes.
    {"/v1/misses", Match::kExact, {"GET"}, "", Body::kNone, kMaxBodyBytes, Pool::kEvent, false, Access::kToken, misses},
    {kTermsPath,
     Match::kExact,
     {"GET"},
     "接口 /v1/terms 只接受 GET 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kSearches,
     false,
     Access::kToken,
     terms},
    {"/v1/terms/",
     Match::kPrefix,
     {"GET", "DELETE"},
     "接口 /v1/terms/<id> 只接受 GET 和 DELETE 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kWrites,
     false,
     Access::kToken,
     term},
    {"/v1/import",
     Match::kExact,
     {"POST"},
     "接口 /v1/import 只接受 POST 请求",
     Body::kFile,
     kMaxImportBytes,
     Pool::kWorkers,
     false,
     Access::kToken,
     import},
    {"/v1/export",
     Match::kExact,
     {"GET"},
     "接口 /v1/export 只接受 GET 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kEvent,
     false,
     Access::kToken,
     export_all},
    {"/v1/model",
     Match::kExact,
     {"GET", "PUT"},
     "接口 /v1/model 只接受 GET 和 PUT 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kWorkers,  // a PUT writes model.json and waits for the disk
     false,
     Access::kToken,
     model_settings},
    {"/v1/model/try",
     Match::kExact,
     {"POST"},
     "接口 /v1/model/try 只接受 POST 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kWorkers,
     false,
     Access::kToken,
     try_model},
    // Adding a dictionary reads it whole: on a worker. The bodies are small JSON objects, read by
    // the handler (a DELETE has none).
    {kDictionariesPath,
     Match::kExact,
     {"GET", "POST"},
     "接口 /v1/dictionaries 只接受 GET 和 POST 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kWorkers,
     false,
     Access::kToken,
     dictionaries},
    {"/v1/dictionaries/",
     Match::kPrefix,
     {"PATCH", "DELETE"},
     "接口 /v1/dictionaries/<id> 只接受 PATCH 和 DELETE 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kWorkers,
     false,
     Access::kToken,
     dictionary},
    // The browser's, answered from the head.
    {kSignInLinkRoute.path,
     Match::kExact,
     {kSignInLinkRoute.method},
     "接口 /v1/sign-in-link 只接受 POST 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kEvent,
     true,
     Access::kToken,
     sign_in_link},
    // Only a GET spends the secret: a HEAD (a link checker, say) must not.
    {kSignInPath,
     Match::kExact,
     {"GET"},
     "登录地址只接受 GET 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kEvent,
     true,
     Access::kAnyone,
     sign_in},
    {"<page>",
     Match::kPage,
     {"GET", "HEAD"},
     "页面只接受 GET 请求",
     Body::kNone,
     kMaxBodyBytes,
     Pool::kEvent,
     true,
     Access::kSignedIn,
     page},
};

bool matches(const Route& route, std::string_view path) {
  switch (route.match) {
    case Match::kExact:
      return path == route.path;
    case Match::kPrefix:
      return path.substr(0, route.path.size()) == route.path;
    case Match::kPage:
      return ui::find_asset(path) != nullptr;
  }
  return false;
}

const Route* find_route(std::string_view path) {
  for (const auto& route : kTable) {
    if (matches(route, path)) return &route;
  }
  return nullptr;
}

bool takes(const Route& route, std::string_view method) {
  for (auto taken : route.methods) {
    if (!taken.empty() && taken == method) return true;
  }
  return false;
}

Reply method_not_allowed(const Route& route, std::string_view method, std::string_view path) {
  if (!route.wrong_method.empty()) return error_reply(405, "method_not_allowed", route.wrong_method);
  return error_reply(405, "method_not_allowed",
                     "接口 " + std::string(path) + " 不接受 " + std::string(method) + " 请求");
}

// The one place a handler runs: anything it throws becomes a JSON 500 rather
// than the end of the service. The answers check every type they read; this
// is the last guard that keeps one bad request from ending the service.
Reply invoke(const Route& route, const Call& call) {
  try {
    return route.handler(call);
  } catch (const std::exception& e) {
    return error_reply(500, "internal", std::string("服务内部错误：") + e.what());
  }
}

bool token_matches(const HandlerContext& ctx, const std::optional<std::string>& token) {
  return token && tokens_equal(*token, ctx.token);
}

// handle_request, the body as sent or in a file.
Reply answer(HandlerContext& ctx, std::string_view method, std::string_view path, const QueryParameters& query,
             const std::optional<std::string>& token, std::string_view body, std::string_view body_file,
             std::size_t body_size) {
  if (!token_matches(ctx, token)) return unauthorized();
  if (body_size > body_limit(method, path)) return too_large(body_limit(method, path));
  const Route* route = find_route(path);
  if (route == nullptr || route->at_head) {
    return error_reply(404, "not_found", "没有这个接口：" + std::string(path));
  }
  if (!takes(*route, method)) return method_not_allowed(*route, method, path);

  JsonValue parsed = JsonValue::object();
  if (route->body == Body::kJsonObject) {
    // The parser takes a NUL for the end of the text and would accept
    // whatever follows it.
    if (body.find('\0') != std::string_view::npos) {
      return error_reply(400, "bad_request", "请求体不是 JSON：含有 NUL 字节");
    }
    auto result = common::parse_json(body);
    if (!result) return error_reply(400, "bad_request", "请求体不是 JSON：" + result.error().text());
    if (!result->is_object()) return error_reply(400, "bad_request", "请求体必须是 JSON 对象");
    parsed = std::move(result).value();
  }
  return invoke(*route, Call{ctx, method, path, query, body, body_file, parsed, nullptr});
}

}  // namespace

std::size_t body_limit(std::string_view method, std::string_view path) {
  const Route* route = find_route(path);
  return route != nullptr && takes(*route, method) ? route->body_limit : kMaxBodyBytes;
}

Pool pool_for(std::string_view method, std::string_view path) {
  const Route* route = find_route(path);
  if (route == nullptr || route->at_head || !takes(*route, method)) return Pool::kEvent;
  // A read of a route that also writes (GET of an entry) never waits.
  if (route->pool == Pool::kWrites && method != "POST" && method != "DELETE") return Pool::kEvent;
  return route->pool;
}

bool body_goes_to_file(std::string_view method, std::string_view path) {
  const Route* route = find_route(path);
  return route != nullptr && !route->at_head && route->body == Body::kFile && takes(*route, method);
}

std::optional<Reply> answer_from_head(HandlerContext& ctx, const BrowserSide& browser, std::string_view method,
                                      std::string_view path, const QueryParameters& query, bool token_valid,
                                      bool signed_in) {
  const Route* route = find_route(path);
  if (route == nullptr || !route->at_head) return std::nullopt;
  switch (route->access) {
    case Access::kAnyone:
      break;
    case Access::kToken:
      if (!token_valid) return unauthorized();
      break;
    case Access::kSignedIn:
      if (!token_valid && !signed_in) return signed_out_page();
      break;
  }
  if (!takes(*route, method)) return method_not_allowed(*route, method, path);
  const JsonValue none = JsonValue::object();
  return invoke(*route, Call{ctx, method, path, query, {}, {}, none, &browser});
}

Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path,
                     const std::optional<std::string>& token, std::string_view body) {
  return handle_request(ctx, method, path, QueryParameters{}, token, body);
}

Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path, const QueryParameters& query,
                     const std::optional<std::string>& token, std::string_view body) {
  return answer(ctx, method, path, query, token, body, {}, body.size());
}

Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path, const QueryParameters& query,
                     const std::optional<std::string>& token, std::string_view body_file, std::size_t body_size) {
  return answer(ctx, method, path, query, token, {}, body_file, body_size);
}

}  // namespace ruvo::desktop::http
