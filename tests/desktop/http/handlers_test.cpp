// The handler table without a server: every route's answers, refusals and
// their order, as the server hands each request over.
#include "http/handlers.hpp"

#include "protocol/version.hpp"
#include "store/entry_rules.hpp"
#include "store/term_file.hpp"
#include "support/damaged_store.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::http {
namespace {

using protocol::kProtocolVersion;
using store::kMaxTermChars;
using store::parse_json_line;
using store::TermStore;
using test::TempDir;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr std::string_view kImportPath = "/v1/import";
constexpr std::string_view kExportPath = "/v1/export";

class HandlersTest : public test::ServiceTest {
 protected:
  HandlersTest() : ServiceTest(kToken, "9.9.9") {}

  Reply call(std::string_view method, std::string_view path, std::string_view body,
             std::optional<std::string> token = std::string(kToken)) {
    return handle_request(*ctx_, method, path, token, body);
  }

  Reply post(std::string_view path, const JsonValue& body) { return call("POST", path, body.dump()); }
};

void expect_refusal(const Reply& reply, int status, const std::string& context) {
  EXPECT_EQ(reply.status, status) << context;
  EXPECT_EQ(reply.body["ok"], false) << context;
  ASSERT_TRUE(reply.body["message"].is_string()) << context;
  EXPECT_FALSE(reply.body["message"].get<std::string>().empty()) << context;
}

TEST_F(HandlersTest, MissingOrWrongTokenIsRefusedBeforeAnythingElse) {
  const std::optional<std::string> tokens[] = {
      std::nullopt,
      std::string(),
      std::string(kToken).substr(1),
      std::string(kToken) + "0",
      "1123456789abcdef0123456789abcdef",  // same length, first byte differs
      "0123456789abcdef0123456789abcdee",  // same length, last byte differs
  };
  // Even an unknown path or an oversize body gets 401 first.
  for (const auto& token : tokens) {
    std::string label = token ? "token '" + *token + "'" : "no token";
    expect_refusal(call("GET", "/v1/health", "", token), 401, label);
    expect_refusal(call("POST", "/v1/lookup", R"({"text":"RAG"})", token), 401, label);
    expect_refusal(call("GET", "/nowhere", "", token), 401, label);
    expect_refusal(call("POST", "/v1/save", std::string(kMaxBodyBytes + 1, ' '), token), 401, label);
    EXPECT_EQ(call("GET", "/v1/health", "", token).body["kind"], "auth");
  }
}

TEST_F(HandlersTest, BodyOverOneMebibyteIs413AndOneMebibyteIsRead) {
  expect_refusal(call("POST", "/v1/lookup", std::string(kMaxBodyBytes + 1, ' ')), 413, "over");
  std::string exact = R"({"text":")" + std::string(kMaxBodyBytes - 11, 'a') + R"("})";
  ASSERT_EQ(exact.size(), kMaxBodyBytes);
  Reply reply = call("POST", "/v1/lookup", exact);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body["hit"], false);
}

TEST_F(HandlersTest, BodyThatIsNotAJsonObjectIs400) {
  for (const char* body : {"", "nope", "[]", "\"RAG\"", "42", "null", "{\"text\":", "{} {}"}) {
    for (const char* path : {"/v1/lookup", "/v1/save", "/v1/explain"}) {
      expect_refusal(call("POST", path, body), 400, std::string(path) + " with " + body);
    }
  }
}

TEST_F(HandlersTest, UnknownPathIs404AndWrongMethodIs405) {
  expect_refusal(call("GET", "/v1/nothing", ""), 404, "unknown");
  expect_refusal(call("GET", "/v1/health/", ""), 404, "trailing slash");
  expect_refusal(call("POST", "/V1/HEALTH", "{}"), 404, "path case");
  expect_refusal(call("GET", "/v1/lookup", ""), 405, "GET lookup");
  expect_refusal(call("POST", "/v1/health", "{}"), 405, "POST health");
  EXPECT_EQ(call("GET", "/v1/nothing", "").body["message"], "没有这个接口：/v1/nothing");
}

TEST_F(HandlersTest, HealthReportsVersionProtocolAndTermCount) {
  Reply empty = call("GET", "/v1/health", "");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, JsonValue({{"model", {{"configured", false}}},
                                   {"ok", true},
                                   {"protocol", kProtocolVersion},
                                   {"terms", 0},
                                   {"version", "9.9.9"}}));
  post("/v1/save", {{"term", "RAG"}, {"lang", "zh"}, {"categoryId", "term"}, {"fields", JsonValue::object()}});
  EXPECT_EQ(call("GET", "/v1/health", "").body["terms"], 1);
}

TEST_F(HandlersTest, SaveThenLookupRoundTripsTheFields) {
  Reply saved = post("/v1/save", {{"categoryId", "term"},
                                  {"fields", {{"定义", "检索增强生成"}, {"plain", "先查再答"}, {"来源", "论文"}}},
                                  {"lang", "zh"},
                                  {"term", "  RAG\t"}});
  ASSERT_EQ(saved.status, 200) << saved.body.dump();
  EXPECT_EQ(saved.body["ok"], true);
  ASSERT_TRUE(saved.body["id"].is_string());

  for (const char* query : {"RAG", " rag ", "\xe3\x80\x80Rag"}) {
    Reply hit = post("/v1/lookup", {{"text", query}});
    EXPECT_EQ(hit.body["ok"], true);
    EXPECT_EQ(hit.body["hit"], true) << query;
    EXPECT_EQ(hit.body["id"], saved.body["id"]);
    EXPECT_EQ(hit.body["term"], "RAG");
    EXPECT_EQ(hit.body["lang"], "zh");
    EXPECT_EQ(hit.body["definition"], "检索增强生成");
    EXPECT_EQ(hit.body["plain"], "先查再答");
    EXPECT_FALSE(hit.body.contains("example"));
    EXPECT_EQ(hit.body["fields"]["来源"], "论文");
  }
  // A miss says what the text may have meant.
  const std::pair<const char*, JsonValue> misses[] = {
      {"RAGs", JsonValue::array({"RAG"})}, {"", JsonValue::array()}, {"   ", JsonValue::array()}};
  for (const auto& [query, suggestions] : misses) {
    Reply miss = post("/v1/lookup", {{"text", query}});
    EXPECT_EQ(miss.body, JsonValue({{"hit", false}, {"ok", true}, {"suggestions", suggestions}})) << query;
  }
}

TEST_F(HandlersTest, AliasesAreSavedFoundAndChecked) {
  Reply saved = post("/v1/save", {{"term", "Prompt"},
                                  {"fields", {{"definition", "给模型的话"}}},
                                  {"aliases", JsonValue::array({"提示词", " 提示詞 ", "prompt"})}});
  ASSERT_EQ(saved.status, 200) << saved.body.dump();
  EXPECT_EQ(saved.body["aliases"], JsonValue::array({"提示词"}));  // one per key, the term itself dropped
  Reply hit = post("/v1/lookup", {{"text", "提示詞"}});
  EXPECT_EQ(hit.body["hit"], true);
  EXPECT_EQ(hit.body["term"], "Prompt");
  EXPECT_EQ(hit.body["aliases"], JsonValue::array({"提示词"}));
  for (const JsonValue& bad : {JsonValue("提示词"), JsonValue::array({1}), JsonValue::array({"a\nb"})}) {
    Reply refused = post("/v1/save", {{"term", "Prompt"}, {"aliases", bad}});
    EXPECT_EQ(refused.status, 400) << bad.dump();
    EXPECT_EQ(refused.body["ok"], false) << bad.dump();
  }
}

TEST_F(HandlersTest, TermsAreSearchedReadAndDeleted) {
  Reply rag = post("/v1/save", {{"term", "RAG"}, {"fields", {{"definition", "检索增强生成：先检索再回答"}}}});
  post("/v1/save", {{"term", "Prompt"}, {"fields", {{"definition", "给模型的指令"}}}, {"aliases", {"提示词"}}});
  post("/v1/save", {{"term", "Embedding"}, {"fields", {{"definition", "把文本变成向量"}}}});
  const std::string id = rag.body["id"];
  auto get = [&](std::string_view path, QueryParameters query = {}) {
    return handle_request(*ctx_, "GET", path, query, std::string(kToken), "");
  };
  const std::pair<const char*, std::vector<std::string>> searches[] = {
      {"检索", {"RAG"}}, {"提示", {"Prompt"}}, {"emb", {"Embedding"}}, {"向量", {"Embedding"}}, {"Prompt", {"Prompt"}},
      {"\" OR *", {}},   {"zzz", {}},
  };
  for (const auto& [q, terms] : searches) {
    Reply found = get("/v1/terms", {{"q", q}});
    ASSERT_EQ(found.status, 200) << q << ": " << found.body.dump();
    std::vector<std::string> got;
    for (const auto& term : found.body["terms"]) got.push_back(term["term"]);
    EXPECT_EQ(got, terms) << q;
    EXPECT_EQ(found.body["total"], terms.size()) << q;
  }
  Reply all = get("/v1/terms", {{"limit", "2"}});
  EXPECT_EQ(all.body["total"], 3);
  ASSERT_EQ(all.body["terms"].size(), 2u);
  const JsonValue& first = all.body["terms"][0];
  for (const char* key : {"id", "term", "lang", "fields", "aliases", "source", "updatedAt"}) {
    EXPECT_TRUE(first.contains(key)) << key;
  }
  for (const char* limit : {"0", "201", "x", "-1"})
    EXPECT_EQ(get("/v1/terms", {{"limit", limit}}).status, 400) << limit;

  Reply one = get("/v1/terms/" + id);
  ASSERT_EQ(one.status, 200);
  EXPECT_EQ(one.body["term"]["term"], "RAG");
  EXPECT_EQ(call("DELETE", "/v1/terms/" + id, "").status, 200);
  EXPECT_EQ(post("/v1/lookup", {{"text", "RAG"}}).body["hit"], false);
  EXPECT_EQ(get("/v1/terms", {{"q", "检索"}}).body["total"], 0);
  for (const std::string& path : {"/v1/terms/" + id, std::string("/v1/terms/abc"), std::string("/v1/terms/")}) {
    expect_refusal(get(path), 404, path);
  }
  expect_refusal(call("DELETE", "/v1/terms/" + id, ""), 404, "deleted twice");
  expect_refusal(call("PUT", "/v1/terms/" + id, "{}"), 405, "PUT");
  expect_refusal(call("POST", "/v1/terms", "{}"), 405, "POST");
  expect_refusal(handle_request(*ctx_, "GET", "/v1/terms", QueryParameters{}, std::string("wrong"), ""), 401, "token");
}

// The whole body a streamed reply sends.
std::string drain(const Reply& reply) {
  std::string all;
  if (!reply.stream) return all;
  for (;;) {
    auto piece = reply.stream->next();
    if (!piece.ok()) return all + "<cut>";
    if (piece->empty()) return all;
    all += *piece;
  }
}

TEST_F(HandlersTest, ImportTakesAFileAllOrNothingAndExportStreamsItBack) {
  auto import = [&](std::string_view body, QueryParameters query = {}) {
    return handle_request(*ctx_, "POST", kImportPath, query, std::string(kToken), body);
  };
  post("/v1/save", {{"term", "RAG"}, {"fields", {{"definition", "一个人写的"}}}});
  const std::string lines = R"({"term":"Agent","fields":{"definition":"会自己动手的模型"},"aliases":["智能体"]})"
                            "\n"
                            R"({"term":"RAG","fields":{"definition":"模型写的"},"source":"model"})"
                            "\n";
  Reply done = import(lines);
  ASSERT_EQ(done.status, 200) << done.body.dump();
  EXPECT_EQ(done.body, (JsonValue{{"ok", true}, {"imported", 2}, {"added", 1}, {"updated", 0}, {"kept", 1}}));
  EXPECT_EQ(post("/v1/lookup", {{"text", "智能体"}}).body["term"], "Agent");
  EXPECT_EQ(post("/v1/lookup", {{"text", "RAG"}}).body["definition"], "一个人写的");

  Reply csv = import("term,definition,aliases\nLLM,大语言模型,大模型\n", {{"format", "csv"}});
  ASSERT_EQ(csv.status, 200) << csv.body.dump();
  EXPECT_EQ(post("/v1/lookup", {{"text", "大模型"}}).body["term"], "LLM");

  // A broken second line: its number in the message, and nothing of the
  // first line stored.
  Reply broken = import(R"({"term":"Docker"})"
                        "\n"
                        R"({"term":)"
                        "\n");
  expect_refusal(broken, 400, "broken");
  EXPECT_EQ(broken.body["kind"], "bad_import");
  EXPECT_NE(broken.body["message"].get<std::string>().find("第 2 行"), std::string::npos) << broken.body.dump();
  EXPECT_EQ(post("/v1/lookup", {{"text", "Docker"}}).body["hit"], false);
  expect_refusal(import("", {{"format", "xml"}}), 400, "format");
  expect_refusal(call("GET", kImportPath, ""), 405, "GET import");
  expect_refusal(call("POST", kExportPath, "{}"), 405, "POST export");
  // An import may be far bigger than any other request, but not unbounded.
  EXPECT_EQ(body_limit("POST", kImportPath), kMaxImportBytes);
  EXPECT_EQ(body_limit("POST", "/v1/save"), kMaxBodyBytes);
  expect_refusal(import(std::string(kMaxImportBytes + 1, '\n')), 413, "over");

  Reply exported = call("GET", kExportPath, "");
  ASSERT_EQ(exported.status, 200) << exported.body.dump();
  ASSERT_TRUE(exported.stream);
  EXPECT_EQ(exported.stream->content_type, "application/x-ndjson; charset=utf-8");
  const std::string text = drain(exported);
  std::vector<std::string> terms;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "every line ends";
    auto record = parse_json_line(std::string_view(text).substr(start, end - start));
    ASSERT_TRUE(record.ok()) << record.error().text();
    terms.push_back(record->term);
    start = end + 1;
  }
  EXPECT_EQ(terms, (std::vector<std::string>{"RAG", "Agent", "LLM"}));
  expect_refusal(handle_request(*ctx_, "GET", kExportPath, QueryParameters{}, std::nullopt, ""), 401, "token");
}

TEST_F(HandlersTest, MissedLookupsAreListedMostFrequentFirst) {
  post("/v1/lookup", {{"text", "Kubernetes"}});
  post("/v1/lookup", {{"text", "kubernetes "}});
  post("/v1/lookup", {{"text", "Docker"}});
  Reply misses = call("GET", "/v1/misses", "");
  ASSERT_EQ(misses.status, 200) << misses.body.dump();
  ASSERT_EQ(misses.body["misses"].size(), 2u) << misses.body.dump();
  EXPECT_EQ(misses.body["misses"][0]["text"], "kubernetes");
  EXPECT_EQ(misses.body["misses"][0]["count"], 2);
  EXPECT_TRUE(misses.body["misses"][0]["lastAt"].get<std::string>().ends_with("Z"));
  EXPECT_EQ(call("POST", "/v1/misses", "{}").status, 405);
}

TEST_F(HandlersTest, SavingAgainUpdatesGivenFieldsAndKeepsTheOthers) {
  Reply first = post("/v1/save", {{"term", "Token"}, {"fields", {{"定义", "d1"}, {"例子", "e1"}}}});
  Reply second = post("/v1/save", {{"term", "token"}, {"fields", {{"definition", "d2"}}}});
  EXPECT_EQ(second.body["id"], first.body["id"]);
  Reply hit = post("/v1/lookup", {{"text", "TOKEN"}});
  EXPECT_EQ(hit.body["term"], "token");
  EXPECT_EQ(hit.body["definition"], "d2");
  EXPECT_EQ(hit.body["example"], "e1");
}

TEST_F(HandlersTest, SaveRefusalsAreClearChineseMessages) {
  struct Case {
    JsonValue body;
    std::string message;
  };
  const Case cases[] = {
      {{{"term", ""}}, "词条不能为空"},
      {{{"term", " \u3000\t"}}, "词条不能为空"},
      {{{"fields", JsonValue::object()}}, "term 必须是字符串：要保存的词"},
      {{{"term", 5}}, "term 必须是字符串：要保存的词"},
      {{{"term", "a\nb"}}, "词条不能换行"},
      {{{"term", std::string(kMaxTermChars + 1, 'x')}}, "词条太长（最多 256 个字符）"},
      {{{"term", "RAG"}, {"fields", JsonValue::array()}},
       "fields 必须是 JSON 对象，例如 {\"定义\":\"…\",\"通俗解释\":\"…\",\"例子\":\"…\"}"},
      {{{"term", "RAG"}, {"fields", "定义"}},
       "fields 必须是 JSON 对象，例如 {\"定义\":\"…\",\"通俗解释\":\"…\",\"例子\":\"…\"}"},
      {{{"term", "RAG"}, {"fields", {{"定义", 1}}}}, "字段「定义」的值必须是字符串"},
      {{{"term", "RAG"}, {"lang", "de"}}, "不认识的 lang「de」，可选：zh、en"},
      {{{"term", "RAG"}, {"categoryId", ""}}, "categoryId 必须是非空字符串"},
  };
  for (const auto& c : cases) {
    Reply reply = post("/v1/save", c.body);
    expect_refusal(reply, 400, c.body.dump());
    EXPECT_EQ(reply.body["message"], c.message) << c.body.dump();
  }
  EXPECT_EQ(call("GET", "/v1/health", "").body["terms"], 0);
}

TEST_F(HandlersTest, ExplainAnswersFromTheStoreOrMissesOrRefuses) {
  post("/v1/save", {{"term", "RAG"}, {"fields", {{"定义", "检索增强生成"}}}});
  JsonValue request = {{"allowCloud", true}, {"context", ""}, {"lang", "zh"}, {"mode", "auto"}, {"text", "rag"}};
  Reply hit = post("/v1/explain", request);
  EXPECT_EQ(hit.body["ok"], true);
  EXPECT_EQ(hit.body["source"], "local");
  EXPECT_EQ(hit.body["term"], "RAG");
  EXPECT_EQ(hit.body["definition"], "检索增强生成");
  EXPECT_EQ(hit.body["tokens"], 0);

  request["text"] = "LLM";
  Reply miss = post("/v1/explain", request);
  EXPECT_EQ(miss.status, 200);
  EXPECT_EQ(miss.body["ok"], false);
  EXPECT_EQ(miss.body["kind"], "miss");

  request["mode"] = "sentence";
  Reply refused = post("/v1/explain", request);
  expect_refusal(refused, 400, "unknown mode");
  EXPECT_EQ(refused.body["message"], "不认识的 mode「sentence」，可选：auto、term、passage");
}

TEST_F(HandlersTest, LibraryRefusalsGetJsonBodiesAndTheTokenRuleFirst) {
  expect_refusal(refusal_reply(413, true, kMaxBodyBytes), 413, "413");
  expect_refusal(refusal_reply(400, true, kMaxBodyBytes), 400, "400");
  expect_refusal(refusal_reply(411, true, kMaxBodyBytes), 411, "411");
  expect_refusal(refusal_reply(413, false, kMaxBodyBytes), 401, "413 without token");
}

TEST(HandlersDamagedStoreTest, HealthSaysSoSavesAre503AndLookupsStillAnswer) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  auto page = test::make_damaged_store(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;
  auto opened = TermStore::open(path, {});
  ASSERT_TRUE(opened.ok()) << opened.error().text();
  answers::Context answers{**opened, "9.9.9", {}};
  HandlerContext ctx{answers, kToken};
  auto call = [&](std::string_view method, std::string_view route, const JsonValue& body) {
    return handle_request(ctx, method, route, std::string(kToken), method == "GET" ? "" : body.dump());
  };

  // Health keeps every member it had and adds what is wrong; the service
  // itself answers, so "ok" stays true and ruvo keeps finding it.
  Reply health = call("GET", "/v1/health", {});
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body["ok"], true);
  EXPECT_EQ(health.body["version"], "9.9.9");
  EXPECT_EQ(health.body["protocol"], kProtocolVersion);
  EXPECT_EQ(health.body["model"], JsonValue({{"configured", false}}));
  EXPECT_TRUE(health.body.contains("terms"));
  ASSERT_TRUE(health.body["store"].is_object()) << health.body.dump();
  EXPECT_EQ(health.body["store"]["ok"], false);
  ASSERT_TRUE(health.body["store"]["message"].is_string());
  EXPECT_NE(health.body["store"]["message"].get<std::string>().find("词库文件已损坏"), std::string::npos);
  EXPECT_EQ(health.body["store"].size(), 2u);

  for (const char* term : {"新词", "RAG"}) {
    Reply saved = call("POST", "/v1/save", {{"term", term}, {"fields", {{"定义", "d"}}}});
    EXPECT_EQ(saved.status, 503) << term;
    EXPECT_EQ(saved.body["ok"], false) << term;
    EXPECT_EQ(saved.body["kind"], "store") << term;
    EXPECT_EQ(saved.body["reason"], "store_damaged") << term;
    EXPECT_NE(saved.body["message"].get<std::string>().find("没有保存"), std::string::npos) << saved.body.dump();
  }

  Reply hit = call("POST", "/v1/lookup", {{"text", "RAG"}});
  EXPECT_EQ(hit.status, 200);
  EXPECT_EQ(hit.body["hit"], true);
  EXPECT_EQ(hit.body["definition"], "kept");
}

}  // namespace
}  // namespace ruvo::desktop::http
