// Which language model the service asks: an OpenAI-compatible
// chat-completions endpoint (llama.cpp's server, Ollama, vLLM and the hosted
// APIs all speak it), read at start from model.json in the application-data
// folder, with environment variables overriding it.
#pragma once

#include "common/json.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::model {

using common::JsonValue;

// Where the model's set-up and its calls are logged: one line each, never a
// key or a person's text.
using LogSink = std::function<void(std::string_view line)>;

inline constexpr std::string_view kModelFileName = "model.json";
inline constexpr std::string_view kModelBaseUrlVariable = "RUVO_MODEL_BASE_URL";
inline constexpr std::string_view kModelNameVariable = "RUVO_MODEL";
inline constexpr std::string_view kModelApiKeyVariable = "RUVO_MODEL_API_KEY";
// For tests and tuning: the whole-answer bound in seconds (a decimal number
// above 0 and at most the default).
inline constexpr std::string_view kModelTimeoutVariable = "RUVO_MODEL_TIMEOUT_S";

// ruvo waits 95 s for an explain reply, so a model call is over well before:
// 10 s to connect, 80 s for the whole call, connecting included.
inline constexpr std::chrono::milliseconds kDefaultConnectBound{10'000};
inline constexpr std::chrono::milliseconds kDefaultAnswerBound{80'000};

struct ModelBounds {
  std::chrono::milliseconds connect = kDefaultConnectBound;  // at most `answer`
  std::chrono::milliseconds answer = kDefaultAnswerBound;
};

struct ModelConfig {
  std::string base_url;  // "http[s]://host[:port][/path]", no trailing slash
  std::string model;     // the name sent as "model"
  std::string api_key;   // empty: no Authorization header
  bool json_mode = true; // ask for response_format {"type":"json_object"}
  ModelBounds bounds;
};

// What start-up made of the configuration.
struct ModelSetup {
  std::optional<ModelConfig> config;  // set when a model is configured and usable
  std::vector<std::string> problems;  // Chinese, one line each; never the key
};

// A base URL taken apart for the HTTP client.
struct BaseUrl {
  std::string scheme_host_port;  // "https://api.example.com:8443"
  std::string path;              // "" or "/v1", no trailing slash
};

// Reads a base URL: "http://" or "https://" (any case), a host name, an IPv4
// address or a bracketed IPv6 address, an optional port 1 to 65535, and an
// optional path, trailing slashes dropped. A URL with user information, a
// query, a fragment, white space or a character outside printable ASCII is
// refused, so nothing secret can hide in it and it is safe to show.
std::optional<BaseUrl> split_base_url(std::string_view url);

// Looks up an environment variable; nothing when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;

// Builds the configuration from the text of model.json (nothing when there
// is no such file) and the environment. model.json is an object with
// "baseUrl", "model", "apiKey" (strings) and "jsonMode" (a boolean); other
// members are ignored. RUVO_MODEL_BASE_URL, RUVO_MODEL and
// RUVO_MODEL_API_KEY override the file member by member; a variable that is
// blank counts as unset. A model is configured when both a base URL and a
// model name are known and valid; every fault found is listed in `problems`
// (a fault of the file spoils only that member).
ModelSetup read_model_setup(const std::optional<std::string>& file_text, const EnvLookup& env);

// read_model_setup with `folder`/model.json and the process environment.
// A model.json that is not the running user's own, or that group or others
// may write, is not used (the environment still is), and the first problem
// says so; one that others may only read is made owner-only first, as it may
// hold a key. What was found is logged, never the key.
ModelSetup load_model_setup(const std::string& folder, const LogSink& log);

// What health reports under "model": {"configured": true, "name", "baseUrl",
// "apiKey" (whether one is set)} or {"configured": false} with a "problem"
// when the configuration has a fault. Never the key.
JsonValue model_status(const ModelSetup& setup);

}  // namespace ruvo::desktop::model
