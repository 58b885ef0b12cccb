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
