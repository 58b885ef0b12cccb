#include "mcp/catalogue.hpp"

#include "common/json.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ruvo::mcp {
namespace {

// The "tools/list" result as an agent receives it.
constexpr std::string_view kToolsListResult =
    R"json({"tools":[{"description":"Explain a word, sentence or paragraph using the local Ruvo dictionary first (0 tokens on hit), falling back to the model.","inputSchema":{"properties":{"allow_cloud":{"description":"Allow model calls when the term is not in the dictionary","type":"boolean"},"lang":{"description":"Explanation language, default zh","enum":["zh","en"],"type":"string"},"mode":{"description":"Default auto","enum":["auto","term","passage"],"type":"string"},"text":{"description":"Text to explain (max 2000 chars)","type":"string"}},"required":["text"],"type":"object"},"name":"ruvo_explain"},{"description":"Look up a term in the local Ruvo dictionary only. Never calls a model.","inputSchema":{"properties":{"text":{"type":"string"}},"required":["text"],"type":"object"},"name":"ruvo_lookup"},{"description":"Save a term with its fields into the local Ruvo dictionary.","inputSchema":{"properties":{"fields":{"description":"Field map, e.g. {\"定义\": \"...\", \"通俗解释\": \"...\"}","type":"object"},"lang":{"enum":["zh","en"],"type":"string"},"term":{"type":"string"}},"required":["term"],"type":"object"},"name":"ruvo_save"},{"description":"Report whether Ruvo's local service is reachable, its version and how many terms the dictionary holds.","inputSchema":{"properties":{},"type":"object"},"name":"ruvo_status"}]})json";

TEST(ToolCatalogue, ToolsListResultIsTheExactLine) {
  const std::string written = common::to_compact(common::JsonValue{{"tools", tool_catalogue()}});
  EXPECT_EQ(written.size(), 1333u);
  EXPECT_EQ(written, kToolsListResult);
}

TEST(ToolCatalogue, IsTheSameOnEveryCall) {
  EXPECT_EQ(tool_catalogue(), tool_catalogue());
}

TEST(ToolCatalogue, StatusToolHasEmptyPropertiesAndNoRequiredMember) {
  const auto catalogue = tool_catalogue();
  ASSERT_EQ(catalogue.size(), 4u);
  const auto& status = catalogue.at(3);
  EXPECT_EQ(status.at("name"), kStatusTool);
  const auto& schema = status.at("inputSchema");
  EXPECT_TRUE(schema.at("properties").is_object());
  EXPECT_TRUE(schema.at("properties").empty());
  EXPECT_FALSE(schema.contains("required"));
}

TEST(ToolCatalogue, FieldsDescriptionHoldsPlainQuotesAndChinese) {
  const auto catalogue = tool_catalogue();
  const std::string description =
      catalogue.at(2).at("inputSchema").at("properties").at("fields").at("description");
  EXPECT_EQ(description.size(), 56u);
  EXPECT_EQ(description, "Field map, e.g. {\"定义\": \"...\", \"通俗解释\": \"...\"}");
}

}  // namespace
}  // namespace ruvo::mcp
