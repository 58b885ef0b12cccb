// Setting the model up while the service runs: what is configured, a change
// written to model.json and in effect at once, and a try of it.
#pragma once

#include "answers/context.hpp"

namespace ruvo::desktop::answers {

// GET /v1/model: {"ok": true, "configured" (a model is in use), "baseUrl",
// "model", "jsonMode" (of the model in use, else what model.json holds),
// "apiKey" (whether a key is set: true or false, never the key), "file" (the
// path of model.json), "problem" (the first fault found, when there is
// one), "overriddenBy" (the environment variables that override the file,
// when any are set)}.
Result<JsonValue> model_settings(Context& ctx);

// PUT /v1/model with {"baseUrl", "model", "apiKey"?, "jsonMode"?}: checked
// as model.json is read (model::read_model_setup; a fault is kBadInput with
// its text), written to model.json atomically and owner-only, and read
// again at once (Models::reload). "apiKey" absent keeps the key model.json
// holds, "" removes it; "jsonMode" absent keeps the file's. Answers as
// model_settings does, with "saved": true, and a "warning" when an
// environment variable overrides what was written.
Result<JsonValue> change_model_settings(Context& ctx, const JsonValue& body);

// POST /v1/model/try: asks the model one small question and answers {"ok":
// true, "ms" (the time taken), "answer" (what it said), "model", "tokens"},
// or the model's error (the kind kModel or kModelTimeout, with its reason).
// The body may name settings to try instead of those in use ({"baseUrl",
// "model", "apiKey"?, "jsonMode"?}, checked as PUT checks them; without
// "apiKey", the key in use goes only to the base URL in use). Without either,
// kBadInput.
Result<JsonValue> try_model(Context& ctx, const JsonValue& body);

}  // namespace ruvo::desktop::answers
