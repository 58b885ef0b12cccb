// The first word, in-process: which command it names, and the Outcome of
// the ones that need no service.
#include "bin/dispatch.hpp"

#include "cli/help.hpp"
#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ruvo::bin {
namespace {

using cli::HELP_TEXT;
using cli::Outcome;

Outcome dispatch(const std::vector<std::string>& words, test::ScriptedClient& client) {
  const Streams streams{[](char*, std::size_t) -> common::Result<std::size_t> { return std::size_t{0}; },
                        [](std::string_view) {}};
  return run_ruvo(words, client, streams);
}

TEST(HelpText, ShapeOfTheText) {
  EXPECT_EQ(HELP_TEXT.size(), 999u);
  EXPECT_EQ(std::count(HELP_TEXT.begin(), HELP_TEXT.end(), '\n'), 20);
  EXPECT_EQ(HELP_TEXT.substr(0, 22), "ruvo 0.1.8 \xE2\x80\x94\xE2\x80\x94 Ruvo");
  EXPECT_EQ(HELP_TEXT.substr(HELP_TEXT.size() - 2), "\n\n");
  EXPECT_NE(HELP_TEXT.find("\n  ruvo lookup <词> [--json]          只查本地词库（命中即 0 token）\n"), std::string_view::npos);
  EXPECT_NE(HELP_TEXT.find("\n  ruvo save --term RAG --fields '{\"定义\":\"检索增强生成\"}'\n"), std::string_view::npos);
}

TEST(Dispatch, HelpVersionAndWordsThatNameNoCommand) {
  const std::string help(HELP_TEXT);
  struct Case {
    std::vector<std::string> words;
    Outcome outcome;
  };
  const Case cases[] = {
      {{}, {0, help, ""}},
      {{"help"}, {0, help, ""}},
      {{"-h"}, {0, help, ""}},
      {{"--help"}, {0, help, ""}},
      {{"help", "lookup", "--json"}, {0, help, ""}},
      {{"-V", "ignored"}, {0, "ruvo 0.1.8\n", ""}},
      {{"--version"}, {0, "ruvo 0.1.8\n", ""}},
      {{"version"}, {0, "ruvo 0.1.8\n", ""}},
      {{"-v"}, {2, help, "未知命令：-v\n"}},
      {{"-H"}, {2, help, "未知命令：-H\n"}},
      {{"Help"}, {2, help, "未知命令：Help\n"}},
      {{" help"}, {2, help, "未知命令： help\n"}},
      {{"--json", "health"}, {2, help, "未知命令：--json\n"}},
      {{""}, {2, help, "未知命令：\n"}},
      {{"lookup "}, {2, help, "未知命令：lookup \n"}},
      {{"词"}, {2, help, "未知命令：词\n"}},
  };
  for (const auto& c : cases) {
    test::ScriptedClient client;
    EXPECT_EQ(dispatch(c.words, client), c.outcome) << ::testing::PrintToString(c.words);
    EXPECT_EQ(client.ensure_calls + client.start_calls, 0);
  }
}

TEST(Dispatch, LookupAndExplainGetTheirHintLineOnlyWhenStandardErrorIsATerminal) {
  const std::string reply = R"({"ok":true,"hit":true,"term":"RAG","entries":[{},{"origin":"user"}]})";
  const std::string hint = "另有 1 条解释：你的词条（--json 可看全部）\n";
  for (const auto hints : {cli::Hints::kNone, cli::Hints::kShown}) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"lookup", "RAG"}, {"explain", "RAG"}}) {
      SCOPED_TRACE(words[0]);
      test::ScriptedClient client;
      client.reply = common::JsonValue::parse(reply);
      Streams streams{[](char*, std::size_t) -> common::Result<std::size_t> { return std::size_t{0}; },
                      [](std::string_view) {}, {}, hints};
      const Outcome outcome = run_ruvo(words, client, streams);
      EXPECT_EQ(outcome.exit_code, 0);
      EXPECT_EQ(outcome.note, hints == cli::Hints::kShown ? hint : "");
    }
  }
}

TEST(Dispatch, EachServiceCommandReachesTheClient) {
  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> requests;
    int starts;
  };
  const Case cases[] = {
      {{"health"}, {"GET /v1/health - 3"}, 0},
      {{"lookup", "RAG"}, {R"(POST /v1/lookup {"text":"RAG"} 10)"}, 0},
      {{"explain", "RAG", "--json"},
       {R"(POST /v1/explain {"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"RAG"} 95)"}, 0},
      {{"save", "--term", "RAG"}, {R"(POST /v1/save {"categoryId":"term","fields":{},"lang":"zh","term":"RAG"} 15)"}, 0},
      {{"service"}, {}, 1},
      {{"mcp"}, {}, 0},
  };
  for (const auto& c : cases) {
    test::ScriptedClient client;
    dispatch(c.words, client);
    EXPECT_EQ(client.requests, c.requests) << c.words[0];
    EXPECT_EQ(client.start_calls, c.starts) << c.words[0];
  }
}

}  // namespace
}  // namespace ruvo::bin
