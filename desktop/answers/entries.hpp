// The entries themselves: saving one, a page of a search, reading and
// deleting one by its id.
#pragma once

#include "answers/context.hpp"

#include <string_view>

namespace ruvo::desktop::answers {

// The most entries one page of a search lists.
inline constexpr int kMaxPage = 200;

// POST /v1/save: "term" (a string, checked_term), and optionally "lang"
// (checked_lang, default "zh"), "categoryId" (a non-blank string, default
// "term"), "fields" (normalize_fields) and "aliases" (normalize_aliases).
// {"ok": true and the entry as stored (put_entry)}. Errors: kBadInput with
// the Chinese reason; damaged_store_refusal for a damaged store; kBusy
// (store::kStoreBusyMessage) when the writer stays taken; the store's
// failure otherwise. DELETE likewise.
Result<JsonValue> save(Context& ctx, const JsonValue& body);

// GET /v1/terms?q=&limit=&offset=: {"ok": true, "total": N, "totalExact":
// bool, "terms": [listed_term_json…]}, a page of a search, or of every entry by the
// most recent update when "q" is blank; "limit" 1 to kMaxPage (default 20),
// "offset" from 0 (default 0). A search matching more than
// kSearchCountedAtMost entries says "totalExact" false, N being that bound.
// A search that ran out of its time budget adds "partial": true (and
// "totalExact" false): the terms are those it had found, N what it had
// counted. A search that finds nothing adds "suggestions", without counting
// a miss.
Result<JsonValue> search(Context& ctx, const QueryParameters& query);

// GET /v1/terms/<id>: {"ok": true, "term": term_json}. An id that is no
// whole number or names no entry is kNotFound ("没有这个词条：<id>").
Result<JsonValue> entry(Context& ctx, std::string_view id_text);

// DELETE /v1/terms/<id>: {"ok": true, "id"}; kNotFound as for entry().
Result<JsonValue> remove_entry(Context& ctx, std::string_view id_text);

}  // namespace ruvo::desktop::answers
