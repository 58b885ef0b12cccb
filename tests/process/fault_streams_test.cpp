// Standard output or error closed before ruvo writes: the write fails, the
// process is not killed by SIGPIPE, the work is still done and the exit code
// still tells the outcome.
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ruvo::test {
namespace {

struct StreamCase {
  const char* name;
  std::vector<std::string> words;
  std::optional<std::string> stdin_bytes;
  const char* route;  // the request that must reach the service ("" for none)
  Reply reply;
  bool close_stdout;
  bool close_stderr;
  int exit_code;
};

// A reply far larger than a pipe holds, so a write that blocked on a reader
// that is gone would show as a time-out.
std::string big_hit() {
  return R"({"ok":true,"hit":true,"term":"RAG","definition":")" + std::string(512 * 1024, 'x') + "\"}";
}

TEST(FaultStreams, ClosedStreamsNeverKillTheCommands) {
  const Reply hit = Reply::json(200, R"({"ok":true,"hit":true,"term":"RAG","definition":"检索增强生成"})");
  const Reply explained = Reply::json(200, R"({"ok":true,"term":"RAG","source":"local","plain":"先查再答"})");
  const Reply saved = Reply::json(200, R"({"ok":true,"id":"7"})");
  const Reply refused = Reply::json(200, R"({"ok":false,"message":"词库读写失败"})");
  const Reply broken = Reply::raw("HTTP/1.1 200 OK\r\n");
  const StreamCase cases[] = {
      // Results to a reader that has gone away.
      {"lookup hit", {"lookup", "RAG"}, {}, "POST /v1/lookup", hit, true, false, 0},
      {"lookup big hit", {"lookup", "RAG"}, {}, "POST /v1/lookup", Reply::json(200, big_hit()), true, false, 0},
      {"lookup json", {"lookup", "RAG", "--json"}, {}, "POST /v1/lookup", hit, true, false, 0},
      {"lookup miss", {"lookup", "无"}, {}, "POST /v1/lookup", Reply::json(200, R"({"ok":true,"hit":false})"),
       true, false, 0},
      {"explain", {"explain", "RAG"}, {}, "POST /v1/explain", explained, true, false, 0},
      {"explain stdin json", {"explain", "-", "--json"}, "RAG\n", "POST /v1/explain", explained, true, false, 0},
      {"save", {"save", "--term", "RAG"}, {}, "POST /v1/save", saved, true, false, 0},
      {"save, both closed", {"save", "--term", "RAG"}, {}, "POST /v1/save", saved, true, true, 0},
      // Failure lines to a closed standard error.
      {"lookup failed", {"lookup", "RAG"}, {}, "POST /v1/lookup", broken, false, true, 1},
      {"explain refused", {"explain", "RAG"}, {}, "POST /v1/explain", refused, false, true, 1},
      {"save refused", {"save", "--term", "RAG"}, {}, "POST /v1/save", refused, false, true, 1},
      {"save refused, both closed", {"save", "--term", "RAG"}, {}, "POST /v1/save", refused, true, true, 1},
      {"lookup usage", {"lookup"}, {}, "", hit, true, true, 1},
      {"explain usage", {"explain", "-"}, "  \n", "", explained, true, true, 1},
      {"save usage", {"save", "RAG"}, {}, "", saved, true, true, 1},
  };
  for (const auto& c : cases) {
    FakeService service;
    if (*c.route != '\0') service.on(c.route, {c.reply});
    AppDataDir app_data;
    app_data.write_discovery(service.port());
    ProgramDir programs;
    const RunResult r = run({.words = c.words,
                             .program = programs.ruvo(),
                             .env = app_data.env(),
                             .stdin_bytes = c.stdin_bytes,
                             .close_stdout = c.close_stdout,
                             .close_stderr = c.close_stderr});
    EXPECT_FALSE(r.killed_by_signal) << c.name << ": signal " << r.signal;
    EXPECT_FALSE(r.timed_out) << c.name;
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << ": " << r.err;
    if (!c.close_stdout) {
      EXPECT_EQ(r.out, "") << c.name;
    }
    if (!c.close_stderr && c.exit_code == 0) {
      EXPECT_EQ(r.err, "") << c.name;
    }
    // The request was made (or, for a usage error, never was).
    bool asked = false;
    for (const auto& request : service.requests()) {
      asked |= request.method + " " + request.path == c.route;
    }
    EXPECT_EQ(asked, *c.route != '\0') << c.name;
  }
}

TEST(FaultStreams, McpWithBothOutputsClosedServesToTheEnd) {
  FakeService service;
  AppDataDir app_data;
  app_data.write_discovery(service.port());
  ProgramDir programs;
  const RunResult r = run(
      {.words = {"mcp"},
       .program = programs.ruvo(),
       .env = app_data.env(),
       .stdin_bytes = "{\"id\":1,\"method\":\"initialize\"}\n"
                      "not json\n"
                      "{\"id\":2,\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_save\",\"arguments\":{\"term\":\"a\"}}}\n"
                      "{\"id\":3,\"method\":\"tools/call\",\"params\":{\"name\":\"ruvo_lookup\",\"arguments\":{\"text\":\"b\"}}}",
       .close_stdout = true,
       .close_stderr = true});
  EXPECT_FALSE(r.killed_by_signal) << r.signal;
  EXPECT_EQ(r.exit_code, 0);
  std::vector<std::string> bodies;
  for (const auto& request : service.requests()) {
    if (request.path != "/v1/health") bodies.push_back(request.body);
  }
  const std::vector<std::string> expected = {R"({"categoryId":"term","fields":{},"lang":"zh","term":"a"})",
                                             R"({"text":"b"})"};
  EXPECT_EQ(bodies, expected);
}

}  // namespace
}  // namespace ruvo::test
