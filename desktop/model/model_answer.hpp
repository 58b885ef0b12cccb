// What is sent to a chat-completions endpoint, and how its answer is read.
// Models wrap JSON in code fences, add prose, think aloud first, leave out
// members or stop half-way; the readers here take what is usable from all of
// that and say plainly when nothing is.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "model/model_config.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::model {

using common::JsonValue;

inline constexpr double kModelTemperature = 0.2;

// An entry of the reader's own dictionary that the answer is to keep to.
struct GroundingEntry {
  std::string term;  // as stored
  std::string lang;  // the language it is written in
  std::string text;  // what it says (its definition, its plain explanation), already cut to size
};

// What the model is asked to explain.
struct ModelRequest {
  std::string text;         // trimmed, not blank
  std::string lang = "zh";  // the language of the answer: "zh" or "en"
  bool as_term = true;      // a term, else a sentence or a passage
  std::string context;      // what the text was found in; may be empty
  // Stored entries of the terms in the text (or of the term itself, written
  // in another language): the answer uses them as those terms' meaning.
  std::vector<GroundingEntry> entries;
};

// What a model explained.
struct ModelAnswer {
  std::string subject;                     // the "term" the model wrote: for a passage its short subject
  JsonValue fields = JsonValue::object();  // those of "definition", "plain" and "example" that hold text
  JsonValue tokens;                        // the usage the endpoint reported, null when it reported none
  std::string model;                       // the name the endpoint reported, else the configured one
};

// The chat-completions request body: "model", "messages" (a system message
// asking for one JSON object with "term", "definition", "plain" and
// "example" in the requested language, written for a reader who meets the
// term for the first time, or explaining a passage in plain words; with
// entries, telling it to keep to them and never contradict them; then a
// user message with the text, any context and the entries, one a line),
// "temperature", "stream" false, and "response_format"
// {"type":"json_object"} when the configuration's json_mode is on.
JsonValue chat_request(const ModelConfig& config, const ModelRequest& request);

// The parts of a chat-completions reply that matter here.
struct Completion {
  std::string content;   // the first choice's message text ("" when none)
  JsonValue tokens;      // usage.total_tokens, else prompt_tokens + completion_tokens, else null
  std::string model;     // the reply's "model", "" when absent
};

// Reads a chat-completions reply body. The message content may be a string
// or an array of parts with "text". Returns the completion, or an error whose
// message gives the reason in Chinese why the body is not one (not JSON, no
// choices, an error object, whose text is quoted with `secret` masked).
common::Result<Completion> read_completion(std::string_view body, std::string_view secret);

// What a model's answer explains: "term" as the model wrote it (possibly
// empty) and "fields", an object with those of "definition", "plain" and
// "example" that hold text, trimmed.
struct Explanation {
  std::string term;
  JsonValue fields = JsonValue::object();
};

// Reads the explanation in a model's message content: thinking in
// <think>…</think> is dropped; the first JSON object in the text (inside a
// code fence or among prose) that names a field is taken; an object cut off
// before its end still gives its complete string members. Members are found
// by key in any ASCII case or by their Chinese label ("定义"). Usable means a
// definition or a plain explanation; otherwise an error with the reason in
// Chinese: the answer is empty, holds no JSON object, or explains nothing.
common::Result<Explanation> read_explanation(std::string_view content);

// The text with every occurrence of `secret` replaced by "***" (the text
// unchanged when `secret` is empty).
std::string mask_secret(std::string text, std::string_view secret);

// The error text of an endpoint's error reply ({"error":{"message":…}},
// {"error":"…"} or {"message":…}), cut to 200 characters, with `secret`
// replaced by "***" wherever it occurs; "" when there is none.
std::string endpoint_error_text(std::string_view body, std::string_view secret);

}  // namespace ruvo::desktop::model
