#include "mcp/loop.hpp"

#include "common/utf8.hpp"
#include "mcp/catalogue.hpp"

#include <utility>

namespace ruvo::mcp {
namespace {

std::string_view without_line_ending(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

JsonValue initialize_result() {
  return JsonValue{{"protocolVersion", std::string(kMcpProtocolVersion)},
                   {"capabilities", {{"tools", JsonValue::object()}}},
                   {"serverInfo", {{"name", std::string(kServerName)}, {"version", std::string(kServerVersion)}}}};
}

// "/params/<key>" read as RFC 6901 does: nothing when "params" is missing or
// not an object.
const JsonValue* param(const JsonValue& message, const char* key) {
  const auto params = message.find("params");
  if (params == message.end() || !params->is_object()) return nullptr;
  const auto value = params->find(key);
  return value == params->end() ? nullptr : &*value;
}

JsonValue tools_call_result(const JsonValue& message, const ToolCaller& call_tool) {
  const JsonValue* name = param(message, "name");
  const JsonValue* arguments = param(message, "arguments");
  const std::string tool_name = name != nullptr && name->is_string() ? name->get<std::string>() : "";
  return call_tool(tool_name, arguments != nullptr ? *arguments : JsonValue::object());
}

// "tools/list" is what agents ask most, and its result never changes. Its
// compact text is made once; each reply is spliced around it, giving the
// same bytes as to_compact(reply_to(...)) (members "id", "jsonrpc", "result"
// in that byte order) without building and writing the catalogue tree anew.
std::string tools_list_reply(const JsonValue& id) {
  static const std::string result = common::to_compact(JsonValue{{"tools", tool_catalogue()}});
  std::string reply = R"({"id":)";
  reply += common::to_compact(id);
  reply += R"(,"jsonrpc":"2.0","result":)";
  reply += result;
  reply += '}';
  return reply;
}

}  // namespace

JsonValue reply_to(const JsonValue& id, std::string_view method, const JsonValue& message,
                   const ToolCaller& call_tool) {
  JsonValue reply = {{"jsonrpc", "2.0"}, {"id", id}};
  if (method == "initialize") {
    reply["result"] = initialize_result();
  } else if (method == "ping") {
    reply["result"] = JsonValue::object();
  } else if (method == "tools/list") {
    reply["result"] = JsonValue{{"tools", tool_catalogue()}};
  } else if (method == "tools/call") {
    reply["result"] = tools_call_result(message, call_tool);
  } else {
    reply["error"] = {{"code", kMethodNotFound},
                      {"message", "method not found: " + std::string(method)}};
  }
  return reply;
}

std::optional<std::string> answer_line(std::string_view line, const ToolCaller& call_tool) {
  const std::string_view text = common::trim_unicode_space(without_line_ending(line));
  if (text.empty()) return std::nullopt;

  auto parsed = common::parse_json(text);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  const JsonValue& message = *parsed;

  const auto id = message.find("id");
  if (id == message.end()) return std::nullopt;
  const auto method = message.find("method");
  const std::string method_text =
      method != message.end() && method->is_string() ? method->get<std::string>() : "";

  if (method_text == "tools/list") return tools_list_reply(*id);
  return common::to_compact(reply_to(*id, method_text, message, call_tool));
}

void serve(const LineSource& next_line, const ReplySink& write, const ToolCaller& call_tool) {
  while (auto line = next_line()) {
    // The channel carries UTF-8 only; a stream that breaks it is not one we
    // can keep talking to.
    if (!common::is_valid_utf8(*line)) return;
    if (auto reply = answer_line(*line, call_tool)) write(*reply);
  }
}

}  // namespace ruvo::mcp
