// ruvo against the real local service, ruvo-gui.exe, which ruvo finds beside
// itself and starts in a temporary application-data folder.
#include "support/local_service.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace ruvo::test;

namespace {

class RealService : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!setup_.usable(&why)) GTEST_SKIP() << why;
  }

  RunResult ruvo(std::vector<std::string> words, std::optional<std::string> input = std::nullopt) {
    return setup_.ruvo(std::move(words), std::move(input));
  }

  RuvoWithService setup_;
};

}  // namespace

TEST_F(RealService, FirstCommandStartsTheServiceAndTheGlossaryAnswers) {
  const RunResult lookup = ruvo({"lookup", "RAG"});
  ASSERT_EQ(lookup.exit_code, 0) << lookup.err;
  EXPECT_EQ(lookup.out.rfind("RAG\n定义：", 0), 0u) << lookup.out;
  EXPECT_EQ(setup_.service_pids().size(), 1u);

  const RunResult explain = ruvo({"explain", "rag"});
  ASSERT_EQ(explain.exit_code, 0) << explain.err;
  EXPECT_EQ(explain.out.rfind("RAG（local）\n\n定义：", 0), 0u) << explain.out;

  const RunResult health = ruvo({"health"});
  EXPECT_EQ(health.exit_code, 0);
  EXPECT_NE(health.out.find("\"ok\": true"), std::string::npos) << health.out;
  EXPECT_NE(health.out.find("\"terms\": "), std::string::npos) << health.out;

  const RunResult miss = ruvo({"explain", "没有这个词条", "--no-cloud"});
  EXPECT_EQ(miss.exit_code, 1);
  EXPECT_EQ(miss.out, "");
  EXPECT_NE(miss.err.find("没有这个词条"), std::string::npos) << miss.err;
}

TEST_F(RealService, SaveThenLookupAndTheDataOutlivesTheService) {
  const RunResult save = ruvo({"save", "--term", "检索后生成", "--fields", R"({"定义":"先检索再生成","例子":"问答"})"});
  ASSERT_EQ(save.exit_code, 0) << save.err;
  EXPECT_EQ(save.out.rfind("已存入 Ruvo：检索后生成（id ", 0), 0u) << save.out;

  // Killed outright right after the answered save; the next command starts
  // a new instance, which still holds the term.
  kill_all_running(setup_.service_program());
  const RunResult lookup = ruvo({"lookup", "检索后生成"});
  ASSERT_EQ(lookup.exit_code, 0) << lookup.err;
  EXPECT_EQ(lookup.out, "检索后生成\n定义：先检索再生成\n例子：问答\n");
}

TEST_F(RealService, ConcurrentSavesLoseNothing) {
  ASSERT_EQ(ruvo({"health"}).exit_code, 0);  // one service for all of them
  constexpr int kSavers = 8;
  std::vector<RunResult> results(kSavers);
  std::vector<std::thread> savers;
  for (int i = 0; i < kSavers; ++i) {
    savers.emplace_back([this, i, &results] {
      results[i] = ruvo({"save", "--term", "并发词" + std::to_string(i), "--fields",
                         "{\"定义\":\"第" + std::to_string(i) + "个\"}"});
    });
  }
  for (auto& t : savers) t.join();
  for (int i = 0; i < kSavers; ++i) {
    EXPECT_EQ(results[i].exit_code, 0) << results[i].err;
    const RunResult lookup = ruvo({"lookup", "并发词" + std::to_string(i)});
    EXPECT_EQ(lookup.out, "并发词" + std::to_string(i) + "\n定义：第" + std::to_string(i) + "个\n");
  }
}

TEST_F(RealService, McpStatusReportsTheNumberOfTerms) {
  const RunResult r = ruvo({"mcp"}, std::string(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"ruvo_status"}})"
                                                "\n"));
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("\"isError\":false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\\"terms\\\": "), std::string::npos) << r.out;
}

TEST_F(RealService, HealthThroughAPipeEnds) {
  auto env = setup_.appdata().env();
  const RunResult r = run({.words = {"-c", "\"$0\" health | cat", setup_.programs().ruvo()}, .program = "/bin/sh",
                           .env = env, .timeout_seconds = 60});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\"ok\": true"), std::string::npos);
}
