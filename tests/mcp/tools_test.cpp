#include "mcp/tools.hpp"

#include "common/json.hpp"
#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::mcp {
namespace {

using common::parse_json;
using common::to_compact;
using test::ScriptedClient;

JsonValue json(std::string_view text) {
  auto parsed = parse_json(text);
  EXPECT_TRUE(parsed.ok()) << text << ": " << parsed.error().text();
  return parsed ? *parsed : JsonValue();
}

TEST(ToolResult, HasOneTextItemAndTheFlag) {
  EXPECT_EQ(to_compact(tool_result("a\nb", true)),
            R"({"content":[{"text":"a\nb","type":"text"}],"isError":true})");
  EXPECT_EQ(to_compact(tool_result("", false)),
            R"({"content":[{"text":"","type":"text"}],"isError":false})");
}

// Each row: tool, arguments as JSON text, then the request it must send.
struct RequestCase {
  std::string_view tool;
  std::string_view arguments;
  std::string_view method;
  std::string_view path;
  std::string_view body;  // compact; empty for no body
  int timeout_s;
};

TEST(CallTool, DefaultsAndTreatsEachArgument) {
  const std::string long_text(2500, 'w');
  const std::string long_arguments = R"({"text":")" + long_text + R"("})";
  const std::string long_body =
      R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":")" + long_text + R"("})";
  const RequestCase cases[] = {
      // Absent or unusable arguments fall back to the defaults.
      {"ruvo_explain", "{}", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":""})", 95},
      {"ruvo_explain", "null", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":""})", 95},
      {"ruvo_explain", R"(["text","x"])", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":""})", 95},
      // Only a boolean counts for allow_cloud; any string counts for lang and mode.
      {"ruvo_explain", R"({"allow_cloud":false,"lang":"en","mode":"term","text":"RAG"})", "POST",
       "/v1/explain", R"({"allowCloud":false,"context":"","lang":"en","mode":"term","text":"RAG"})", 95},
      {"ruvo_explain", R"({"allow_cloud":"false","text":"x"})", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"x"})", 95},
      {"ruvo_explain", R"({"allow_cloud":0,"lang":5,"mode":"","text":"x","context":"ignored"})",
       "POST", "/v1/explain", R"({"allowCloud":true,"context":"","lang":"zh","mode":"","text":"x"})", 95},
      {"ruvo_explain", R"({"lang":"fr","mode":null,"text":7})", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"fr","mode":"auto","text":""})", 95},
      // Text is trimmed of Unicode white space at both ends only, and never cut.
      {"ruvo_explain", "{\"text\":\" \\t\\n向量 数据库\\u3000\\r\\n\"}", "POST", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"向量 数据库"})", 95},
      {"ruvo_explain", long_arguments, "POST", "/v1/explain", long_body, 95},
      {"ruvo_lookup", R"({"text":"  RAG\t","lang":"en"})", "POST", "/v1/lookup", R"({"text":"RAG"})", 10},
      {"ruvo_lookup", "null", "POST", "/v1/lookup", R"({"text":""})", 10},
      {"ruvo_lookup", R"({"term":"RAG"})", "POST", "/v1/lookup", R"({"text":""})", 10},
      // Save: term as given, fields copied whole whatever their type.
      {"ruvo_save", "{}", "POST", "/v1/save", R"({"categoryId":"term","fields":{},"lang":"zh","term":""})", 15},
      {"ruvo_save", R"({"term":"  RAG ","fields":null})", "POST", "/v1/save",
       R"({"categoryId":"term","fields":null,"lang":"zh","term":"  RAG "})", 15},
      {"ruvo_save", R"({"term":"RAG","fields":[1,{"a":2}],"lang":"en"})", "POST", "/v1/save",
       R"({"categoryId":"term","fields":[1,{"a":2}],"lang":"en","term":"RAG"})", 15},
      {"ruvo_save", R"({"term":"RAG","fields":{"定义":"检索增强生成","n":{"x":[]}},"lang":""})", "POST",
       "/v1/save", R"({"categoryId":"term","fields":{"n":{"x":[]},"定义":"检索增强生成"},"lang":"","term":"RAG"})", 15},
      {"ruvo_save", R"({"term":5,"text":"RAG"})", "POST", "/v1/save",
       R"({"categoryId":"term","fields":{},"lang":"zh","term":""})", 15},
      {"ruvo_status", R"({"text":"ignored"})", "GET", "/v1/health", "", 3},
      {"ruvo_status", "42", "GET", "/v1/health", "", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + std::string(c.arguments.substr(0, 80)));
    ScriptedClient client;
    call_tool(c.tool, json(c.arguments), client);
    const std::string expected = std::string(c.method) + " " + std::string(c.path) + " " +
                                 (c.body.empty() ? std::string("-") : std::string(c.body)) + " " +
                                 std::to_string(c.timeout_s);
    EXPECT_EQ(client.requests, std::vector<std::string>{expected});
  }
}

TEST(ReplyResult, IsErrorUnlessOkIsTheBooleanTrue) {
  struct Case {
    std::string_view reply;
    bool is_error;
  };
  const Case cases[] = {
      {R"({"ok":true,"hit":false})", false},
      {R"({"ok":true})", false},
      {R"({"ok":false,"message":"x"})", true},
      {R"({"ok":"true"})", true},
      {R"({"ok":1})", true},
      {R"({"hit":true})", true},
      {"{}", true},
      {"[]", true},
      {R"([{"ok":true}])", true},
      {"true", true},
      {"null", true},
  };
  for (const auto& c : cases) {
    const JsonValue value = json(c.reply);
    const JsonValue result = reply_result(value);
    EXPECT_EQ(result, tool_result(common::to_pretty(value), c.is_error)) << c.reply;
  }
}

TEST(ReplyResult, PrettyTextKeepsChineseAndSortsKeys) {
  const JsonValue result =
      reply_result(json(R"({"ok":true,"hit":true,"term":"向量"})"));
  EXPECT_EQ(result.at("content").at(0).at("text"),
            "{\n  \"hit\": true,\n  \"ok\": true,\n  \"term\": \"向量\"\n}");
}

TEST(ReplyResult, ErrorTextPassesUnchanged) {
  const std::string text = "连不上 Ruvo 服务：Connection refused (os error 111)";
  EXPECT_EQ(reply_result(common::failure(text)), tool_result(text, true));
}

TEST(CallTool, ServiceIsEnsuredBeforeTheNameIsLookedAt) {
  for (const std::string_view name : {"ruvo_lookup", "RUVO_LOOKUP", ""}) {
    ScriptedClient fake;
    fake.service_up = false;
    EXPECT_EQ(call_tool(name, JsonValue::object(), fake),
              tool_result("Ruvo service is not available", true))
        << name;
    EXPECT_EQ(fake.ensure_calls, 1);
    EXPECT_TRUE(fake.requests.empty());
  }
}

TEST(CallTool, UnknownNameWithServiceUpSendsNothing) {
  for (const std::string_view name : {"", "RUVO_LOOKUP", "ruvo_lookup ", "lookup", "ruvo_Status"}) {
    ScriptedClient fake;
    EXPECT_EQ(call_tool(name, JsonValue::object(), fake),
              tool_result("unknown tool: " + std::string(name), true));
    EXPECT_EQ(fake.ensure_calls, 1);
    EXPECT_TRUE(fake.requests.empty());
  }
}

TEST(CallTool, SendsExactlyOneRequestAndTurnsTheReplyIntoTheResult) {
  ScriptedClient fake;
  fake.reply = json(R"({"ok":true,"version":"9"})");
  EXPECT_EQ(call_tool("ruvo_status", JsonValue::object(), fake),
            tool_result("{\n  \"ok\": true,\n  \"version\": \"9\"\n}", false));
  EXPECT_EQ(fake.requests, std::vector<std::string>{"GET /v1/health - 3"});

  ScriptedClient failing;
  failing.reply = common::failure("read: Resource temporarily unavailable (os error 11)");
  EXPECT_EQ(call_tool("ruvo_lookup", json(R"({"text":" RAG "})"), failing),
            tool_result("read: Resource temporarily unavailable (os error 11)", true));
  EXPECT_EQ(failing.requests, std::vector<std::string>{R"(POST /v1/lookup {"text":"RAG"} 10)"});
}

}  // namespace
}  // namespace ruvo::mcp
