// Carrying out "tools/call": one tool, one request to the local service, one
// tool result.
#pragma once

#include "client/client.hpp"
#include "common/json.hpp"
#include "protocol/requests.hpp"

#include <string>
#include <string_view>

namespace ruvo::mcp {

using common::JsonValue;

inline constexpr std::string_view kServiceUnavailable = "Ruvo service is not available";
inline constexpr std::string_view kUnknownToolPrefix = "unknown tool: ";

// {"content":[{"text": text,"type":"text"}],"isError": is_error}.
JsonValue tool_result(std::string_view text, bool is_error);

// The arguments of the tools, read from `arguments` of any JSON type. They
// are looked up only when `arguments` is an object, and an argument of the
// wrong type counts as absent: "text" a trimmed string or "", "lang" a
// string or "zh", "mode" a string or "auto", "allow_cloud" a boolean or
// true, "term" a string or "" (not trimmed), "fields" any value copied whole
// (null kept) or {}. Nothing the catalogue announces (required, enum,
// length) is enforced.
std::string lookup_text(const JsonValue& arguments);
protocol::ExplainQuery explain_query(const JsonValue& arguments);
protocol::SaveEntry save_entry(const JsonValue& arguments);

// The tool result for what the service sent: an error text as it is, with
// isError; a value as pretty JSON, with isError unless it is an object whose
// "ok" is the boolean true.
JsonValue reply_result(const common::Result<JsonValue>& reply);

// Runs the tool through the client. Makes sure a service answers before the
// name is looked at, so while none can be reached every name (an unknown or
// empty one included) gets "Ruvo service is not available". Then "unknown
// tool: <name>", or exactly one request and its reply_result. Blocks for as
// long as the client does (the service may be started first). Never throws
// for any input, never prints.
JsonValue call_tool(std::string_view name, const JsonValue& arguments, client::Client& client);

}  // namespace ruvo::mcp
