// What the service sends back: an HTTP status and a JSON object (or, for a
// browser, a page), and how an error of the answers becomes one.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::desktop::http {

using common::JsonValue;
using common::Result;

// A reply body made piece by piece as the client reads it, for what is too
// big to build whole (an export of a million entries).
struct StreamedBody {
  std::string content_type;
  std::string file_name;  // offered to a browser saving it; empty: none
  // The next piece; an empty one at the end. An error cuts the reply off,
  // so the client sees it incomplete rather than taking it for whole.
  std::function<Result<std::string>()> next;
};

struct Reply {
  int status = 200;
  JsonValue body = JsonValue::object();
  std::shared_ptr<StreamedBody> stream;  // when set, sent in place of `body`
  // A reply that is not JSON (a page, a script, a redirect): when set, these
  // bytes go out with `content_type` instead of the body.
  std::optional<std::string> raw;
  std::string content_type;
  // Headers beyond Content-Type and Connection (Location, Set-Cookie).
  std::vector<std::pair<std::string, std::string>> headers;
};

// {"ok": false, "kind": kind, "message": message} with the status.
Reply error_reply(int status, std::string_view kind, std::string_view message);

// The reply to an error of the answers, its message error.text(), its
// status and "kind" by the error's kind:
//   kBadInput      400 "bad_request"
//   kNotFound      404 "not_found"
//   kTooLarge      413 "too_large"
//   kBadImport     400 "bad_import"
//   kStoreFailure  500 "store"
//   kStoreDamaged  503 "store", "reason" "store_damaged"
//   kBusy          503 "busy"
//   kModel         502 "model", "reason" the error's reason
//   kModelTimeout  504 "model", "reason" the error's reason
//   anything else  500 "internal"
Reply error_reply(const common::Error& error);

// An answer as a reply: 200 with its body, or error_reply of its error.
Reply reply_for(const Result<JsonValue>& answer);

// 401 "auth": the token header is missing or wrong.
Reply unauthorized();

// 413 "too_large", naming the limit in MiB.
Reply too_large(std::size_t limit);

// The reply for a request the HTTP layer refused on its own (an oversize or
// malformed request, say), with the status it chose: 401 when the request is
// not `authorised` (the token comes first), else that status with a JSON
// body; `body_limit` is the limit a 413 names.
Reply refusal_reply(int status, bool authorised, std::size_t body_limit);

// A page (or any bytes that are not JSON) with its status.
Reply page_reply(int status, std::string_view html);

}  // namespace ruvo::desktop::http
