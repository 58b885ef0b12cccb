// The rules of an entry's term, language, aliases and fields.
#include "store/entry_rules.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/match_key.hpp"

#include <set>

namespace ruvo::desktop::store {

namespace {

using common::failure;

// The stored name of a member: a known field's key, else the name itself.
std::string stored_name(std::string_view name) {
  std::string lower = common::ascii_lower(name);
  for (const auto& field : protocol::FIELD_LABELS) {
    if (name == field.label || lower == field.key) return std::string(field.key);
  }
  return std::string(name);
}

}  // namespace

bool has_line_break(std::string_view text) {
  static constexpr std::string_view kLineBreaks[] = {"\n",       "\r",           "\v",          "\f",
                                                     "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"};
  for (auto brk : kLineBreaks) {
    if (text.find(brk) != std::string_view::npos) return true;
  }
  return false;
}

bool within_term_length(std::string_view text) {
  return common::first_scalars(text, kMaxTermChars).size() == text.size();
}

Result<std::string> checked_term(std::string_view given) {
  std::string term(common::trim_unicode_space(given));
  if (term.empty()) return failure("词条不能为空");
  if (has_line_break(term)) return failure("词条不能换行");
  if (!within_term_length(term)) return failure("词条太长（最多 " + std::to_string(kMaxTermChars) + " 个字符）");
  return term;
}

Result<std::string> checked_lang(std::string_view lang) {
  std::string accepted;
  for (auto known : kTermLangs) {
    if (lang == known) return std::string(lang);
    accepted += (accepted.empty() ? "" : "、") + std::string(known);
  }
  return failure("不认识的 lang「" + std::string(lang) + "」，可选：" + accepted);
}

Result<std::vector<std::string>> normalize_aliases(const JsonValue& aliases, std::string_view term) {
  if (!aliases.is_array()) return failure("aliases 必须是字符串数组");
  std::vector<std::string> out;
  std::set<std::string> keys{match_key(term)};
  for (const auto& alias : aliases) {
    if (!alias.is_string()) return failure("aliases 必须是字符串数组");
    auto checked = checked_term(alias.get_ref<const std::string&>());
    if (!checked) return failure("别名「" + alias.get<std::string>() + "」不行：" + checked.error().text());
    if (!keys.insert(match_key(*checked)).second) continue;
    out.push_back(std::move(checked).value());
  }
  if (out.size() > kMaxAliases) return failure("别名太多（最多 " + std::to_string(kMaxAliases) + " 个）");
  return out;
}

Result<JsonValue> normalize_fields(const JsonValue& fields) {
  if (!fields.is_object()) {
    return failure("fields 必须是 JSON 对象，例如 {\"定义\":\"…\",\"通俗解释\":\"…\",\"例子\":\"…\"}");
  }
  JsonValue out = JsonValue::object();
  for (const auto& [raw_name, value] : fields.items()) {
    std::string_view name = common::trim_unicode_space(raw_name);
    if (name.empty()) return failure("fields 里有空的字段名");
    if (!value.is_string()) return failure("字段「" + std::string(name) + "」的值必须是字符串");
    std::string key = stored_name(name);
    auto existing = out.find(key);
    if (existing != out.end() && *existing != value) {
      return failure("字段「" + key + "」给了两次，值却不同");
    }
    out[key] = value;
  }
  return out;
}

}  // namespace ruvo::desktop::store
