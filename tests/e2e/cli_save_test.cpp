// `ruvo save` against a scripted service: the request it sends, the
// confirmation line and each failure.
#include "support/lib/fake_service.hpp"
#include "support/lib/process.hpp"
#include "support/lib/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ruvo::test;

namespace {

const std::string kUsage = "用法：ruvo save --term <词> [--fields '<json>'] [--lang zh]\n";

// A running service found through the discovery file.
struct LiveService {
  FakeService service;
  AppDataDir appdata;
  LiveService() {
    appdata.write_discovery(service.port());
    service.on("POST /v1/save", {Reply::json(200, R"({"ok":true,"id":"t-42"})")});
  }

  RunResult save(std::vector<std::string> words) {
    words.insert(words.begin(), "save");
    return run({.words = std::move(words), .env = appdata.env()});
  }
  // The request that followed the launcher's health probe.
  std::string save_request() const {
    const auto requests = service.requests();
    if (requests.size() != 2 || requests[0].path != "/v1/health") return "<unexpected requests>";
    return requests[1].raw;
  }
};

}  // namespace

TEST(CliSave, SendsTheFourMembersAndConfirmsTheId) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::string body;
    std::string out;
  };
  const Case cases[] = {
      {"help example", {"--term", "RAG", "--fields", R"({"定义":"检索增强生成"})"},
       R"({"categoryId":"term","fields":{"定义":"检索增强生成"},"lang":"zh","term":"RAG"})",
       "已存入 Ruvo：RAG（id t-42）\n"},
      {"fields not JSON, lang given", {"--lang", "en", "--fields", "{} x", "--term", "RAG", "--json"},
       R"({"categoryId":"term","fields":{},"lang":"en","term":"RAG"})", "已存入 Ruvo：RAG（id t-42）\n"},
      {"fields as a string", {"--term", "RAG", "--fields", R"("文字")"},
       R"({"categoryId":"term","fields":"文字","lang":"zh","term":"RAG"})", "已存入 Ruvo：RAG（id t-42）\n"},
      {"term with spaces", {"--term", " 向量 "},
       R"({"categoryId":"term","fields":{},"lang":"zh","term":" 向量 "})", "已存入 Ruvo： 向量 （id t-42）\n"},
      {"term --lang", {"--term", "--lang"},
       R"({"categoryId":"term","fields":{},"lang":"zh","term":"--lang"})", "已存入 Ruvo：--lang（id t-42）\n"},
  };
  for (const auto& c : cases) {
    LiveService live;
    const RunResult r = live.save(c.words);
    EXPECT_EQ(r.exit_code, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(live.save_request(), request_bytes("POST", "/v1/save", c.body)) << c.name;
  }
}

TEST(CliSave, AnIdThatIsNotAStringLeavesItsPlaceEmpty) {
  LiveService live;
  live.service.on("POST /v1/save", {Reply::json(200, R"({"ok":true,"id":42})")});
  const RunResult r = live.save({"--term", "RAG"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "已存入 Ruvo：RAG（id ）\n");
}

TEST(CliSave, UsageErrorsNeverContactTheService) {
  const std::vector<std::string> cases[] = {
      {},
      {"RAG"},
      {"--term", "RAG", "--term"},
      {"--term", " \u3000\t"},
      {"--fields", R"({"定义":"x"})", "--lang", "en"},
  };
  for (const auto& words : cases) {
    LiveService live;
    ProgramDir programs;  // nothing to start either
    std::vector<std::string> all = words;
    all.insert(all.begin(), "save");
    const RunResult r = run({.words = all, .program = programs.ruvo(), .env = live.appdata.env()});
    EXPECT_EQ(r.exit_code, 1) << ::testing::PrintToString(words);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(live.service.connections(), 0u);
  }
}

TEST(CliSave, NoServiceAndNothingToStart) {
  AppDataDir appdata;  // no discovery file
  ProgramDir programs;
  const RunResult r =
      run({.words = {"save", "--term", "RAG"}, .program = programs.ruvo(), .env = appdata.env()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ruvo 服务没起来\n");
}

TEST(CliSave, FailedRequestsAndRepliesThatAreNotOk) {
  struct Case {
    const char* name;
    Reply reply;
    std::string err;
  };
  const Case cases[] = {
      {"bad status", Reply::raw("HTTP/1.1 2OO OK\r\n\r\n{}"), "响应状态行不合法\n"},
      {"message", Reply::json(409, R"({"ok":false,"message":"词条已存在"})"), "词条已存在\n"},
      {"no message", Reply::json(200, R"({"ok":false})"), "保存失败\n"},
      {"no ok", Reply::json(200, R"({"id":"t-1"})"), "保存失败\n"},
      {"bad token", Reply::json(401, R"({"ok":true})"), "token 不对（Ruvo 可能刚重启），重试一次\n"},
  };
  for (const auto& c : cases) {
    LiveService live;
    live.service.on("POST /v1/save", {c.reply});
    const RunResult r = live.save({"--term", "RAG"});
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
  }
}
