// What a route answers: an HTTP status and a JSON object.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "store/store.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::desktop {

// The store's names, as the layers above it used them before it had a
// namespace of its own.
using namespace store;

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

// Adds the entry to a reply object: "id", "term", "lang", "categoryId", each
// of "definition", "plain" and "example" that is stored, and "fields" with
// every stored field (others included), and "origin": who wrote the entry
// ("user", "glossary" or "model").
void put_entry(JsonValue& reply, const TermEntry& entry);

// What a reply that missed adds: "suggestions", the stored terms the text
// may have meant (an empty array when none is near). A text that could be a
// term (one line, not too long) is also counted among the misses; a store
// that cannot say or count leaves the reply as it is otherwise.
void put_miss(TermStore& store, JsonValue& reply, std::string_view text);

// The reply for a store failure: status 500, "kind" "store".
Reply store_failure(const common::Error& error);

// The reply for a save refused because SQLite has said the store is damaged
// (TermStore::damaged): status 503, "kind" "store", "reason"
// "store_damaged", and a Chinese "message" saying nothing was written.
Reply store_damaged_refusal();

// What health says of a damaged store: {"ok": false, "message": a Chinese
// text with SQLite's `detail`}.
JsonValue damaged_store_status(std::string_view detail);

}  // namespace ruvo::desktop
