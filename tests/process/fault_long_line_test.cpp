// Very long lines on the MCP channel: tens of MiB in one message, in one
// blank line and in one line of junk. The reader must take each in time
// linear in its length; the only check on time is that the session ends
// within the run's (generous) time-out, which a reader that rescans or
// recopies its buffer for every piece it reads would not.
#include "common/json.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ruvo::test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

TEST(FaultLongLine, TensOfMebibytesInOneLine) {
  std::string input;
  input.reserve(100 * kMiB);
  // A request whose parameters hold one 48 MiB string.
  input += R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")";
  input.append(48 * kMiB, 'x');
  input += "\"}}\n";
  // A blank line of 16 MiB, and 16 MiB of opening brackets (far past the
  // nesting limit): no reply to either.
  for (std::size_t i = 0; i < 16 * kMiB / 2; ++i) input += " \t";
  input += "\n";
  input.append(16 * kMiB, '[');
  input += "\n";
  // Two million small elements in one message.
  input += R"({"id":2,"method":"ping","params":{"list":[)";
  for (int i = 0; i < 2000000; ++i) input += i == 0 ? "0" : ",0";
  input += "]}}\r\n";
  // And the session goes on; the last line has no line feed.
  input += R"({"id":3,"method":"ping"})";

  AppDataDir app_data;  // no service is needed for ping
  RunSpec settings;
  settings.words = {"mcp"};
  settings.env = app_data.env();
  settings.stdin_bytes = std::move(input);
  const RunResult r = run(settings);
  EXPECT_FALSE(r.timed_out) << "the session did not end within " << settings.timeout_seconds << " s";
  EXPECT_FALSE(r.killed_by_signal) << r.signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"id\":3,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

}  // namespace
}  // namespace ruvo::test
