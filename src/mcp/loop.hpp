// The JSON-RPC side of `ruvo mcp`: one reply line for each request line.
// The loop takes its input, output and tool execution as parameters, so tests
// and fuzz targets drive it without processes or a service.
#pragma once

#include "common/json.hpp"
#include "protocol/version.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::mcp {

using common::JsonValue;

inline constexpr std::string_view kMcpProtocolVersion = "2024-11-05";
inline constexpr std::string_view kServerName = "ruvo";
inline constexpr std::string_view kServerVersion = protocol::kVersion;
inline constexpr int kMethodNotFound = -32601;

// The next raw line (its line feed included, when it has one), or nothing
// when the input has ended or could not be read.
using LineSource = std::function<std::optional<std::string>()>;
// Delivers one reply line (no line feed in it) and flushes it at once;
// failures are the sink's own business.
using ReplySink = std::function<void(std::string_view line)>;
// Runs one tool: name (possibly empty) and arguments of any JSON type; gives
// the tool result object. May block for a long time.
using ToolCaller = std::function<JsonValue(std::string_view name, const JsonValue& arguments)>;

// The reply to a message that carries `id` and `method` (absent method: the
// empty text). "tools/call" goes through `call_tool` with "/params/name" (a
// string, else "") and "/params/arguments" (copied whole, else {}).
JsonValue reply_to(const JsonValue& id, std::string_view method, const JsonValue& message,
                   const ToolCaller& call_tool);

// Handles one raw line: drops one trailing LF and one CR before it, trims
// Unicode white space, parses exactly one JSON value under the nesting limit.
// Gives the compact reply text (without line feed), or nothing for a blank
// line, a line that is not exactly one JSON value (bytes that are not UTF-8
// included), a value that is not an object, and an object without "id" (a
// notification: call_tool is not run). Throws only what call_tool throws.
std::optional<std::string> answer_line(std::string_view line, const ToolCaller& call_tool);

// Reads lines until `next_line` gives nothing or a line is not valid UTF-8,
// and hands each reply to `write` in request order; a line is read only
// after the previous one is fully answered.
void serve(const LineSource& next_line, const ReplySink& write, const ToolCaller& call_tool);

}  // namespace ruvo::mcp
