// The language model behind explain: one chat-completions call for a text
// the store cannot answer, read into a ModelAnswer or an error that says why
// there is none. What the answer becomes in a reply is the answers layer's
// business.
#pragma once

#include "common/result.hpp"
#include "model/model_answer.hpp"
#include "model/model_config.hpp"
#include "model/model_http.hpp"

#include <string_view>

namespace ruvo::desktop::model {

inline constexpr std::string_view kChatCompletionsPath = "/chat/completions";

// Reads what the endpoint sent. Success (status 2xx with a usable
// explanation): the answer, its model the name the endpoint reported, else
// the configured one. Failure: an error of the kind kModelTimeout (reason
// "timeout") or kModel (reason "unreachable", "auth", "status" or
// "unusable") whose message names the cause in Chinese. No error ever holds
// the API key: texts quoted from the endpoint have it masked, and a refused
// key's reply quotes nothing.
common::Result<ModelAnswer> read_answer(const ModelConfig& config, const EndpointReply& reply);

// Asks the configured endpoint: post_json to base_url + kChatCompletionsPath
// with chat_request's body, then read_answer. Each call is logged by
// outcome, time taken and tokens, never by key or text.
common::Result<ModelAnswer> ask(const ModelConfig& config, const ModelRequest& request, const LogSink& log);

}  // namespace ruvo::desktop::model
