// The local service's routes, free of any HTTP library: the server hands
// each request to handle_request and writes back the Reply.
#pragma once

#include "common/json.hpp"
#include "explain.hpp"
#include "http/reply.hpp"
#include "protocol/version.hpp"
#include "store/store.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop {

inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
// What POST /v1/import takes: a dictionary file as its body.
inline constexpr std::size_t kMaxImportBytes = 64 * 1024 * 1024;
inline constexpr std::string_view kImportPath = "/v1/import";
inline constexpr std::string_view kExportPath = "/v1/export";

// The most a request's body may hold: kMaxImportBytes for an import, else
// kMaxBodyBytes.
std::size_t max_body_bytes(std::string_view method, std::string_view path);

// Whether a request may take long enough (a model's answer, an import) that
// the server runs it apart from the threads that serve everything else.
bool runs_long(std::string_view method, std::string_view path);
using protocol::kProtocolVersion;

// Everything a route needs; it lives as long as the server.
struct ServiceContext {
  TermStore& store;
  std::string token;    // the expected value of protocol::kTokenHeader
  std::string version;  // the program's version, reported by health
  ExplainModel model;   // empty: no model configured
  JsonValue model_status = JsonValue{{"configured", false}};  // what health says of the model
};

// Answers one request. A token that is missing or wrong gives 401 before
// anything else is looked at; then a body over max_body_bytes gives 413, an
// unknown path 404, a known path with another method 405, and a POST body
// that is not a JSON object 400. Every reply is a JSON object with "ok".
Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const std::optional<std::string>& token, std::string_view body);

// The query string's parameters, by name (the last one of a name given
// twice).
using QueryParameters = std::map<std::string, std::string, std::less<>>;

// The same, for a request with a query string: GET /v1/terms reads "q",
// "limit" and "offset", POST /v1/import "format"; every other route ignores
// it. GET /v1/export answers with a StreamedBody.
Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const QueryParameters& query, const std::optional<std::string>& token, std::string_view body);

// The reply for a request the HTTP layer refused on its own (an oversize or
// malformed request, say), with the status it chose: 401 when the token is
// wrong, else that status with a JSON body.
// `body_limit` is the limit a 413 names.
Reply refusal_reply(const ServiceContext& ctx, int status, const std::optional<std::string>& token,
                    std::size_t body_limit = kMaxBodyBytes);

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
// {"ok": true, "total": N, "totalExact": bool, "terms": [{"id", "term",
// "lang", "fields", "aliases", "source", "updatedAt"}]}: a page of a search,
// or of every entry by the most recent update when "q" is blank. A search
// matching more than kSearchCountedAtMost entries says "totalExact" false,
// N being that bound.
Reply handle_terms(ServiceContext& ctx, const QueryParameters& query);
// POST /v1/import?format=jsonl|csv|tsv (JSON Lines when not given): the body
// is a dictionary file, stored all or nothing on a connection of its own, so
// lookups go on meanwhile. {"ok": true, "imported", "added", "updated",
// "kept"}; a malformed line gives 400 "bad_import" with its number.
Reply handle_import(ServiceContext& ctx, const QueryParameters& query, std::string_view body);
// GET /v1/export: every entry as JSON Lines, streamed from a snapshot.
Reply handle_export(ServiceContext& ctx);

}  // namespace ruvo::desktop
