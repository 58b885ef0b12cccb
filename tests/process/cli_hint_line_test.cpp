// The hint line after a lookup or explain, as a process: through pipes not a
// byte of either stream changes for replies that carry suggestions or more
// entries; a terminal's standard error gets the one line after everything
// else, its service text made safe, and never with --json.
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ruvo::test;

namespace {

struct LiveService {
  FakeService service;
  AppDataDir appdata;
  LiveService() { appdata.write_discovery(service.port()); }

  RunResult run_words(std::vector<std::string> words, bool terminal_stderr) const {
    return run({.words = std::move(words), .env = appdata.env(), .terminal_stderr = terminal_stderr});
  }
};

const char* const kLookupHit =
    R"({"ok":true,"hit":true,"term":"RAG","definition":"检索增强生成","dictionary":{"id":"g","name":"内置"},)"
    R"("entries":[{"origin":"glossary"},{"dictionary":{"id":"d1","name":"FOLDOC"}},)"
    R"({"dictionary":{"id":"d2","name":"Jar\u001b[2Jgon"}}]})";
const char* const kLookupMiss = R"({"ok":true,"hit":false,"suggestions":["RAG","Rag"]})";
const char* const kExplainHit = R"({"ok":true,"term":"RAG","source":"local","definition":"检索增强生成",)"
                                R"("entries":[{"origin":"user"},{"origin":"model"}]})";
const char* const kExplainMiss =
    R"({"ok":false,"kind":"miss","message":"词库里没有「rga」，而这次不允许调用模型","suggestions":["RAG"]})";

struct Case {
  const char* name;
  const char* route;
  const char* reply;
  std::vector<std::string> words;
  int exit_code;
  std::string out;   // standard output, the same whether standard error is a terminal or not
  std::string err;   // standard error through a pipe
  std::string hint;  // what a terminal's standard error gets after `err`
};

const std::string kR = "\xEF\xBF\xBD";  // U+FFFD, as a terminal is shown a control character

const Case kCases[] = {
    {"lookup hit",
     "POST /v1/lookup",
     kLookupHit,
     {"lookup", "rag"},
     0,
     "RAG\n定义：检索增强生成\n",
     "",
     "另有 2 条解释：FOLDOC、Jar" + kR + "[2Jgon（--json 可看全部）\n"},
    {"lookup miss",
     "POST /v1/lookup",
     kLookupMiss,
     {"lookup", "rga"},
     0,
     "词库里没有「rga」\n",
     "",
     "是不是要找：RAG、Rag\n"},
    {"explain hit",
     "POST /v1/explain",
     kExplainHit,
     {"explain", "RAG"},
     0,
     "RAG（local）\n\n定义：检索增强生成\n",
     "",
     "另有 1 条解释：模型的解释（--json 可看全部）\n"},
    {"explain miss",
     "POST /v1/explain",
     kExplainMiss,
     {"explain", "rga", "--no-cloud"},
     1,
     "",
     "词库里没有「rga」，而这次不允许调用模型\n",
     "是不是要找：RAG\n"},
};

}  // namespace

TEST(CliHintLine, ThroughPipesNotAByteChanges) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    LiveService live;
    live.service.on(c.route, {Reply::json(200, c.reply)});
    const RunResult r = live.run_words(c.words, false);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(CliHintLine, ATerminalsStandardErrorGetsOneLineAfterEverythingElse) {
  if (running_under_launcher()) GTEST_SKIP() << "a pseudo-terminal is not a Windows console";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    LiveService live;
    live.service.on(c.route, {Reply::json(200, c.reply)});
    const RunResult r = live.run_words(c.words, true);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out, c.out);
    // On a slow machine explain may have shown its wait line first.
    EXPECT_EQ(split_wait_line(r.err).rest, c.err + c.hint);

    // --json shows everything and adds nothing.
    std::vector<std::string> json_words = c.words;
    json_words.push_back("--json");
    const RunResult json = live.run_words(json_words, true);
    EXPECT_EQ(json.exit_code, 0) << json.err;
    EXPECT_EQ(split_wait_line(json.err).rest, "");
    EXPECT_EQ(json.out, live.run_words(json_words, false).out);
  }
}
