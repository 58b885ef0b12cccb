// The local service's routes, free of any HTTP library: the server hands
// each request to handle_request and writes back the Reply.
#pragma once

#include "common/json.hpp"
#include "explain.hpp"
#include "http/reply.hpp"
#include "store/store.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop {

inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
// Raised when a reply changes in a way a client must know about.
inline constexpr int kProtocolVersion = 1;

// Everything a route needs; it lives as long as the server.
struct ServiceContext {
  TermStore& store;
  std::string token;    // the expected value of protocol::kTokenHeader
  std::string version;  // the program's version, reported by health
  ExplainModel model;   // empty: no model configured
  JsonValue model_status = JsonValue{{"configured", false}};  // what health says of the model
};

// Answers one request. A token that is missing or wrong gives 401 before
// anything else is looked at; then a body over kMaxBodyBytes gives 413, an
// unknown path 404, a known path with another method 405, and a POST body
// that is not a JSON object 400. Every reply is a JSON object with "ok".
Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const std::optional<std::string>& token, std::string_view body);

// The query string's parameters, by name (the last one of a name given
// twice).
using QueryParameters = std::map<std::string, std::string, std::less<>>;

// The same, for a request with a query string: GET /v1/terms reads "q",
// "limit" and "offset"; every other route ignores it.
Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const QueryParameters& query, const std::optional<std::string>& token, std::string_view body);

// The reply for a request the HTTP layer refused on its own (an oversize or
// malformed request, say), with the status it chose: 401 when the token is
// wrong, else that status with a JSON body.
Reply refusal_reply(const ServiceContext& ctx, int status, const std::optional<std::string>& token);

// The routes themselves, with the body already parsed. Health answers "ok",
// "version", "protocol", "terms" (the number stored, null when a damaged
// store cannot count) and "model" (the context's model_status); for a
// damaged store it adds "store" (damaged_store_status) and still says "ok"
// true, as the service answers. A save into a damaged store gets
// store_damaged_refusal.
Reply handle_health(ServiceContext& ctx);
Reply handle_lookup(ServiceContext& ctx, const JsonValue& body);
Reply handle_save(ServiceContext& ctx, const JsonValue& body);
Reply handle_explain(ServiceContext& ctx, const JsonValue& body);
// {"ok": true, "misses": [{"text", "count", "lastAt"}]}: what was looked up
// in vain, most frequent first.
Reply handle_misses(ServiceContext& ctx);
// {"ok": true, "total": N, "terms": [{"id", "term", "lang", "fields",
// "aliases", "source", "updatedAt"}]}: a page of a search, or of every entry
// by the most recent update when "q" is blank.
Reply handle_terms(ServiceContext& ctx, const QueryParameters& query);

}  // namespace ruvo::desktop
