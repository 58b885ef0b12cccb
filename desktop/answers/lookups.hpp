// Looking a term up in the store alone, and what a miss leaves behind: the
// suggestions in the reply and the count among the misses.
#pragma once

#include "answers/context.hpp"

#include <string_view>

namespace ruvo::desktop::answers {

// POST /v1/lookup: the body's "text" (a string) looked up in any language,
// a Chinese entry first. {"ok": true, "hit": true, and the entry
// (put_entry)}, or {"ok": true, "hit": false, "suggestions"} for a miss (an
// empty list for a blank text, which is not counted). Errors: kBadInput for
// a "text" that is not a string, the store's failure otherwise.
Result<JsonValue> lookup(Context& ctx, const JsonValue& body);

// What a reply that missed adds: "suggestions", the stored terms the text
// may have meant (an empty array when none is near, or when the store cannot
// say). A text that could be a term (one line, not too long) is also counted
// among the misses; a store that cannot count it leaves the answer as it is.
void answer_miss(store::TermStore& store, JsonValue& reply, std::string_view text);

// GET /v1/misses: {"ok": true, "misses": [{"text", "count", "lastAt"}]},
// what was looked up in vain, most frequent first.
Result<JsonValue> misses(Context& ctx);

}  // namespace ruvo::desktop::answers
