// A stored entry as the replies show it.
#pragma once

#include "common/json.hpp"
#include "store/store.hpp"

namespace ruvo::desktop::answers {

using common::JsonValue;

// Adds the entry to a reply object: "id", "term", "lang", "categoryId", each
// of "definition", "plain" and "example" that is stored, and "fields" with
// every stored field (others included), "origin": who wrote the entry
// ("user", "glossary" or "model"), and "aliases".
void put_entry(JsonValue& reply, const store::TermEntry& entry);

// The entry as a list of terms shows it: {"id", "term", "lang", "fields",
// "aliases", "source", "updatedAt"}.
JsonValue term_json(const store::TermEntry& entry);

}  // namespace ruvo::desktop::answers
