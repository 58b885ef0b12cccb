#include "store/fields.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"

#include <string>
#include <string_view>

namespace ruvo::desktop {

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

common::Result<JsonValue> normalize_fields(const JsonValue& fields) {
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

}  // namespace ruvo::desktop
