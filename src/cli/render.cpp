#include "cli/render.hpp"

#include "common/utf8.hpp"

namespace ruvo::cli {

const JsonValue* find_member(const JsonValue& reply, std::string_view key) {
  if (!reply.is_object()) return nullptr;
  const auto it = reply.find(key);
  return it == reply.end() ? nullptr : &*it;
}

std::optional<std::string_view> string_member(const JsonValue& reply, std::string_view key) {
  const JsonValue* value = find_member(reply, key);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return std::string_view(value->get_ref<const std::string&>());
}

bool is_true_member(const JsonValue& reply, std::string_view key) {
  const JsonValue* value = find_member(reply, key);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

bool is_false_member(const JsonValue& reply, std::string_view key) {
  const JsonValue* value = find_member(reply, key);
  return value != nullptr && value->is_boolean() && !value->get<bool>();
}

std::optional<std::string_view> shown_field(const JsonValue& reply, std::string_view key) {
  const auto text = string_member(reply, key);
  if (!text || common::is_blank(*text)) return std::nullopt;
  return text;
}

std::string render_fields(const JsonValue& reply, FieldLayout layout) {
  std::string out;
  for (const FieldLabel& field : FIELD_LABELS) {
    const auto value = shown_field(reply, field.key);
    if (!value) continue;
    if (layout == FieldLayout::kSpaced) out += '\n';
    out += field.label;
    out += "：";
    out += *value;
    out += '\n';
  }
  return out;
}

std::string failure_message(const JsonValue& reply, std::string_view fallback) {
  return std::string(string_member(reply, "message").value_or(fallback));
}

}  // namespace ruvo::cli
