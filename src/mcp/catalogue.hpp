// The tools `ruvo mcp` offers an agent: names, descriptions and argument
// schemas.
#pragma once

#include "common/json.hpp"

#include <string_view>

namespace ruvo::mcp {

using common::JsonValue;

inline constexpr std::string_view kExplainTool = "ruvo_explain";
inline constexpr std::string_view kLookupTool = "ruvo_lookup";
inline constexpr std::string_view kSaveTool = "ruvo_save";
inline constexpr std::string_view kStatusTool = "ruvo_status";

// The array of the four tool records, each with exactly "name",
// "description" and "inputSchema". A constant: it reads no file and contacts
// no service, so every "tools/list" answer is the same bytes. The "required"
// and "enum" lists it announces are promises to the agent that tool
// execution does not enforce.
JsonValue tool_catalogue();

}  // namespace ruvo::mcp
