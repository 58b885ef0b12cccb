// JsonValue: the JSON tree every part of ruvo passes around, and its two
// written forms.
#pragma once

#include "common/result.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace ruvo::common {

// nlohmann::json keeps object members in a std::map<std::string, ...>, whose
// ordering compares bytes as unsigned chars: members iterate and are written
// in ascending byte order of their keys.
using JsonValue = nlohmann::json;

// Parsing rejects documents whose arrays and objects nest this deep.
inline constexpr int kJsonNestingLimit = 128;

// Parses exactly one JSON value; white space may surround it, anything else
// after it is an error. Nesting of kJsonNestingLimit levels or more is an
// error, reported like every other as "parse error at line L, column C: ...".
// Never throws.
Result<JsonValue> parse_json(std::string_view text);

// Compact form: no white space between tokens, non-ASCII as plain UTF-8.
// Never throws: invalid UTF-8 in a string (which callers keep out) is written
// as U+FFFD rather than failing.
std::string to_compact(const JsonValue& value);

// Pretty form: two spaces per level, "key": value, empty containers as their
// two brackets, no line break after the last bracket. Never throws.
std::string to_pretty(const JsonValue& value);

}  // namespace ruvo::common
