// Every path the service answers, in one table: the contract's four routes,
// the service's own API, the browser's sign-in and the pages; each with its
// methods, its body, its bound, the threads it runs on and its handler.
// Free of any HTTP library: the server hands each request here and writes
// back the Reply.
#pragma once

#include "answers/context.hpp"
#include "answers/import_export.hpp"
#include "common/json.hpp"
#include "http/replies.hpp"
#include "http/sessions.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop::http {

using answers::QueryParameters;

// The most a request's body may hold, and what POST /v1/import takes: a
// dictionary file.
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
inline constexpr std::size_t kMaxImportBytes = answers::kMaxImportBytes;

// Everything a handler needs; it lives as long as the server.
struct HandlerContext {
  answers::Context& answers;
  std::string token;  // the expected value of protocol::kTokenHeader
  // Where the body of an import is written as it arrives (a file in the
  // data folder, one import at a time); empty: it is held in memory.
  std::string import_file = {};
};

// The browser's side of the server: its sign-in secrets and sessions, and
// the port its pages are served on.
struct BrowserSide {
  Sessions& sessions;
  int port = 0;
};

// One request as its handler sees it.
struct Call {
  HandlerContext& ctx;
  std::string_view method;
  std::string_view path;
  const QueryParameters& query;
  std::string_view body;       // as sent
  std::string_view body_file;  // the file the body was written to as it arrived; empty: `body` holds it
  const JsonValue& json;       // the body parsed, for a route that takes a JSON object; else an empty object
  const BrowserSide* browser;  // set for the routes answered from the head
};

// The most a request's body may hold: its route's bound when the route takes
// the method (kMaxImportBytes for POST /v1/import), else kMaxBodyBytes.
std::size_t body_limit(std::string_view method, std::string_view path);

// The threads a request is answered on.
enum class Pool {
  kEvent,     // at once, on the thread that carries its connection: it never waits
  kWorkers,   // may take long (a model's answer, an import)
  kWrites,    // changes the store, and may wait for its writer
  kSearches,  // a search: on threads of its own, so searches cannot take the others'
};

// Where a request runs: its route's pool when the route takes the method
// (a route of writes only for the methods that change something), else
// kEvent.
Pool pool_for(std::string_view method, std::string_view path);

// True when the route takes the method and wants its body written to a file
// as it arrives rather than held (POST /v1/import).
bool body_goes_to_file(std::string_view method, std::string_view path);

// The routes answered from the head alone, before any body is read: the
// sign-in address (GET /sign-in, no token), the sign-in links ruvo-gui.exe
// asks for (POST /v1/sign-in-link, the header token only, else 401 JSON) and
// the pages (GET or HEAD, the token or a signed-in browser's session, else
// the signed-out page with 401). Nothing for every other path. The access
// check comes first, then the method (405 with the route's text).
std::optional<Reply> answer_from_head(HandlerContext& ctx, const BrowserSide& browser, std::string_view method,
                                      std::string_view path, const QueryParameters& query, bool token_valid,
                                      bool signed_in);

// Answers one request with its body. A token that is missing or wrong gives
// 401 before anything else is looked at; then a body over body_limit gives
// 413, a path no route answers here 404 (those answered from the head
// included), a known path with another method 405, and a body that is not a
// JSON object 400 for a route that takes one. GET /v1/terms reads "q",
// "limit" and "offset" of the query, POST /v1/import "format"; every other
// route ignores it. GET /v1/export answers with a StreamedBody. Anything a
// handler throws is a 500 "internal", never the end of the service.
Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path, const QueryParameters& query,
                     const std::optional<std::string>& token, std::string_view body);

// The same for a body written to `body_file` as it arrived (an import's,
// body_goes_to_file), `body` then empty and `body_size` what was written.
Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path, const QueryParameters& query,
                     const std::optional<std::string>& token, std::string_view body_file, std::size_t body_size);

// The same without a query string.
Reply handle_request(HandlerContext& ctx, std::string_view method, std::string_view path,
                     const std::optional<std::string>& token, std::string_view body);

}  // namespace ruvo::desktop::http
