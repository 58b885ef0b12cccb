// `ruvo mcp` as an agent drives it: lines in, one reply line per request out.
#include "common/json.hpp"
#include "mcp/catalogue.hpp"
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::test {
namespace {

std::vector<std::string> output_lines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(out.substr(start) + "<no line feed>");
      break;
    }
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

RunResult run_mcp(const std::string& input, const std::map<std::string, std::string>& env) {
  RunSpec settings;
  settings.words = {"mcp"};
  settings.stdin_bytes = input;
  settings.env = env;
  return run(settings);
}

TEST(McpServer, AnswersASessionLineByLine) {
  AppDataDir app_data;  // no discovery file: nothing here needs the service
  const std::string input =
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"2025-11-25\"}}\r\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n"
      "\n"
      "  {\"jsonrpc\":\"2.0\",\"id\":\"7\",\"method\":\"ping\"}\t\n"
      "[{\"id\":8,\"method\":\"ping\"}]\n"
      "{\"id\":9,\"method\":\"ping\"}{\"id\":10,\"method\":\"ping\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":null,\"method\":\"tools/list\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"Initialize\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":18446744073709551615,\"method\":\"ping\"}";  // no final line feed
  const RunResult result = run_mcp(input, app_data.env());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const auto lines = output_lines(result.out);
  ASSERT_EQ(lines.size(), 5u) << result.out;
  EXPECT_EQ(lines[0],
            R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"protocolVersion":"2024-11-05","serverInfo":{"name":"ruvo","version":"0.1.8"}}})");
  EXPECT_EQ(lines[1], R"({"id":"7","jsonrpc":"2.0","result":{}})");
  const std::string tools_list = common::to_compact(common::JsonValue{{"tools", mcp::tool_catalogue()}});
  EXPECT_EQ(lines[2], R"({"id":null,"jsonrpc":"2.0","result":)" + tools_list + "}");
  EXPECT_EQ(lines[3], R"({"error":{"code":-32601,"message":"method not found: Initialize"},"id":7,"jsonrpc":"2.0"})");
  EXPECT_EQ(lines[4], R"({"id":18446744073709551615,"jsonrpc":"2.0","result":{}})");
}

TEST(McpServer, InvalidUtf8EndsQuietlyWithExitCodeZero) {
  AppDataDir app_data;
  const RunResult result =
      run_mcp("{\"id\":1,\"method\":\"p\xffing\"}\n{\"id\":2,\"method\":\"ping\"}\n", app_data.env());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(McpServer, EmptyInputEndsWithExitCodeZero) {
  AppDataDir app_data;
  const RunResult result = run_mcp("", app_data.env());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(McpServer, ToolsCallWithoutIdReachesNoService) {
  FakeService service;
  AppDataDir app_data;
  app_data.write_discovery(service.port());
  const RunResult result = run_mcp(
      "{\"jsonrpc\":\"2.0\",\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_status\"}}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_lookup\",\"arguments\":{\"text\":\"RAG\"}}}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"ping\"}\n",
      app_data.env());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "{\"id\":3,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(service.connections(), 0u);
}

TEST(McpServer, ClosedStandardOutputDoesNotStopTheLoop) {
  FakeService service;
  AppDataDir app_data;
  app_data.write_discovery(service.port());
  RunSpec settings;
  settings.words = {"mcp"};
  settings.env = app_data.env();
  settings.close_stdout = true;
  settings.stdin_bytes =
      "{\"id\":1,\"method\":\"ping\"}\n"
      "{\"id\":2,\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_lookup\",\"arguments\":{\"text\":\"after\"}}}\n";
  const RunResult result = run(settings);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(result.killed_by_signal) << result.signal;
  EXPECT_EQ(result.err, "");
  // The request after the failed write was still carried out.
  bool looked_up = false;
  for (const auto& request : service.requests()) looked_up |= request.body == R"({"text":"after"})";
  EXPECT_TRUE(looked_up);
}

}  // namespace
}  // namespace ruvo::test
