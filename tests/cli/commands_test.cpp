// The person's commands run in-process against a scripted client: for each
// row of words (and standard input), what is asked of the service and the
// Outcome: exit code and the bytes of both streams.
#include "cli/explain.hpp"
#include "cli/health.hpp"
#include "cli/lookup.hpp"
#include "cli/save.hpp"
#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using common::JsonValue;
using test::ScriptedClient;

JsonValue json(std::string_view text) { return JsonValue::parse(text); }

// Standard input that gives `bytes` in pieces of at most `piece` bytes.
platform::ReadFunction input_of(std::optional<std::string> bytes, std::size_t piece = 7) {
  auto left = std::make_shared<std::string>(bytes.value_or(""));
  return [left, piece](char* buffer, std::size_t capacity) -> common::Result<std::size_t> {
    const std::size_t n = std::min({left->size(), capacity, piece});
    left->copy(buffer, n);
    left->erase(0, n);
    return n;
  };
}

std::string explain_line(const std::string& text, const std::string& lang = "zh", const std::string& mode = "auto",
                         bool allow_cloud = true) {
  return std::string(R"(POST /v1/explain {"allowCloud":)") + (allow_cloud ? "true" : "false") +
         R"(,"context":"","lang":")" + lang + R"(","mode":")" + mode + R"(","text":")" + text + "\"} 95";
}

std::string save_line(const std::string& fields, const std::string& term, const std::string& lang = "zh") {
  return R"(POST /v1/save {"categoryId":"term","fields":)" + fields + R"(,"lang":")" + lang + R"(","term":")" +
         term + "\"} 15";
}

std::string repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

const std::string kBadToken = "token 不对（Ruvo 可能刚重启），重试一次";
const std::string kExplainUsageLine = std::string(kExplainUsage) + "\n";
const std::string kSaveUsageLine = std::string(kSaveUsage) + "\n";

// ---- lookup ----

TEST(LookupCommand, WhatIsSentAndPrinted) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    common::Result<JsonValue> reply;
    std::string request;  // the one line the client records
    Outcome outcome;
  };
  const Case cases[] = {
      {"hit", {"rag"}, json(R"({"hit":true,"term":"RAG","definition":"检索增强生成","plain":"  ","ok":true})"),
       R"(POST /v1/lookup {"text":"rag"} 10)", {0, "RAG\n定义：检索增强生成\n", ""}},
      {"json before", {"--json", "RAG"}, json(R"({"hit":false,"ok":true})"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {0, "{\n  \"hit\": false,\n  \"ok\": true\n}\n", ""}},
      {"json after", {"RAG", "--json"}, json(R"({"hit":false,"ok":true})"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {0, "{\n  \"hit\": false,\n  \"ok\": true\n}\n", ""}},
      {"dash is a term", {"-"}, json(R"({"hit":false})"), R"(POST /v1/lookup {"text":"-"} 10)",
       {0, "词库里没有「-」\n", ""}},
      {"empty word is a term", {""}, json(R"({"hit":false})"), R"(POST /v1/lookup {"text":""} 10)",
       {0, "词库里没有「」\n", ""}},
      {"as typed", {"--foo", " 向量 库 ", "more"}, json(R"({"hit":false})"), R"(POST /v1/lookup {"text":" 向量 库 "} 10)",
       {0, "词库里没有「 向量 库 」\n", ""}},
      {"quotes and tabs", {"say \"hi\"\t"}, json(R"({"hit":false})"), R"(POST /v1/lookup {"text":"say \"hi\"\t"} 10)",
       {0, "词库里没有「say \"hi\"\t」\n", ""}},
      // A reply that reports a failure fails with its message (a stale token,
      // a damaged store), and comes whole with --json.
      {"bad token", {"RAG"}, json(R"({"kind":"auth","message":"x","ok":false})"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {1, "", "x\n"}},
      {"store failure", {"RAG"}, json(R"({"kind":"store","message":"词库读写失败：disk I/O error","ok":false})"),
       R"(POST /v1/lookup {"text":"RAG"} 10)", {1, "", "词库读写失败：disk I/O error\n"}},
      {"failure without a message", {"RAG"}, json(R"({"ok":false,"message":""})"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {1, "", "查询失败\n"}},
      {"a real miss", {"RAG"}, json(R"({"ok":true,"hit":false})"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {0, "词库里没有「RAG」\n", ""}},
      {"bad token json", {"RAG", "--json"}, json(R"({"kind":"auth","message":"x","ok":false})"),
       R"(POST /v1/lookup {"text":"RAG"} 10)", {0, "{\n  \"kind\": \"auth\",\n  \"message\": \"x\",\n  \"ok\": false\n}\n", ""}},
      {"failed exchange", {"RAG"}, common::failure("响应没有头体分隔"), R"(POST /v1/lookup {"text":"RAG"} 10)",
       {1, "", "响应没有头体分隔\n"}},
      {"failed exchange json", {"RAG", "--json"}, common::failure("响应没有头体分隔"),
       R"(POST /v1/lookup {"text":"RAG"} 10)", {1, "", "响应没有头体分隔\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    client.reply = c.reply;
    EXPECT_EQ(run_lookup(c.words, client), c.outcome);
    EXPECT_EQ(client.requests, std::vector<std::string>{c.request});
  }
}

TEST(LookupCommand, UsageAndServiceDown) {
  for (const auto& words : {std::vector<std::string>{}, {"--json"}, {"--json", "--foo", "--"}}) {
    ScriptedClient client;
    EXPECT_EQ(run_lookup(words, client), (Outcome{1, "", "用法：ruvo lookup <词>\n"}));
    EXPECT_EQ(client.ensure_calls, 0) << ::testing::PrintToString(words);
  }
  ScriptedClient down;
  down.service_up = false;
  EXPECT_EQ(run_lookup({"RAG"}, down), (Outcome{1, "", "Ruvo 服务没起来\n"}));
  EXPECT_TRUE(down.requests.empty());
}

// ---- explain ----

TEST(ExplainCommand, WhatIsSentAndPrinted) {
  const std::string kept = repeat("汉", 2000);
  const JsonValue local = json(R"({"ok":true,"term":"T","source":"local"})");
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::optional<std::string> input;
    JsonValue reply;
    std::string request;
    Outcome outcome;
  };
  const Case cases[] = {
      {"stdin, lang and json", {"-", "--lang", "en", "--json"}, "一些文字\n",
       json(R"({"ok":true,"term":"一些文字","source":"model","plain":"some text"})"), explain_line("一些文字", "en"),
       {0, "{\n  \"ok\": true,\n  \"plain\": \"some text\",\n  \"source\": \"model\",\n  \"term\": \"一些文字\"\n}\n", ""}},
      {"header and spaced fields", {"RAG", "--mode", "term", "--no-cloud"}, std::nullopt,
       json(R"({"ok":true,"term":"RAG","source":"local","definition":"检索增强生成","plain":"先查再答","example":" "})"),
       explain_line("RAG", "zh", "term", false), {0, "RAG（local）\n\n定义：检索增强生成\n\n通俗解释：先查再答\n", ""}},
      {"mode takes --json", {"--mode", "--json", "RAG"}, std::nullopt, local, explain_line("RAG", "zh", "--json"),
       {0, "T（local）\n", ""}},
      {"first plain word only", {"foo", "bar"}, std::nullopt, local, explain_line("foo"), {0, "T（local）\n", ""}},
      {"- replaces the text", {"foo", "-"}, "标准输入", local, explain_line("标准输入"), {0, "T（local）\n", ""}},
      {"- keeps the text", {"-", "foo"}, "标准输入", local, explain_line("标准输入"), {0, "T（local）\n", ""}},
      {"an unknown option is text", {"--help"}, std::nullopt, local, explain_line("--help"), {0, "T（local）\n", ""}},
      {"values go unchanged", {"x", "--lang", "fr", "--mode", "whatever"}, std::nullopt, local,
       explain_line("x", "fr", "whatever"), {0, "T（local）\n", ""}},
      {"trimmed, inner space kept", {"\u3000 向量 数据库 \n"}, std::nullopt, local, explain_line("向量 数据库"),
       {0, "T（local）\n", ""}},
      {"stdin cut to 2000 after leading space", {"-"}, " \n" + kept + "字\n", local, explain_line(kept),
       {0, "T（local）\n", ""}},
      {"word cut to 2000", {kept + "字"}, std::nullopt, local, explain_line(kept), {0, "T（local）\n", ""}},
      {"reply with a message", {"RAG"}, std::nullopt, json(R"({"ok":false,"message":"模型超时"})"), explain_line("RAG"),
       {1, "", "模型超时\n"}},
      {"reply without a message", {"RAG"}, std::nullopt, json(R"({"ok":false,"term":"RAG"})"), explain_line("RAG"),
       {1, "", "解释失败\n"}},
      {"ok as a string", {"RAG"}, std::nullopt, json(R"({"ok":"true","message":7})"), explain_line("RAG"),
       {1, "", "解释失败\n"}},
      {"bad token", {"RAG"}, std::nullopt, json(R"({"kind":"auth","message":"token 不对（Ruvo 可能刚重启），重试一次","ok":false})"),
       explain_line("RAG"), {1, "", kBadToken + "\n"}},
      {"not ok but --json", {"RAG", "--json"}, std::nullopt, json(R"({"ok":false,"message":"模型超时"})"),
       explain_line("RAG"), {0, "{\n  \"message\": \"模型超时\",\n  \"ok\": false\n}\n", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    client.reply = c.reply;
    EXPECT_EQ(run_explain(c.words, client, input_of(c.input)), c.outcome);
    EXPECT_EQ(client.requests, std::vector<std::string>{c.request});
  }
}

TEST(ExplainCommand, AFailedExchangeShowsItsText) {
  ScriptedClient client;
  client.reply = common::failure("响应不是 JSON：parse error at line 1, column 1: x");
  EXPECT_EQ(run_explain({"RAG", "--json"}, client, input_of(std::nullopt)),
            (Outcome{1, "", "响应不是 JSON：parse error at line 1, column 1: x\n"}));
}

TEST(ExplainCommand, UsageErrorsNeverContactTheService) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::optional<std::string> input;
  };
  const Case cases[] = {
      {"no word", {}, std::nullopt},
      {"options only", {"--json", "--no-cloud", "--mode", "term"}, std::nullopt},
      {"white space only", {" \t\u3000"}, std::nullopt},
      {"- with empty input", {"-"}, ""},
      {"- with blank input", {"-"}, " \n\u3000\n"},
      {"- with input that is not UTF-8", {"-", "--json"}, "文字\xff\xfe"},
      {"- with a sequence cut at the end", {"-"}, "文字\xe6\xb1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    EXPECT_EQ(run_explain(c.words, client, input_of(c.input)), (Outcome{1, "", kExplainUsageLine}));
    EXPECT_EQ(client.ensure_calls, 0);
  }
  ScriptedClient down;
  down.service_up = false;
  EXPECT_EQ(run_explain({"RAG"}, down, input_of(std::nullopt)), (Outcome{1, "", "Ruvo 服务没起来\n"}));
  EXPECT_TRUE(down.requests.empty());
}

// ---- save ----

TEST(SaveCommand, WhatIsSentAndPrinted) {
  const JsonValue saved = json(R"({"ok":true,"id":"t-42"})");
  struct Case {
    const char* name;
    std::vector<std::string> words;
    JsonValue reply;
    std::string request;
    Outcome outcome;
  };
  const Case cases[] = {
      {"help example", {"--term", "RAG", "--fields", R"({"定义":"检索增强生成"})"}, saved,
       save_line(R"({"定义":"检索增强生成"})", "RAG"), {0, "已存入 Ruvo：RAG（id t-42）\n", ""}},
      {"fields last, lang given", {"--lang", "en", "--term", "RAG", "--json", "--fields"}, saved,
       save_line("{}", "RAG", "en"), {0, "已存入 Ruvo：RAG（id t-42）\n", ""}},
      {"a later valid --fields wins", {"--term", "RAG", "--fields", "oops", "--fields", "[1]"}, saved,
       save_line("[1]", "RAG"), {0, "已存入 Ruvo：RAG（id t-42）\n", ""}},
      {"fields as a string", {"--term", "RAG", "--fields", R"("文字")"}, saved, save_line(R"("文字")", "RAG"),
       {0, "已存入 Ruvo：RAG（id t-42）\n", ""}},
      {"term with spaces", {"--term", " 向量 "}, saved, save_line("{}", " 向量 "), {0, "已存入 Ruvo： 向量 （id t-42）\n", ""}},
      {"term --lang", {"--term", "--lang"}, saved, save_line("{}", "--lang"), {0, "已存入 Ruvo：--lang（id t-42）\n", ""}},
      {"id not a string", {"--term", "RAG"}, json(R"({"ok":true,"id":42})"), save_line("{}", "RAG"),
       {0, "已存入 Ruvo：RAG（id ）\n", ""}},
      {"message", {"--term", "RAG"}, json(R"({"ok":false,"message":"词条已存在"})"), save_line("{}", "RAG"),
       {1, "", "词条已存在\n"}},
      {"no message", {"--term", "RAG"}, json(R"({"ok":false})"), save_line("{}", "RAG"), {1, "", "保存失败\n"}},
      {"no ok", {"--term", "RAG"}, json(R"({"id":"t-1"})"), save_line("{}", "RAG"), {1, "", "保存失败\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    client.reply = c.reply;
    EXPECT_EQ(run_save(c.words, client), c.outcome);
    EXPECT_EQ(client.requests, std::vector<std::string>{c.request});
  }
}

TEST(SaveCommand, FailuresBeforeAndOfTheExchange) {
  const std::vector<std::string> usage[] = {
      {}, {"RAG"}, {"--term", "RAG", "--term"}, {"--term", " \u3000\t"}, {"--fields", R"({"定义":"x"})", "--lang", "en"},
  };
  for (const auto& words : usage) {
    ScriptedClient client;
    EXPECT_EQ(run_save(words, client), (Outcome{1, "", kSaveUsageLine})) << ::testing::PrintToString(words);
    EXPECT_EQ(client.ensure_calls, 0);
  }
  ScriptedClient down;
  down.service_up = false;
  EXPECT_EQ(run_save({"--term", "RAG"}, down), (Outcome{1, "", "Ruvo 服务没起来\n"}));

  // Fields that are not JSON are refused, after the term, before any
  // connection: saving them as empty fields would lose them.
  const std::vector<std::string> not_json[] = {
      {"--term", "RAG", "--fields", "bare"},
      {"--term", "RAG", "--fields", "{} x"},
      {"--term", "RAG", "--fields", R"({"定义":"x",})"},
      // cmd.exe hands the help's single-quoted example over with its quotes.
      {"--term", "RAG", "--fields", R"('{"定义":"检索增强生成"}')"},
      {"--fields", "[1]", "--fields", "", "--term", "RAG"},
  };
  for (const auto& words : not_json) {
    SCOPED_TRACE(::testing::PrintToString(words));
    ScriptedClient client;
    const std::string& text = words[3];  // the last --fields text in every row
    const Outcome outcome = run_save(words, client);
    EXPECT_EQ(outcome.exit_code, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "--fields 不是合法的 JSON：" + common::parse_json(text).error().text() + "\n");
    EXPECT_EQ(outcome.err.rfind("--fields 不是合法的 JSON：parse error at line 1, column ", 0), 0u);
    EXPECT_EQ(client.ensure_calls, 0);
  }
  // The term is checked first.
  ScriptedClient blank;
  EXPECT_EQ(run_save({"--fields", "bare"}, blank), (Outcome{1, "", kSaveUsageLine}));

  ScriptedClient failing;
  failing.reply = common::failure("响应状态行不合法");
  EXPECT_EQ(run_save({"--term", "RAG"}, failing), (Outcome{1, "", "响应状态行不合法\n"}));
}

// ---- health and service ----

TEST(HealthCommand, PrintsTheSecondReplyWhateverItHolds) {
  ScriptedClient client;
  client.reply = json(R"({"version":"2.0","terms":3,"note":"多行\n文本","nested":{"a":[]},"ok":false})");
  EXPECT_EQ(run_health({"extra", "--json"}, client),
            (Outcome{0,
                     "{\n  \"nested\": {\n    \"a\": []\n  },\n  \"note\": \"多行\\n文本\",\n  \"ok\": false,\n"
                     "  \"terms\": 3,\n  \"version\": \"2.0\"\n}\n",
                     ""}));
  EXPECT_EQ(client.requests, std::vector<std::string>{"GET /v1/health - 3"});

  ScriptedClient failing;
  failing.reply = common::failure("响应没有头体分隔");
  EXPECT_EQ(run_health({}, failing), (Outcome{1, "", "响应没有头体分隔\n"}));

  ScriptedClient down;
  down.service_up = false;
  EXPECT_EQ(run_health({}, down), (Outcome{1, "", "Ruvo 服务没起来（找不到可执行文件，或启动失败）\n"}));
  EXPECT_TRUE(down.requests.empty());
}

TEST(ServiceCommand, StartsOnceAndSaysSoOrFailsWithTheReason) {
  ScriptedClient client;
  EXPECT_EQ(run_service({"ignored"}, client), (Outcome{0, "已启动 Ruvo 无界面服务\n", ""}));
  EXPECT_EQ(client.start_calls, 1);
  EXPECT_EQ(client.ensure_calls, 0);

  ScriptedClient failing;
  failing.start_result = common::failure("找不到 Ruvo 主程序");
  EXPECT_EQ(run_service({}, failing), (Outcome{1, "", "找不到 Ruvo 主程序\n"}));
}

}  // namespace
}  // namespace ruvo::cli
