// `ruvo explain <文字|-> [--mode m] [--lang l] [--no-cloud] [--json]`: has the
// local service explain a word, sentence or passage.
#pragma once

#include "cli/render.hpp"
#include "common/json.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::cli {

inline constexpr std::string_view kExplainUsage =
    "用法：ruvo explain <文字|-> [--mode auto|term|passage] [--lang zh|en] [--no-cloud] [--json]";
inline constexpr std::string_view kExplainFailed = "解释失败";

struct ExplainOptions {
  std::optional<std::string> text;  // "-" means standard input
  std::string mode = "auto";
  std::string lang = "zh";
  bool json = false;
  bool no_cloud = false;
};

// Reads the words left to right: "-" makes the text "-", replacing any
// earlier text; "--mode" and "--lang" take the next word whatever it is (and
// change nothing as the last word); "--json" and "--no-cloud" set their
// switches; any other word becomes the text when none is taken yet and is
// ignored otherwise. Mode and lang are not checked against known values.
ExplainOptions parse_explain_words(const std::vector<std::string>& words);

// The body of POST /v1/explain: "allowCloud" (false only with --no-cloud),
// "context" (always ""), "lang", "mode" and the prepared "text".
common::JsonValue explain_request_body(const ExplainOptions& options,
                                       const std::string& prepared_text);

// Without "ok" true: a failure with the reply's string "message", else
// "解释失败". Otherwise the header "term（source）" (each part empty when not a
// string) and the shown fields, each after an empty line.
Rendered render_explain_reply(const common::JsonValue& reply);

}  // namespace ruvo::cli
