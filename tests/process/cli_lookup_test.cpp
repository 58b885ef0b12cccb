// `ruvo lookup` as a process against a scripted service: the exact request
// bytes, words as the command line carries them, and the exit codes. Every
// row of words and replies is covered in-process (tests/cli).
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ruvo::test;

namespace {

// A running service found through the discovery file.
struct LiveService {
  FakeService service;
  AppDataDir appdata;
  LiveService() { appdata.write_discovery(service.port()); }

  RunResult lookup(std::vector<std::string> words) {
    words.insert(words.begin(), "lookup");
    return run({.words = std::move(words), .env = appdata.env()});
  }
  // The request that followed the launcher's health probe.
  std::string lookup_request() const {
    const auto requests = service.requests();
    if (requests.size() != 2 || requests[0].path != "/v1/health") return "<unexpected requests>";
    return requests[1].raw;
  }
};

const char* const kHitReply =
    R"({"hit":true,"term":"RAG","definition":"检索增强生成","plain":"  ","ok":true})";

}  // namespace

TEST(CliLookup, HitPrintsTheNameLineAndShownFields) {
  LiveService live;
  live.service.on("POST /v1/lookup", {Reply::json(200, kHitReply)});
  const RunResult r = live.lookup({"rag"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "RAG\n定义：检索增强生成\n");
  EXPECT_EQ(live.lookup_request(), request_bytes("POST", "/v1/lookup", R"({"text":"rag"})"));
}

TEST(CliLookup, JsonSwitchBeforeOrAfterTheTermPrintsTheWholeReply) {
  for (const auto& words : {std::vector<std::string>{"--json", "RAG"}, std::vector<std::string>{"RAG", "--json"}}) {
    LiveService live;
    live.service.on("POST /v1/lookup", {Reply::json(200, R"({"hit":false,"ok":true})")});
    const RunResult r = live.lookup(words);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "{\n  \"hit\": false,\n  \"ok\": true\n}\n");
    EXPECT_EQ(live.lookup_request(), request_bytes("POST", "/v1/lookup", R"({"text":"RAG"})"));
  }
}

TEST(CliLookup, TermsAreSentAndEchoedExactlyAsTyped) {
  struct Case {
    std::vector<std::string> words;
    std::string body;
    std::string out;
  };
  const Case cases[] = {
      {{"-"}, R"({"text":"-"})", "词库里没有「-」\n"},
      {{""}, R"({"text":""})", "词库里没有「」\n"},
      {{"--foo", " 向量 库 ", "more"}, R"({"text":" 向量 库 "})", "词库里没有「 向量 库 」\n"},
      {{"say \"hi\"\t"}, R"({"text":"say \"hi\"\t"})", "词库里没有「say \"hi\"\t」\n"},
  };
  for (const auto& c : cases) {
    LiveService live;
    live.service.on("POST /v1/lookup", {Reply::json(200, R"({"hit":false,"ok":true})")});
    const RunResult r = live.lookup(c.words);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(live.lookup_request(), request_bytes("POST", "/v1/lookup", c.body));
  }
}

TEST(CliLookup, NoServiceAndNothingToStart) {
  AppDataDir appdata;  // no discovery file
  ProgramDir programs;
  const RunResult r = run({.words = {"lookup", "RAG"}, .program = programs.ruvo(), .env = appdata.env()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ruvo 服务没起来\n");
}

TEST(CliLookup, AFailedRequestPrintsItsErrorText) {
  LiveService live;
  live.service.on("POST /v1/lookup", {Reply::raw("HTTP/1.1 200 OK\r\n")});
  for (const auto& words : {std::vector<std::string>{"RAG"}, std::vector<std::string>{"RAG", "--json"}}) {
    const RunResult r = live.lookup(words);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "响应没有头体分隔\n");
  }
}

TEST(CliLookup, ControlCharactersReachATerminalAsReplacementCharacters) {
  if (running_under_launcher()) GTEST_SKIP() << "a pseudo-terminal is not a Windows console";
  // Anyone who can save a term can put escapes in its fields; on a terminal
  // they are shown, through a pipe they are passed on exactly.
  LiveService live;
  live.service.on("POST /v1/lookup",
                  {Reply::json(200, R"({"hit":true,"ok":true,"term":"RAG\u001b]0;pwned\u0007",)"
                                    R"("definition":"检索\r增强\u001b[2J生成","example":"a\tb\u009b"})")});
  const std::string r = "\xEF\xBF\xBD";
  const RunResult shown = run({.words = {"lookup", "RAG"}, .env = live.appdata.env(), .terminal_outputs = true});
  EXPECT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_EQ(shown.out, "RAG" + r + "]0;pwned" + r + "\n定义：检索" + r + "增强" + r + "[2J生成\n例子：a\tb" + r + "\n");

  const RunResult piped = live.lookup({"RAG"});
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out, "RAG\x1b]0;pwned\a\n定义：检索\r增强\x1b[2J生成\n例子：a\tb\xC2\x9B\n");

  // A message from the service on standard error gets the same treatment.
  live.service.on("POST /v1/lookup", {Reply::json(200, R"({"ok":false,"message":"坏了\u001b[31m"})")});
  const RunResult failed = run({.words = {"lookup", "RAG"}, .env = live.appdata.env(), .terminal_outputs = true});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "坏了" + r + "[31m\n");
  EXPECT_EQ(live.lookup({"RAG"}).err, "坏了\x1b[31m\n");
}

TEST(CliLookup, AReplyThatDripsEndsWithTheReadTimeOut) {
  // The probe is answered at once; the lookup's reply then comes a byte every
  // half second, which would take many minutes in all.
  LiveService live;
  Reply dripping = Reply::json(200, R"({"hit":false,"ok":true,"padding":")" + std::string(2000, 'x') + "\"}");
  dripping.drip_ms = 500;
  live.service.on("POST /v1/lookup", {dripping});
  const RunResult r = live.lookup({"RAG"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("read: ", 0), 0u) << r.err;
}
