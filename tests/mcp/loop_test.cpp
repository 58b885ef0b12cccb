#include "mcp/loop.hpp"

#include "common/json.hpp"
#include "mcp/catalogue.hpp"
#include "mcp/tools.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::mcp {
namespace {

// A tool caller that records its calls and answers with a fixed result.
struct FakeTools {
  JsonValue result = tool_result("done", false);
  std::vector<std::string> calls;  // "name arguments"

  ToolCaller caller() {
    return [this](std::string_view name, const JsonValue& arguments) {
      calls.push_back(std::string(name) + " " + common::to_compact(arguments));
      return result;
    };
  }
};

// Runs serve over the scripted lines and gives every reply line written.
std::vector<std::string> serve_script(const std::vector<std::string>& lines, FakeTools& tools) {
  std::size_t next = 0;
  std::vector<std::string> out;
  serve([&]() -> std::optional<std::string> {
          if (next == lines.size()) return std::nullopt;
          return lines[next++];
        },
        [&](std::string_view line) { out.emplace_back(line); }, tools.caller());
  return out;
}

std::optional<std::string> answer(std::string_view line) {
  FakeTools tools;
  return answer_line(line, tools.caller());
}

TEST(McpLoop, AnswersEachMethodOfTheTable) {
  const std::string catalogue = common::to_compact(tool_catalogue());
  struct Case {
    std::string_view line;
    std::string expected;
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2099-01-01"}})",
       R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":"ruvo","version":"0.1.8"}}})"},
      {R"({"id":2,"method":"ping"})", R"({"id":2,"jsonrpc":"2.0","result":{}})"},
      {R"({"id":3,"method":"tools/list","params":{"cursor":"x"}})",
       R"({"id":3,"jsonrpc":"2.0","result":{"tools":)" + catalogue + "}}"},
      {R"({"id":4,"method":"tools/call","params":{"name":"ruvo_status"}})",
       R"({"id":4,"jsonrpc":"2.0","result":{"content":[{"text":"done","type":"text"}],"isError":false}})"},
      {R"({"id":5,"method":"Initialize"})",
       R"({"error":{"code":-32601,"message":"method not found: Initialize"},"id":5,"jsonrpc":"2.0"})"},
      {R"({"id":6,"method":""})",
       R"({"error":{"code":-32601,"message":"method not found: "},"id":6,"jsonrpc":"2.0"})"},
      {R"({"id":7})", R"({"error":{"code":-32601,"message":"method not found: "},"id":7,"jsonrpc":"2.0"})"},
      {R"({"id":8,"method":["ping"]})",
       R"({"error":{"code":-32601,"message":"method not found: "},"id":8,"jsonrpc":"2.0"})"},
      {R"({"id":9,"method":"resources/list"})",
       R"({"error":{"code":-32601,"message":"method not found: resources/list"},"id":9,"jsonrpc":"2.0"})"},
      {R"({"id":10,"method":"ping\u0000"})",
       R"({"error":{"code":-32601,"message":"method not found: ping\u0000"},"id":10,"jsonrpc":"2.0"})"},
      {R"({"id":11,"method":"词\n"})",
       R"({"error":{"code":-32601,"message":"method not found: 词\n"},"id":11,"jsonrpc":"2.0"})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answer(c.line), std::optional<std::string>(c.expected)) << c.line;
  }
}

TEST(McpLoop, IdsOfEveryKindComeBackUnchanged) {
  const std::string_view ids[] = {
      "null", "true", "false", "0", "7", "-7", R"("7")", R"("")", R"("词")",
      "9223372036854775807", "-9223372036854775808", "18446744073709551615",
      "[]", R"([1,"a",null])", "{}", R"({"a":{"b":[2]}})",
  };
  for (const auto id : ids) {
    const std::string line = R"({"method":"ping","id":)" + std::string(id) + "}";
    EXPECT_EQ(answer(line), R"({"id":)" + std::string(id) + R"(,"jsonrpc":"2.0","result":{}})") << id;
  }
}

TEST(McpLoop, LinesThatGetNoReply) {
  const std::string deep = std::string(128, '[') + std::string(128, ']');
  const std::string_view lines[] = {
      "",
      "\n",
      " \t\r\n",
      "\xe3\x80\x80\n",                                          // U+3000 alone
      R"({"id":1,"method":"ping"}{"id":2,"method":"ping"})",     // two values
      R"({"id":1,"method":"ping"} {"id":2,"method":"ping"})",
      R"({"id":1,"method":"ping",})",                            // trailing comma
      R"({"id":1,"method":"ping"},)",
      R"([{"id":1,"method":"ping"}])",                           // a batch
      "\xef\xbb\xbf{\"id\":1,\"method\":\"ping\"}",             // byte-order mark
      R"("ping")",
      "1",
      "null",
      R"({"method":"ping"})",                                    // notifications
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
      R"({"method":"tools/call","params":{"name":"ruvo_status"}})",
      R"({"id":1,"method":"ping")",                              // cut short
      "{\"id\":1,\"method\":\"p\xffing\"}",                      // not UTF-8
      "{\"id\":1,\"method\":\"ping\",\"x\":\"\\ud800\"}",        // lone surrogate
  };
  for (const auto line : lines) {
    EXPECT_EQ(answer(line), std::nullopt) << ::testing::PrintToString(std::string(line));
  }
  EXPECT_EQ(answer(R"({"id":1,"method":"ping","x":)" + deep + "}"), std::nullopt);
}

TEST(McpLoop, WhiteSpaceAndLineEndingsAroundAMessage) {
  const std::string expected = R"({"id":1,"jsonrpc":"2.0","result":{}})";
  const std::string_view lines[] = {
      "{\"id\":1,\"method\":\"ping\"}",
      "{\"id\":1,\"method\":\"ping\"}\n",
      "{\"id\":1,\"method\":\"ping\"}\r\n",
      " \t{\"id\":1,\"method\":\"ping\"}\t \r\n",
      "\xe3\x80\x80{\"id\":1,\"method\":\"ping\"}\xe3\x80\x80\n",  // U+3000
      "\xc2\xa0{\"id\":1,\"method\":\"ping\"}\xe2\x80\xa8\n",     // U+00A0, U+2028
  };
  for (const auto line : lines) {
    EXPECT_EQ(answer(line), std::optional<std::string>(expected)) << ::testing::PrintToString(std::string(line));
  }
}

TEST(McpLoop, NestingJustUnderTheLimitIsAnswered) {
  const std::string id = std::string(126, '[') + std::string(126, ']');
  EXPECT_EQ(answer(R"({"method":"ping","id":)" + id + "}"),
            R"({"id":)" + id + R"(,"jsonrpc":"2.0","result":{}})");
}

TEST(McpLoop, ToolsCallHandsOverNameAndArguments) {
  struct Case {
    std::string_view params;  // the "params" member, or empty for none
    std::string call;
  };
  const Case cases[] = {
      {R"({"name":"ruvo_lookup","arguments":{"text":"RAG"}})", R"(ruvo_lookup {"text":"RAG"})"},
      {R"({"name":"ruvo_lookup","arguments":null})", "ruvo_lookup null"},
      {R"({"name":"ruvo_lookup","arguments":[1]})", "ruvo_lookup [1]"},
      {R"({"name":"ruvo_lookup"})", "ruvo_lookup {}"},
      {R"({"name":7,"arguments":{"a":1}})", R"( {"a":1})"},
      {R"({"arguments":"x"})", R"( "x")"},
      {R"([{"name":"ruvo_lookup"}])", " {}"},
      {"null", " {}"},
      {"", " {}"},
  };
  for (const auto& c : cases) {
    FakeTools tools;
    const std::string line = c.params.empty()
                                 ? std::string(R"({"id":1,"method":"tools/call"})")
                                 : R"({"id":1,"method":"tools/call","params":)" + std::string(c.params) + "}";
    ASSERT_TRUE(answer_line(line, tools.caller()).has_value()) << line;
    EXPECT_EQ(tools.calls, std::vector<std::string>{c.call}) << line;
  }
}

TEST(McpServe, ScriptedSessionKeepsOrderAndSkipsWhatGetsNoReply) {
  FakeTools tools;
  const auto out = serve_script(
      {
          "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\"}\r\n",
          "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n",
          "\n",
          "{\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_status\"}}\n",
          "[1,2]\n",
          "{\"id\":\"a\",\"method\":\"ping\"},\n",
          "{\"id\":\"b\",\"method\":\"ping\"}\n",
          "{\"id\":\"c\",\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_status\"}}",
      },
      tools);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].rfind(R"({"id":1,"jsonrpc":"2.0","result":{"capabilities")", 0), 0u) << out[0];
  EXPECT_EQ(out[1], R"({"id":"b","jsonrpc":"2.0","result":{}})");
  EXPECT_EQ(out[2], R"({"id":"c","jsonrpc":"2.0","result":{"content":[{"text":"done","type":"text"}],"isError":false}})");
  EXPECT_EQ(tools.calls, std::vector<std::string>{"ruvo_status {}"}) << "the notification ran no tool";
}

TEST(McpServe, InvalidUtf8EndsTheLoopEvenBeforeValidRequests) {
  const std::string invalid_lines[] = {
      "\xff\n", "{\"id\":1,\"method\":\"ping\"}\xc3\n", "\xed\xa0\x80\n" /* surrogate */,
      "\xc0\xaf\n" /* overlong */, "   \xe3\x80\n"};
  for (const auto& invalid : invalid_lines) {
    FakeTools tools;
    const auto out = serve_script({"{\"id\":1,\"method\":\"ping\"}\n", invalid,
                                   "{\"id\":2,\"method\":\"ping\"}\n"},
                                  tools);
    EXPECT_EQ(out, std::vector<std::string>{R"({"id":1,"jsonrpc":"2.0","result":{}})"})
        << ::testing::PrintToString(invalid);
  }
}

TEST(McpServe, ToolTextWithLineBreaksStaysOneLine) {
  FakeTools tools;
  tools.result = tool_result("{\n  \"ok\": true,\r\n  \"t\": \"\x01\"\n}", false);
  const auto out = serve_script({"{\"id\":1,\"method\":\"tools/call\",\"params\":{\"name\":\"x\"}}\n"}, tools);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].find('\n'), std::string::npos);
  EXPECT_EQ(out[0].find('\r'), std::string::npos);
  EXPECT_NE(out[0].find(R"({\n  \"ok\": true,\r\n  \"t\": \"\u0001\"\n})"), std::string::npos) << out[0];
}

}  // namespace
}  // namespace ruvo::mcp
