// `ruvo save --term <词> [--fields '<json>'] [--lang zh]`: stores a term with
// its fields and confirms the stored entry's id.
#pragma once

#include "cli/outcome.hpp"
#include "cli/render.hpp"
#include "client/client.hpp"
#include "common/json.hpp"
#include "protocol/requests.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::cli {

inline constexpr std::string_view kSaveUsage =
    "用法：ruvo save --term <词> [--fields '<json>'] [--lang zh]";
inline constexpr std::string_view kSaveFailed = "保存失败";
// Followed by the parser's own message.
inline constexpr std::string_view kFieldsNotJson = "--fields 不是合法的 JSON：";

struct SaveOptions {
  std::string term;                                    // exactly as typed
  common::JsonValue fields = common::JsonValue::object();  // any JSON value
  std::string fields_error;  // the parse error of the last --fields text, when it is not JSON
  std::string lang = "zh";
};

// Reads the words left to right; a repeated option overrides the earlier one.
// "--term" takes the next word whatever it is, and as the last word makes the
// term empty. "--fields" takes the next word as one JSON text: its value when
// it parses, the empty object when it does not; as the last word it changes
// nothing. "--lang" takes the next word; as the last word it changes nothing.
// Every other word is ignored.
SaveOptions parse_save_words(const Words& words);

// What is stored: the term, fields and lang as parsed.
protocol::SaveEntry save_entry(const SaveOptions& options);

// Without "ok" true: a failure with the reply's string "message", else
// "保存失败". Otherwise "已存入 Ruvo：term（id ID）" and a line feed, where ID is
// the reply's "id" when it is a string and nothing otherwise.
Rendered render_save_reply(const common::JsonValue& reply, std::string_view term);

// `ruvo save`: the usage line for a blank term, then "--fields 不是合法的
// JSON：<parse error>" for fields that are not JSON (neither contacts the
// service: the person's fields are never dropped silently); then the
// service-down message, the exchange's error, the reply's failure, or the
// confirmation.
Outcome run_save(const Words& words, client::Client& client);

}  // namespace ruvo::cli
