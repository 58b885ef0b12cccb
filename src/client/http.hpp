// One HTTP/1.1 exchange with the local service. Hand-written on purpose: the
// exact request bytes, reading to the end of the stream, the size cap and
// the error texts are what scripts and agents see.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "protocol/routes.hpp"
#include "protocol/service_info.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ruvo::client {

using common::JsonValue;
using protocol::ServiceInfo;

// What one exchange gives: the reply's JSON value (or the bad-token object in
// place of a 401 reply), or a one-line error text.
using ServiceReply = common::Result<JsonValue>;

inline constexpr std::size_t kMaxReplyBytes = 1048576;
inline constexpr std::size_t kReadChunkBytes = 8192;
inline constexpr int kConnectTimeoutMs = 3000;
inline constexpr int kWriteTimeoutMs = 10000;

// The message that stands in for any 401 reply.
inline constexpr std::string_view kBadTokenMessage = "token 不对（Ruvo 可能刚重启），重试一次";

// The exact request bytes: request line, Host, X-Ruvo-Token, Content-Type,
// Content-Length, Connection: close, the empty line, then the compact body.
std::string build_request(const ServiceInfo& info, std::string_view method,
                          std::string_view path, const JsonValue* body);

// Interprets everything the service sent (already capped): the head/body
// split, the status word, the JSON body and the 401 substitution.
ServiceReply parse_reply(std::string_view bytes);

// Connects to 127.0.0.1:info.port, sends the route's request, reads to the
// end of the stream and parses the reply. The route's read time-out bounds
// each read and also the whole reply, from the end of the request to the end
// of the stream; either way it runs out, the error is "read: " and the
// system's time-out text. Never prints; every failure is an error text.
// `still_waiting`, when given, is called about every kWaitTickMs (wait.hpp)
// while the reply is awaited; the time-outs and every outcome stay the same.
ServiceReply service_request(const ServiceInfo& info, const protocol::Route& route,
                             const JsonValue* body, const std::function<void()>& still_waiting = {});

}  // namespace ruvo::client
