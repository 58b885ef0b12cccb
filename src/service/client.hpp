// One HTTP/1.1 exchange with the local service.
#pragma once

#include "common/json.hpp"
#include "service/discovery.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::service {

using common::JsonValue;

// The outcome of one service_request: the reply's JSON value, or a one-line
// error text.
struct ServiceReply {
  std::optional<JsonValue> value;
  std::string error;

  bool ok() const { return value.has_value(); }
  static ServiceReply from_value(JsonValue v) { return {std::move(v), {}}; }
  static ServiceReply from_error(std::string text) { return {std::nullopt, std::move(text)}; }
};

inline constexpr std::size_t kMaxReplyBytes = 1048576;
inline constexpr std::size_t kReadChunkBytes = 8192;
inline constexpr int kConnectTimeoutMs = 3000;
inline constexpr int kWriteTimeoutMs = 10000;

// Read time-outs in seconds, one per operation.
inline constexpr int kHealthTimeoutS = 3;
inline constexpr int kLookupTimeoutS = 10;
inline constexpr int kSaveTimeoutS = 15;
inline constexpr int kExplainTimeoutS = 95;

// The message that stands in for any 401 reply.
inline constexpr std::string_view kBadTokenMessage = "token 不对（Ruvo 可能刚重启），重试一次";

// The exact request bytes: request line, Host, X-Ruvo-Token, Content-Type,
// Content-Length, Connection: close, the empty line, then the compact body.
std::string build_request(const ServiceInfo& info, std::string_view method,
                          std::string_view path, const JsonValue* body);

// Interprets everything the service sent (already capped): the head/body
// split, the status word, the JSON body and the 401 substitution.
ServiceReply parse_reply(std::string_view bytes);

// Connects to 127.0.0.1:info.port, sends the request, reads to the end of the
// stream and parses the reply. Never prints; every failure is an error text.
ServiceReply service_request(const ServiceInfo& info, std::string_view method,
                             std::string_view path, const JsonValue* body,
                             int read_timeout_s);

}  // namespace ruvo::service
