// Carrying out "tools/call": one tool, one request to the local service, one
// tool result.
#pragma once

#include "common/json.hpp"
#include "service/client.hpp"
#include "service/discovery.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::mcp {

using common::JsonValue;

inline constexpr std::string_view kServiceUnavailable = "Ruvo service is not available";
inline constexpr std::string_view kUnknownToolPrefix = "unknown tool: ";

// {"content":[{"text": text,"type":"text"}],"isError": is_error}.
JsonValue tool_result(std::string_view text, bool is_error);

// The one request a tool sends, its arguments defaulted and treated.
struct ToolRequest {
  std::string method;
  std::string path;
  std::optional<JsonValue> body;  // nothing for a GET
  int read_timeout_s = 0;
};

// The request of the tool `name` (exact bytes) for `arguments` of any JSON
// type; nothing for a name that is not one of the four tools. Arguments are
// looked up only when `arguments` is an object, and an argument of the wrong
// type counts as absent: "text" a trimmed string or "", "lang" a string or
// "zh", "mode" a string or "auto", "allow_cloud" a boolean or true, "term" a
// string or "" (not trimmed), "fields" any value copied whole (null kept) or
// {}. Nothing the catalogue announces (required, enum, length) is enforced.
std::optional<ToolRequest> tool_request(std::string_view name, const JsonValue& arguments);

// The tool result for what the service sent: an error text as it is, with
// isError; a value as pretty JSON, with isError unless it is an object whose
// "ok" is the boolean true.
JsonValue reply_result(const service::ServiceReply& reply);

// The two service operations a tool call uses, so tests can stand in for them.
struct ServiceAccess {
  std::function<std::optional<service::ServiceInfo>()> ensure;
  std::function<service::ServiceReply(const service::ServiceInfo&, std::string_view method,
                                      std::string_view path, const JsonValue* body,
                                      int read_timeout_s)>
      request;
};

// call_tool over the given service access. Makes sure a service answers
// before the name is looked at, so while none can be reached every name (an
// unknown or empty one included) gets "Ruvo service is not available". Then
// "unknown tool: <name>", or exactly one request and its reply_result. Never
// throws for any input.
JsonValue call_tool_with(std::string_view name, const JsonValue& arguments,
                         const ServiceAccess& access);

// call_tool_with over ensure_service and service_request. Blocks for as long
// as they do (the desktop application may be started first). Never prints.
JsonValue call_tool(std::string_view name, const JsonValue& arguments);

}  // namespace ruvo::mcp
