// A stored entry as the replies show it.
#pragma once

#include "common/json.hpp"
#include "store/store.hpp"

#include <cstddef>

namespace ruvo::desktop::answers {

using common::JsonValue;

// Adds the entry to a reply object: "id", "term", "lang", "categoryId", each
// of "definition", "plain" and "example" that is stored, and "fields" with
// every stored field (others included), "origin": who wrote the entry
// ("user", "glossary" or "model"), and "aliases".
void put_entry(JsonValue& reply, const store::TermEntry& entry);

// The entry as GET /v1/terms/<id> shows it: {"id", "term", "lang",
// "fields", "aliases", "source", "updatedAt"}.
JsonValue term_json(const store::TermEntry& entry);

// The most characters of a field a list of terms shows.
inline constexpr std::size_t kListedFieldChars = 400;

// The entry as a list of terms (a search) shows it: term_json with each
// field longer than kListedFieldChars characters cut there and ended with
// "…", so that a page of long entries stays small; the whole entry is one
// GET /v1/terms/<id> away.
JsonValue listed_term_json(const store::TermEntry& entry);

}  // namespace ruvo::desktop::answers
