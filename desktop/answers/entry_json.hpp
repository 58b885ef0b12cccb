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
// ("user", "glossary", "model" or "dictionary"), and "aliases".
void put_entry(JsonValue& reply, const store::TermEntry& entry);

// The entry as a list of terms shows it: {"id", "term", "lang", "fields",
// "aliases", "source", "updatedAt"}, and for a dictionary's entry its
// "dictionary" ({"id", "name"}) and "seeAlso". In a `listing` (a page of a
// search) a field longer than kListedFieldChars characters is cut there and
// ends in "…", so that a page of long entries stays small; the whole entry is
// one GET /v1/terms/<id> away (the interface reads it so before an edit).
inline constexpr std::size_t kListedFieldChars = 400;
JsonValue term_json(const store::TermEntry& entry, bool listing = false);

// {"id", "name"} of a dictionary entry's dictionary.
JsonValue dictionary_ref(const store::TermEntry& entry);

// One of a hit's "entries": {"id", "term", "lang", "fields", "aliases",
// "origin", "seeAlso"}, "phonetic" when it has one, and "dictionary" for a
// dictionary's entry.
JsonValue entry_item(const store::TermEntry& entry);

}  // namespace ruvo::desktop::answers
