// `ruvo lookup <词> [--json]`: asks the local term store only, never a model.
#pragma once

#include "cli/hint_line.hpp"
#include "cli/outcome.hpp"
#include "cli/render.hpp"
#include "client/client.hpp"
#include "common/json.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::cli {

inline constexpr std::string_view kLookupUsage = "用法：ruvo lookup <词>";
inline constexpr std::string_view kLookupFailed = "查询失败";

struct LookupOptions {
  std::optional<std::string> term;  // unchanged: not trimmed, possibly empty
  bool json = false;
};

// The term is the first word that does not begin with "--" (so "-" and the
// empty word qualify); later words are ignored. "--json" anywhere, before or
// after the term, sets the JSON switch; every other "--" word is ignored.
// No term is found when every word begins with "--".
LookupOptions parse_lookup_words(const Words& words);

// A hit (the reply's "hit" is the boolean true): the name line (the reply's
// string "term", else `query` as typed) and the shown fields one per line.
// A reply whose "ok" is the boolean false is a failure (a damaged store, a
// stale token): its "message" when that is a string that is not blank, else
// "查询失败". Anything else is a miss: "词库里没有「query」" and a line feed.
Rendered render_lookup_reply(const common::JsonValue& reply, std::string_view query);

// `ruvo lookup`: the usage line without a term (no service contacted), the
// service-down message, the exchange's error, or the rendered reply (the
// pretty reply with --json). With Hints::kShown and without --json, the
// rendered reply's hint line (lookup_hint) is the Outcome's note.
Outcome run_lookup(const Words& words, client::Client& client, Hints hints = Hints::kNone);

}  // namespace ruvo::cli
