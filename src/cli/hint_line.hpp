// The one line that a person at a terminal sees on standard error after a
// lookup or explain: what the reply holds that ruvo does not print, the
// service's suggestions on a miss or the other entries on a hit. Scripts,
// pipes and files never get it, nor does --json, which shows everything.
#pragma once

#include "common/json.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::cli {

// Whether the command adds the line: only when standard error is a terminal
// (a Windows console).
enum class Hints { kNone, kShown };

inline constexpr std::size_t kHintMaxNames = 5;

// "是不是要找：A、B" and a line feed for the reply's "suggestions" (the strings
// that are not blank, at most kHintMaxNames); "" when there are none.
std::string suggestions_hint(const common::JsonValue& reply);

// "另有 N 条解释：A、B（--json 可看全部）" and a line feed when the reply's
// "entries" holds more than the first, the one printed: N counts the others,
// named by their "dictionary" member's "name", else by their "origin" (the
// person's own, the glossary, a model), each name once, at most
// kHintMaxNames and then "等". When the reply says "entriesTruncated" the
// service has more than it sent: "另有不止 N 条解释：…（--json 可看其中 N 条）".
// "" when there is only one entry or none.
std::string entries_hint(const common::JsonValue& reply);

// After `ruvo lookup` rendered `reply`: suggestions on a miss, the other
// entries on a hit, "" after a failure.
std::string lookup_hint(const common::JsonValue& reply);

// After `ruvo explain` rendered `reply`: suggestions when it is a miss
// ("ok" false, "kind" "miss"), the other entries when "ok" is true.
std::string explain_hint(const common::JsonValue& reply);

}  // namespace ruvo::cli
