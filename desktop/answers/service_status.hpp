// What the service says of itself: GET /v1/health.
#pragma once

#include "answers/context.hpp"

#include <string_view>

namespace ruvo::desktop::answers {

// {"ok": true, "version", "protocol" (protocol::kProtocolVersion), "terms"
// (the number stored as the store knows it, TermStore::known_count; null
// when a damaged store could not count) and "model" (the context's
// model_status)}; for a damaged store it adds "store" (damaged_store_status)
// and still says "ok" true, as the service answers. Answered from memory:
// no connection to the store is taken, so it never waits for one.
Result<JsonValue> health(Context& ctx);

// What health says of a damaged store: {"ok": false, "message": a Chinese
// text with SQLite's `detail`}.
JsonValue damaged_store_status(std::string_view detail);

}  // namespace ruvo::desktop::answers
