// The language model behind explain: one chat-completions call per miss,
// turned into the explain reply.
#pragma once

#include "explain.hpp"
#include "http/reply.hpp"
#include "log.hpp"
#include "model/model_config.hpp"
#include "model/model_http.hpp"

#include <string_view>

namespace ruvo::desktop {

inline constexpr std::string_view kChatCompletionsPath = "/chat/completions";

// Turns one exchange with the endpoint into the explain reply.
// Success (status 200): "ok" true, "source" "model", "term" (the requested
// text for a term; for a passage the model's short subject, else the
// passage's first characters), "lang", those of "definition", "plain" and
// "example" the model gave, "fields" with them, "tokens" (the usage the
// endpoint reported, null when it reported none) and "model" (the name the
// endpoint reported, else the configured one).
// Failure: "ok" false, "kind" "model", a "reason" ("unreachable",
// "timeout", "auth", "status" or "unusable") and a Chinese "message" naming
// the cause; status 504 for a time-out, 502 otherwise. No reply ever holds
// the API key: texts quoted from the endpoint have it masked, and a refused
// key's reply quotes nothing.
Reply model_reply(const ModelConfig& config, const ExplainRequest& request, const Exchange& exchange);

// The ExplainModel that asks the configured endpoint (post_json to
// base_url + kChatCompletionsPath with chat_request's body). Each call is
// logged by outcome, time taken and tokens, never by key or text. `log`
// must outlive the model.
ExplainModel make_chat_model(ModelConfig config, Log& log);

}  // namespace ruvo::desktop
