#include "mcp/tools.hpp"

#include "common/utf8.hpp"
#include "mcp/catalogue.hpp"

#include <utility>

namespace ruvo::mcp {
namespace {

// The argument's value, or nothing when it is absent or `arguments` is not
// an object at all.
const JsonValue* find_argument(const JsonValue& arguments, const char* key) {
  if (!arguments.is_object()) return nullptr;
  const auto it = arguments.find(key);
  return it == arguments.end() ? nullptr : &*it;
}

std::string string_argument(const JsonValue& arguments, const char* key, std::string_view fallback) {
  const JsonValue* value = find_argument(arguments, key);
  if (value == nullptr || !value->is_string()) return std::string(fallback);
  return value->get<std::string>();
}

bool cloud_allowed(const JsonValue& arguments) {
  const JsonValue* value = find_argument(arguments, "allow_cloud");
  if (value == nullptr || !value->is_boolean()) return true;
  return value->get<bool>();
}

JsonValue fields_argument(const JsonValue& arguments) {
  const JsonValue* value = find_argument(arguments, "fields");
  return value == nullptr ? JsonValue::object() : *value;
}

}  // namespace

JsonValue tool_result(std::string_view text, bool is_error) {
  JsonValue item = {{"type", "text"}, {"text", std::string(text)}};
  return JsonValue{{"content", JsonValue::array({std::move(item)})}, {"isError", is_error}};
}

std::string lookup_text(const JsonValue& arguments) {
  return std::string(common::trim_unicode_space(string_argument(arguments, "text", "")));
}

protocol::ExplainQuery explain_query(const JsonValue& arguments) {
  return protocol::ExplainQuery{lookup_text(arguments), string_argument(arguments, "mode", "auto"),
                                string_argument(arguments, "lang", "zh"), cloud_allowed(arguments)};
}

protocol::SaveEntry save_entry(const JsonValue& arguments) {
  return protocol::SaveEntry{string_argument(arguments, "term", ""), fields_argument(arguments),
                             string_argument(arguments, "lang", "zh")};
}

JsonValue reply_result(const common::Result<JsonValue>& reply) {
  if (!reply) return tool_result(reply.error().text(), true);
  const JsonValue& value = *reply;
  bool ok = false;
  if (value.is_object()) {
    const auto it = value.find("ok");
    ok = it != value.end() && it->is_boolean() && it->get<bool>();
  }
  return tool_result(common::to_pretty(value), !ok);
}

JsonValue call_tool(std::string_view name, const JsonValue& arguments, client::Client& client) {
  // The service comes first: an agent that misspells a tool while the service
  // is down learns about the service, which is the problem it must fix first.
  const auto info = client.ensure_service();
  if (!info) return tool_result(kServiceUnavailable, true);

  if (name == kExplainTool) return reply_result(client.explain(*info, explain_query(arguments)));
  if (name == kLookupTool) return reply_result(client.lookup(*info, lookup_text(arguments)));
  if (name == kSaveTool) return reply_result(client.save(*info, save_entry(arguments)));
  if (name == kStatusTool) return reply_result(client.health(*info));
  return tool_result(std::string(kUnknownToolPrefix) + std::string(name), true);
}

}  // namespace ruvo::mcp
