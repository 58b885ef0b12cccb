#include "mcp/tools.hpp"

#include "common/utf8.hpp"
#include "mcp/catalogue.hpp"
#include "service/launcher.hpp"

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

std::string string_argument(const JsonValue& arguments, const char* key,
                            std::string_view fallback) {
  const JsonValue* value = find_argument(arguments, key);
  if (value == nullptr || !value->is_string()) return std::string(fallback);
  return value->get<std::string>();
}

std::string trimmed_text(const JsonValue& arguments) {
  return std::string(common::trim_unicode_space(string_argument(arguments, "text", "")));
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

std::optional<ToolRequest> tool_request(std::string_view name, const JsonValue& arguments) {
  if (name == kExplainTool) {
    JsonValue body = {{"allowCloud", cloud_allowed(arguments)},
                      {"context", ""},
                      {"lang", string_argument(arguments, "lang", "zh")},
                      {"mode", string_argument(arguments, "mode", "auto")},
                      {"text", trimmed_text(arguments)}};
    return ToolRequest{"POST", "/v1/explain", std::move(body), service::kExplainTimeoutS};
  }
  if (name == kLookupTool) {
    JsonValue body = {{"text", trimmed_text(arguments)}};
    return ToolRequest{"POST", "/v1/lookup", std::move(body), service::kLookupTimeoutS};
  }
  if (name == kSaveTool) {
    JsonValue body = JsonValue::object();
    body["categoryId"] = "term";
    body["fields"] = fields_argument(arguments);
    body["lang"] = string_argument(arguments, "lang", "zh");
    body["term"] = string_argument(arguments, "term", "");
    return ToolRequest{"POST", "/v1/save", std::move(body), service::kSaveTimeoutS};
  }
  if (name == kStatusTool) {
    return ToolRequest{"GET", "/v1/health", std::nullopt, service::kHealthTimeoutS};
  }
  return std::nullopt;
}

JsonValue reply_result(const service::ServiceReply& reply) {
  if (!reply.ok()) return tool_result(reply.error, true);
  const JsonValue& value = *reply.value;
  bool ok = false;
  if (value.is_object()) {
    const auto it = value.find("ok");
    ok = it != value.end() && it->is_boolean() && it->get<bool>();
  }
  return tool_result(common::to_pretty(value), !ok);
}

JsonValue call_tool_with(std::string_view name, const JsonValue& arguments,
                         const ServiceAccess& access) {
  // The service comes first: an agent that misspells a tool while the service
  // is down learns about the service, which is the problem it must fix first.
  const auto info = access.ensure();
  if (!info) return tool_result(kServiceUnavailable, true);

  const auto request = tool_request(name, arguments);
  if (!request) return tool_result(std::string(kUnknownToolPrefix) + std::string(name), true);

  const JsonValue* body = request->body ? &*request->body : nullptr;
  return reply_result(
      access.request(*info, request->method, request->path, body, request->read_timeout_s));
}

JsonValue call_tool(std::string_view name, const JsonValue& arguments) {
  static const ServiceAccess real{service::ensure_service, service::service_request};
  return call_tool_with(name, arguments, real);
}

}  // namespace ruvo::mcp
