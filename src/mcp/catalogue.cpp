#include "mcp/catalogue.hpp"

#include <string>

namespace ruvo::mcp {
namespace {

JsonValue tool(std::string_view name, std::string_view description, JsonValue schema) {
  return JsonValue{{"name", std::string(name)},
                   {"description", std::string(description)},
                   {"inputSchema", std::move(schema)}};
}

JsonValue explain_schema() {
  return JsonValue{
      {"type", "object"},
      {"properties",
       {{"text", {{"type", "string"}, {"description", "Text to explain (max 2000 chars)"}}},
        {"mode",
         {{"type", "string"},
          {"enum", JsonValue::array({"auto", "term", "passage"})},
          {"description", "Default auto"}}},
        {"lang",
         {{"type", "string"},
          {"enum", JsonValue::array({"zh", "en"})},
          {"description", "Explanation language, default zh"}}},
        {"allow_cloud",
         {{"type", "boolean"},
          {"description", "Allow model calls when the term is not in the dictionary"}}}}},
      {"required", JsonValue::array({"text"})}};
}

JsonValue lookup_schema() {
  return JsonValue{{"type", "object"},
                   {"properties", {{"text", {{"type", "string"}}}}},
                   {"required", JsonValue::array({"text"})}};
}

JsonValue save_schema() {
  return JsonValue{
      {"type", "object"},
      {"properties",
       {{"term", {{"type", "string"}}},
        {"fields",
         {{"type", "object"},
          {"description", "Field map, e.g. {\"定义\": \"...\", \"通俗解释\": \"...\"}"}}},
        {"lang", {{"type", "string"}, {"enum", JsonValue::array({"zh", "en"})}}}}},
      {"required", JsonValue::array({"term"})}};
}

// No arguments: "properties" is an empty object and there is no "required"
// member at all (an empty list would be a different document).
JsonValue status_schema() {
  return JsonValue{{"type", "object"}, {"properties", JsonValue::object()}};
}

}  // namespace

JsonValue tool_catalogue() {
  return JsonValue::array({
      tool(kExplainTool,
           "Explain a word, sentence or paragraph using the local Ruvo dictionary first "
           "(0 tokens on hit), falling back to the model.",
           explain_schema()),
      tool(kLookupTool, "Look up a term in the local Ruvo dictionary only. Never calls a model.",
           lookup_schema()),
      tool(kSaveTool, "Save a term with its fields into the local Ruvo dictionary.", save_schema()),
      tool(kStatusTool,
           "Report whether Ruvo's local service is reachable, its version and how many terms "
           "the dictionary holds.",
           status_schema()),
  });
}

}  // namespace ruvo::mcp
