// The terminal's hint line after a lookup or explain (hint_line.hpp).
#include "cli/hint_line.hpp"

#include "cli/render.hpp"
#include "common/utf8.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace ruvo::cli {
namespace {

constexpr std::string_view kNameSeparator = "、";

// The names of the entries' sources where the reply gives no dictionary.
struct OriginName {
  std::string_view origin;
  std::string_view name;
};
constexpr OriginName kOriginNames[] = {
    {"user", "你的词条"},
    {"glossary", "内置词汇表"},
    {"model", "模型的解释"},
};

// Text from the service, kept on one line: a line feed would end the hint
// early (terminal_safe, which main applies, keeps line feeds).
std::string one_line(std::string_view text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n') {
      line += "\xEF\xBF\xBD";
    } else {
      line += c;
    }
  }
  return line;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kHintMaxNames; ++i) {
    if (i > 0) text += kNameSeparator;
    text += names[i];
  }
  if (names.size() > kHintMaxNames) text += " 等";
  return text;
}

// What an entry's source is called: its dictionary's name, else its origin's.
std::optional<std::string> source_name(const JsonValue& entry) {
  if (const JsonValue* dictionary = find_member(entry, "dictionary")) {
    if (const auto name = shown_field(*dictionary, "name")) return one_line(*name);
  }
  const auto origin = string_member(entry, "origin");
  if (!origin) return std::nullopt;
  for (const OriginName& known : kOriginNames) {
    if (known.origin == *origin) return std::string(known.name);
  }
  return std::nullopt;
}

}  // namespace

std::string suggestions_hint(const JsonValue& reply) {
  const JsonValue* suggestions = find_member(reply, "suggestions");
  if (suggestions == nullptr || !suggestions->is_array()) return {};
  std::vector<std::string> names;
  for (const JsonValue& suggestion : *suggestions) {
    if (names.size() == kHintMaxNames) break;
    if (!suggestion.is_string() || common::is_blank(suggestion.get_ref<const std::string&>())) continue;
    names.push_back(one_line(suggestion.get_ref<const std::string&>()));
  }
  if (names.empty()) return {};
  return "是不是要找：" + joined(names) + "\n";
}

std::string entries_hint(const JsonValue& reply) {
  const JsonValue* entries = find_member(reply, "entries");
  if (entries == nullptr || !entries->is_array() || entries->size() < 2) return {};
  const std::size_t others = entries->size() - 1;
  std::vector<std::string> names;
  for (std::size_t i = 1; i < entries->size(); ++i) {
    auto name = source_name((*entries)[i]);
    if (name && std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(std::move(*name));
  }
  const bool truncated = is_true_member(reply, "entriesTruncated");
  const std::string count = std::to_string(others);
  std::string line = truncated ? "另有不止 " + count + " 条解释" : "另有 " + count + " 条解释";
  if (!names.empty()) line += "：" + joined(names);
  line += truncated ? "（--json 可看其中 " + count + " 条）\n" : "（--json 可看全部）\n";
  return line;
}

std::string lookup_hint(const JsonValue& reply) {
  if (is_true_member(reply, "hit")) return entries_hint(reply);
  // A reply with "ok" false was a failure, not a miss.
  if (is_false_member(reply, "ok")) return {};
  return suggestions_hint(reply);
}

std::string explain_hint(const JsonValue& reply) {
  if (is_true_member(reply, "ok")) return entries_hint(reply);
  if (string_member(reply, "kind") == "miss") return suggestions_hint(reply);
  return {};
}

}  // namespace ruvo::cli
