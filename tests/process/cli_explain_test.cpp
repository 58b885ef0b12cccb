// `ruvo explain` as a process against a scripted service: text from a word
// and from standard input, the exact request bytes and the exit codes. Every
// row of words and replies is covered in-process (tests/cli).
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait_line.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace ruvo::test;

namespace {

const std::string kUsage =
    "用法：ruvo explain <文字|-> [--mode auto|term|passage] [--lang zh|en] [--no-cloud] [--json]\n";

std::string explain_body(const std::string& text, const std::string& lang = "zh",
                         const std::string& mode = "auto", bool allow_cloud = true) {
  return std::string(R"({"allowCloud":)") + (allow_cloud ? "true" : "false") +
         R"(,"context":"","lang":")" + lang + R"(","mode":")" + mode + R"(","text":")" + text + "\"}";
}

std::string repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// A running service found through the discovery file.
struct LiveService {
  FakeService service;
  AppDataDir appdata;
  LiveService() {
    appdata.write_discovery(service.port());
    service.on("POST /v1/explain", {Reply::json(200, R"({"ok":true,"term":"T","source":"local"})")});
  }

  RunResult explain(std::vector<std::string> words, std::optional<std::string> input = std::nullopt) {
    words.insert(words.begin(), "explain");
    return run({.words = std::move(words), .env = appdata.env(), .stdin_bytes = std::move(input)});
  }
  // The request that followed the launcher's health probe.
  std::string explain_request() const {
    const auto requests = service.requests();
    if (requests.size() != 2 || requests[0].path != "/v1/health") return "<unexpected requests>";
    return requests[1].raw;
  }
};

}  // namespace

TEST(CliExplain, StandardInputWithLangAndJson) {
  LiveService live;
  live.service.on("POST /v1/explain",
                  {Reply::json(200, R"({"ok":true,"term":"一些文字","source":"model","plain":"some text"})")});
  // echo 一些文字 | ruvo explain - --lang en --json
  const RunResult r = live.explain({"-", "--lang", "en", "--json"}, "一些文字\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "{\n  \"ok\": true,\n  \"plain\": \"some text\",\n  \"source\": \"model\",\n"
            "  \"term\": \"一些文字\"\n}\n");
  EXPECT_EQ(live.explain_request(), request_bytes("POST", "/v1/explain", explain_body("一些文字", "en")));
}

TEST(CliExplain, RendersTheHeaderAndSpacedFields) {
  LiveService live;
  live.service.on("POST /v1/explain",
                  {Reply::json(200, R"({"ok":true,"term":"RAG","source":"local",)"
                                    R"("definition":"检索增强生成","plain":"先查再答","example":" "})")});
  const RunResult r = live.explain({"RAG", "--mode", "term", "--no-cloud"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "RAG（local）\n\n定义：检索增强生成\n\n通俗解释：先查再答\n");
  EXPECT_EQ(live.explain_request(), request_bytes("POST", "/v1/explain", explain_body("RAG", "zh", "term", false)));
}

TEST(CliExplain, LongTextIsCutTo2000Characters) {
  const std::string kept = repeat("汉", 2000);
  // From standard input, with white space around that does not count.
  {
    LiveService live;
    const RunResult r = live.explain({"-"}, " \n" + kept + "字\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(live.explain_request(), request_bytes("POST", "/v1/explain", explain_body(kept)));
  }
  // From a word.
  {
    LiveService live;
    const RunResult r = live.explain({kept + "字"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(live.explain_request(), request_bytes("POST", "/v1/explain", explain_body(kept)));
  }
}

TEST(CliExplain, UsageErrorsNeverContactTheService) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::optional<std::string> input;
  };
  const Case cases[] = {
      {"no word", {}, std::nullopt},
      {"- with blank input", {"-"}, " \n\u3000\n"},
      {"- with input that is not UTF-8", {"-", "--json"}, "文字\xff\xfe"},
  };
  for (const auto& c : cases) {
    LiveService live;
    ProgramDir programs;  // nothing to start either
    std::vector<std::string> words = c.words;
    words.insert(words.begin(), "explain");
    const RunResult r = run({.words = words, .program = programs.ruvo(), .env = live.appdata.env(),
                             .stdin_bytes = c.input});
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err, kUsage) << c.name;
    EXPECT_EQ(live.service.connections(), 0u) << c.name;
  }
}

TEST(CliExplain, NoServiceAndNothingToStart) {
  AppDataDir appdata;  // no discovery file
  ProgramDir programs;
  const RunResult r = run({.words = {"explain", "RAG"}, .program = programs.ruvo(), .env = appdata.env()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ruvo 服务没起来\n");
}

TEST(CliExplain, ASlowReplyIsShownOnATerminalOnlyAndErasedFirst) {
  if (running_under_launcher()) GTEST_SKIP() << "a pseudo-terminal is not a Windows console";
  // The service answers after 1.5 s, past the half second after which a
  // person at a terminal is shown that ruvo is waiting.
  struct Case {
    const char* name;
    std::string body;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"an explanation", R"({"ok":true,"term":"RAG","source":"model","definition":"检索增强生成"})", {"RAG"}},
      {"a failure", R"({"ok":false,"message":"模型超时"})", {"RAG"}},
      {"--json", R"({"ok":false,"message":"模型超时"})", {"RAG", "--json"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LiveService live;
    Reply slow = Reply::json(200, c.body);
    slow.delay_ms = 1500;
    live.service.on("POST /v1/explain", {slow});
    const RunResult piped = live.explain(c.words);

    std::vector<std::string> words = c.words;
    words.insert(words.begin(), "explain");
    const RunResult shown = run({.words = words, .env = live.appdata.env(), .terminal_stderr = true});
    EXPECT_EQ(shown.exit_code, piped.exit_code);
    EXPECT_EQ(shown.out, piped.out);
    const WaitLineBytes split = split_wait_line(shown.err);
    EXPECT_TRUE(split.erased) << shown.err;
    EXPECT_NE(split.shown.find("正在解释，已等 "), std::string::npos) << shown.err;
    EXPECT_EQ(split.rest, piped.err);
    // The requests are the same with the line as without.
    const auto requests = live.service.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].raw, requests[1].raw);
  }
}

TEST(CliExplain, WithStandardErrorPipedAWaitChangesNoByte) {
  // What a slow reply gives through pipes is exactly what a quick one gives.
  LiveService live;
  const std::string body = R"({"ok":true,"term":"RAG","source":"model","definition":"检索增强生成"})";
  live.service.on("POST /v1/explain", {Reply::json(200, body)});
  const RunResult quick = live.explain({"RAG"});
  Reply slow = Reply::json(200, body);
  slow.delay_ms = 1500;
  live.service.on("POST /v1/explain", {slow});
  const RunResult waited = live.explain({"RAG"});
  EXPECT_EQ(quick.exit_code, 0);
  EXPECT_EQ(quick.out, "RAG（model）\n\n定义：检索增强生成\n");
  EXPECT_EQ(quick.err, "");
  EXPECT_EQ(waited.exit_code, quick.exit_code);
  EXPECT_EQ(waited.out, quick.out);
  EXPECT_EQ(waited.err, quick.err);
}
