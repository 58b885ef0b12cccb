// "tools/call" through `ruvo mcp` against a scripted service: the exact
// request each tool sends and the tool result the agent gets back.
#include "common/json.hpp"
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ruvo::test {
namespace {

using common::JsonValue;

std::string call_line(int id, std::string_view name, std::string_view arguments) {
  std::string params = R"({"name":")" + std::string(name) + "\"";
  if (!arguments.empty()) params += R"(,"arguments":)" + std::string(arguments);
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/call","params":)" +
         params + "}}\n";
}

// The tool result of each reply line, in order.
std::vector<JsonValue> results(const RunResult& run_result) {
  std::vector<JsonValue> values;
  std::size_t start = 0;
  while (start < run_result.out.size()) {
    const std::size_t end = run_result.out.find('\n', start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated output line";
      break;
    }
    auto parsed = common::parse_json(std::string_view(run_result.out).substr(start, end - start));
    if (!parsed || !parsed->contains("result")) {
      ADD_FAILURE() << "not a result line: " << run_result.out.substr(start, end - start);
    } else {
      values.push_back(parsed->at("result"));
    }
    start = end + 1;
  }
  return values;
}

JsonValue text_result(std::string_view text, bool is_error) {
  return JsonValue{{"content", JsonValue::array({JsonValue{{"text", std::string(text)}, {"type", "text"}}})},
                   {"isError", is_error}};
}

class McpTools : public ::testing::Test {
 protected:
  void SetUp() override { app_data_.write_discovery(service_.port()); }

  RunResult run_mcp(const std::string& input) {
    RunSpec settings;
    settings.words = {"mcp"};
    settings.stdin_bytes = input;
    settings.env = app_data_.env();
    RunResult result = run(settings);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    return result;
  }

  // The tool requests the service received, health probes left out.
  std::vector<Request> tool_requests() const {
    std::vector<Request> found;
    for (auto& request : service_.requests()) {
      if (request.path != "/v1/health") found.push_back(request);
    }
    return found;
  }

  FakeService service_;
  AppDataDir app_data_;
};

TEST_F(McpTools, ArgumentsAreDefaultedOnTheWire) {
  struct Case {
    std::string_view tool;
    std::string_view arguments;  // empty: no "arguments" member
    std::string_view path;
    std::string_view body;
  };
  const std::string long_text(2001, 'w');
  const std::string long_arguments = R"({"text":")" + long_text + R"("})";
  const std::string long_body = R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":")" + long_text + R"("})";
  const Case cases[] = {
      {"ruvo_lookup", "", "/v1/lookup", R"({"text":""})"},
      {"ruvo_lookup", "null", "/v1/lookup", R"({"text":""})"},
      {"ruvo_lookup", R"({"text":" \t\n向量  数据库\u3000 "})", "/v1/lookup", R"({"text":"向量  数据库"})"},
      {"ruvo_explain", "{}", "/v1/explain", R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":""})"},
      {"ruvo_explain", R"({"text":"x","allow_cloud":"false"})", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"x"})"},
      {"ruvo_explain", R"({"text":"x","allow_cloud":0,"lang":5,"mode":""})", "/v1/explain",
       R"({"allowCloud":true,"context":"","lang":"zh","mode":"","text":"x"})"},
      {"ruvo_explain", R"({"text":"x","allow_cloud":false,"lang":"fr","mode":"passage"})", "/v1/explain",
       R"({"allowCloud":false,"context":"","lang":"fr","mode":"passage","text":"x"})"},
      {"ruvo_explain", long_arguments, "/v1/explain", long_body},
      {"ruvo_save", R"({"term":" RAG "})", "/v1/save", R"({"categoryId":"term","fields":{},"lang":"zh","term":" RAG "})"},
      {"ruvo_save", R"({"term":"RAG","fields":null})", "/v1/save", R"({"categoryId":"term","fields":null,"lang":"zh","term":"RAG"})"},
      {"ruvo_save", R"({"term":"RAG","fields":["a"],"lang":"en"})", "/v1/save",
       R"({"categoryId":"term","fields":["a"],"lang":"en","term":"RAG"})"},
      {"ruvo_save", R"({"term":"RAG","fields":{"定义":"检索增强生成"}})", "/v1/save",
       R"({"categoryId":"term","fields":{"定义":"检索增强生成"},"lang":"zh","term":"RAG"})"},
  };
  std::string input;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    input += call_line(static_cast<int>(i), cases[i].tool, cases[i].arguments);
  }
  const RunResult result = run_mcp(input);
  EXPECT_EQ(results(result).size(), std::size(cases));

  const auto requests = tool_requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(std::string(cases[i].tool) + " " + std::string(cases[i].arguments.substr(0, 60)));
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].path, cases[i].path);
    EXPECT_EQ(requests[i].body, cases[i].body);
    EXPECT_EQ(requests[i].header("X-Ruvo-Token"), std::string(kTestToken));
  }
}

TEST_F(McpTools, RepliesBecomeResultsFlaggedByOk) {
  service_.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":false})"),
                                  Reply::json(200, R"({"hit":true,"term":"RAG"})"),
                                  Reply::json(401, R"({"ok":true})")});
  service_.on("POST /v1/save", {Reply::json(500, R"({"ok":false,"message":"磁盘满了"})")});
  service_.on("GET /v1/health", {Reply::json(200, R"({"ok":true,"terms":3,"version":"1.2"})")});
  const RunResult result = run_mcp(call_line(1, "ruvo_lookup", R"({"text":"RAG"})") +
                                   call_line(2, "ruvo_lookup", R"({"text":"RAG"})") +
                                   call_line(3, "ruvo_lookup", R"({"text":"RAG"})") +
                                   call_line(4, "ruvo_save", R"({"term":"RAG"})") +
                                   call_line(5, "ruvo_status", "") +
                                   call_line(6, "RUVO_LOOKUP", R"({"text":"RAG"})") +
                                   call_line(7, "", ""));
  const std::vector<JsonValue> expected = {
      text_result("{\n  \"hit\": false,\n  \"ok\": true\n}", false),
      text_result("{\n  \"hit\": true,\n  \"term\": \"RAG\"\n}", true),
      text_result("{\n  \"kind\": \"auth\",\n  \"message\": \"token 不对（Ruvo 可能刚重启），重试一次\",\n  \"ok\": false\n}", true),
      text_result("{\n  \"message\": \"磁盘满了\",\n  \"ok\": false\n}", true),
      text_result("{\n  \"ok\": true,\n  \"terms\": 3,\n  \"version\": \"1.2\"\n}", false),
      text_result("unknown tool: RUVO_LOOKUP", true),
      text_result("unknown tool: ", true),
  };
  EXPECT_EQ(results(result), expected);
  // Every output line is one reply, though each result text holds line breaks.
  EXPECT_EQ(static_cast<std::size_t>(std::count(result.out.begin(), result.out.end(), '\n')), expected.size());
  // ruvo_status asks for health twice: the probe and its own request.
  std::size_t health = 0;
  for (const auto& request : service_.requests()) health += request.path == "/v1/health";
  EXPECT_EQ(health, 7u + 1u);
}

TEST_F(McpTools, ServiceErrorTextPassesThrough) {
  service_.on("POST /v1/lookup", {Reply::raw("HTTP/1.1 200 OK\r\n\r\nnot json")});
  const auto values = results(run_mcp(call_line(1, "ruvo_lookup", R"({"text":"RAG"})")));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].at("isError"), true);
  const std::string text = values[0].at("content").at(0).at("text");
  EXPECT_EQ(text.rfind("响应不是 JSON：", 0), 0u) << text;
}

TEST(McpToolsServiceDown, EveryNameGetsServiceNotAvailable) {
  ProgramDir programs;  // a copy of ruvo with no desktop program beside it
  AppDataDir app_data;  // and no discovery file
  RunSpec settings;
  settings.program = programs.ruvo();
  settings.words = {"mcp"};
  settings.env = app_data.env();
  settings.stdin_bytes = call_line(1, "ruvo_lookup", R"({"text":"RAG"})") + call_line(2, "RUVO_LOOKUP", "") +
                     call_line(3, "", "") + "{\"id\":4,\"method\":\"tools/list\"}\n";
  const RunResult result = run(settings);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const auto values = results(result);
  ASSERT_EQ(values.size(), 4u) << result.out;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(values[i], text_result("Ruvo service is not available", true)) << i;
  EXPECT_TRUE(values[3].contains("tools"));
}

}  // namespace
}  // namespace ruvo::test
