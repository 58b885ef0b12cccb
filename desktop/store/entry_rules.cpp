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

std::size_t field_reply_bytes(std::string_view text) {
  std::size_t bytes = 0;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t') {
      bytes += 2;
    } else if (c < 0x20) {
      bytes += 6;
    } else {
      bytes += 1;
    }
  }
  return bytes;
}

Result<std::string> checked_term(std::string_view given) {
  std::string term(common::trim_unicode_space(given));
  if (term.empty()) return failure("词条不能为空");
  if (has_line_break(term)) return failure("词条不能换行");
  if (term.find('\0') != std::string::npos) return failure("词条不能含有 NUL 字符");
  if (!within_term_length(term)) return failure("词条太长（最多 " + std::to_string(kMaxTermChars) + " 个字符）");
  if (match_key(term).empty()) return failure("词条只有看不见的字符（零宽空格、软连字符之类）");
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
    if (!checked) {
      // A message quotes the start of a long alias, not all of it.
      const std::string& given = alias.get_ref<const std::string&>();
      std::string_view head = common::first_scalars(given, 64);
      return failure("别名「" + std::string(head) + (head.size() < given.size() ? "…" : "") + "」不行：" +
                     checked.error().text());
    }
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
    if (!within_term_length(name)) {
      return failure("字段名「" + std::string(common::first_scalars(name, 16)) + "…」太长（最多 " +
                     std::to_string(kMaxTermChars) + " 个字符）");
    }
    if (!value.is_string()) return failure("字段「" + std::string(name) + "」的值必须是字符串");
    std::string key = stored_name(name);
    auto existing = out.find(key);
    if (existing != out.end() && *existing != value) {
      return failure("字段「" + key + "」给了两次，值却不同");
    }
    out[key] = value;
  }
  if (auto bounded = check_field_bounds(out); !bounded) return bounded.error();
  return out;
}

Result<void> check_field_bounds(const JsonValue& fields) {
  if (!fields.is_object()) return {};
  if (fields.size() > kMaxFields) return failure("字段太多（最多 " + std::to_string(kMaxFields) + " 个）");
  std::size_t total = 0;
  for (const auto& [name, value] : fields.items()) {
    if (!value.is_string()) continue;
    const std::size_t bytes = field_reply_bytes(value.get_ref<const std::string&>());
    if (bytes > kMaxFieldBytes) {
      return failure("字段「" + name + "」太长（最多 " + std::to_string(kMaxFieldBytes) + " 字节）");
    }
    total += bytes;
  }
  if (total > kMaxFieldsBytes) {
    return failure("字段合起来太长（所有字段一共最多 " + std::to_string(kMaxFieldsBytes) + " 字节）");
  }
  return {};
}

}  // namespace ruvo::desktop::store
