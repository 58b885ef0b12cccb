// `ruvo save` as a process against a scripted service: JSON on the command
// line as it arrives, the exact request bytes and the exit codes. Every row
// of words and replies is covered in-process (tests/cli).
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

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
      {"fields last, lang given", {"--lang", "en", "--term", "RAG", "--json", "--fields"},
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

TEST(CliSave, FieldsThatAreNotJsonFailWithoutAConnection) {
  // What cmd.exe hands over for the help's single-quoted example.
  LiveService live;
  const RunResult r = live.save({"--term", "RAG", "--fields", R"('{"定义":"检索增强生成"}')"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "--fields 不是合法的 JSON：parse error at line 1, column 1: syntax error while parsing value - "
            "invalid literal; last read: '''\n");
  EXPECT_EQ(live.service.connections(), 0u);
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
