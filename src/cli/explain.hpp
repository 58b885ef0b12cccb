// `ruvo explain <文字|-> [--mode m] [--lang l] [--no-cloud] [--json]`: has the
// local service explain a word, sentence or passage.
#pragma once

#include "cli/hint_line.hpp"
#include "cli/outcome.hpp"
#include "cli/render.hpp"
#include "cli/wait_line.hpp"
#include "client/client.hpp"
#include "common/json.hpp"
#include "platform/platform.hpp"
#include "protocol/requests.hpp"

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
ExplainOptions parse_explain_words(const Words& words);

// What is asked of the service: the prepared text, mode and lang as given,
// the model allowed unless --no-cloud.
protocol::ExplainQuery explain_query(const ExplainOptions& options, std::string prepared_text);

// Without "ok" true: a failure with the reply's string "message", else
// "解释失败". Otherwise the header "term（source）" (each part empty when not a
// string) and the shown fields, each after an empty line.
Rendered render_explain_reply(const common::JsonValue& reply);

// `ruvo explain`: "-" reads `input` to its end. Without text (or with text
// that is blank or not UTF-8) the usage line, before any service is
// contacted; then the service-down message, the exchange's error, the
// reply's failure, or the rendered reply (the pretty reply with --json).
// With somewhere to show it, a wait for the service or its reply that lasts
// is shown there (wait_line.hpp) and erased before the command returns; the
// Outcome is the same either way. With Hints::kShown and without --json, the
// reply's hint line (explain_hint) is the Outcome's note, after a failure
// (a miss) as after an explanation.
Outcome run_explain(const Words& words, client::Client& client, const platform::ReadFunction& input,
                    const WaitDisplay& display = {}, Hints hints = Hints::kNone);

}  // namespace ruvo::cli
