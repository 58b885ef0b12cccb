// Explaining a text: the request read, whether it reads as a term, an
// answer from the store, a miss, and a model's answer kept or not.
#include "answers/explanations.hpp"

#include "store/entry_rules.hpp"
#include "support/damaged_store.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::answers {
namespace {

using model::ModelAnswer;
using model::ModelRequest;
using store::TermDraft;
using store::TermStore;

// An answer's body, or an object naming its error, so that a failure shows
// in the assertion that meets it.
JsonValue body_of(const Result<JsonValue>& answer) {
  if (answer) return *answer;
  return JsonValue{{"error", answer.error().text()}};
}

// A model that answers with these fields and 7 tokens.
ExplainModel answering(const JsonValue& fields) {
  return [fields](const ModelRequest& r) -> Result<ModelAnswer> { return ModelAnswer{r.text, fields, 7, "m"}; };
}

TEST(ParseExplainRequestTest, ReadsMembersAndAppliesDefaults) {
  auto full = parse_explain_request(
      JsonValue::parse(R"({"allowCloud":true,"context":"c","lang":"en","mode":"passage","text":"  Hello\u3000"})"));
  ASSERT_TRUE(full.ok());
  const auto& r = full.value();
  EXPECT_EQ(r.text, "Hello");
  EXPECT_EQ(r.mode, "passage");
  EXPECT_EQ(r.lang, "en");
  EXPECT_TRUE(r.allow_cloud);
  EXPECT_EQ(r.context, "c");

  auto bare = parse_explain_request(JsonValue::parse(R"({"text":"RAG"})"));
  ASSERT_TRUE(bare.ok());
  EXPECT_EQ(bare.value().mode, "auto");
  EXPECT_EQ(bare.value().lang, "zh");
  EXPECT_FALSE(bare.value().allow_cloud);
}

TEST(ParseExplainRequestTest, RefusalsNameTheProblemAndTheAcceptedValues) {
  struct Case {
    const char* body;
    const char* message;
  };
  const Case cases[] = {
      {R"({"text":"x","mode":"word"})", "不认识的 mode「word」，可选：auto、term、passage"},
      {R"({"text":"x","lang":"fr"})", "不认识的 lang「fr」，可选：zh、en"},
      {R"({"text":"x","lang":"ZH"})", "不认识的 lang「ZH」，可选：zh、en"},
      {R"({"text":"x","mode":1})", "mode 必须是字符串"},
      {R"({"text":"x","allowCloud":"true"})", "allowCloud 必须是 true 或 false"},
      {R"({"text":"x","context":null})", "context 必须是字符串"},
      {R"({"text":7})", "text 必须是字符串：要解释的文字"},
      {R"({})", "text 必须是字符串：要解释的文字"},
      {R"({"text":" \n\u3000"})", "要解释的文字是空的"},
  };
  for (const auto& c : cases) {
    auto result = parse_explain_request(JsonValue::parse(c.body));
    ASSERT_FALSE(result.ok()) << c.body;
    EXPECT_EQ(result.error().text(), c.message) << c.body;
  }
}

TEST(ReadsAsTermTest, OneShortLineIsATerm) {
  const std::string sixty_four(kTermLikeChars, 'a');
  std::string sixty_four_chinese;
  for (std::size_t i = 0; i < kTermLikeChars; ++i) sixty_four_chinese += "词";
  const std::pair<std::string, bool> cases[] = {
      {"RAG", true},
      {"Function Calling", true},
      {sixty_four, true},
      {sixty_four + "a", false},
      {sixty_four_chinese, true},  // characters are counted, not bytes
      {sixty_four_chinese + "词", false},
      {"line one\nline two", false},
      {"a\rb", false},
      {"a\xe2\x80\xa8"
       "b",
       false},                  // LINE SEPARATOR
      {"RAG 是什么？", false},  // a question reads as a sentence
      {"what is RAG?", false},
      {"先检索，再生成", false},
      {"CI/CD", true},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(reads_as_term(text), expected) << text;
}

class ExplainTest : public test::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    auto saved = store_->save(TermDraft{"RAG", "zh", "term", {{"definition", "检索增强生成"}, {"plain", "先查再答"}}});
    ASSERT_TRUE(saved.ok());
  }

  ExplainRequest request(std::string text, std::string mode, bool allow_cloud, std::string lang = "zh") {
    ExplainRequest r;
    r.text = std::move(text);
    r.mode = std::move(mode);
    r.lang = std::move(lang);
    r.allow_cloud = allow_cloud;
    return r;
  }
};

TEST_F(ExplainTest, StoredTermIsAnsweredLocallyForFreeInTermAndAutoMode) {
  for (const char* mode : {"term", "auto"}) {
    auto answer = explain(*answers_, {}, request("rag", mode, false));
    EXPECT_TRUE(answer.ok());
    JsonValue reply = body_of(answer);
    EXPECT_EQ(reply["ok"], true) << mode;
    EXPECT_EQ(reply["source"], "local");
    EXPECT_EQ(reply["term"], "RAG");
    EXPECT_EQ(reply["definition"], "检索增强生成");
    EXPECT_EQ(reply["plain"], "先查再答");
    EXPECT_FALSE(reply.contains("example"));
    EXPECT_EQ(reply["tokens"], 0);
  }
}

TEST_F(ExplainTest, AutoModeFindsAStoredTermEvenWhenItReadsAsASentence) {
  ASSERT_TRUE(store_->save(TermDraft{"为什么？", "zh", "term", {{"plain", "p"}}}).ok());
  JsonValue reply = body_of(explain(*answers_, {}, request("为什么？", "auto", false)));
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["source"], "local");
  EXPECT_FALSE(reply.contains("kind")) << reply.dump();
}

TEST_F(ExplainTest, ATermStoredInAnotherLanguageIsAnsweredInItsOwn) {
  JsonValue reply = body_of(explain(*answers_, {}, request("RAG", "auto", false, "en")));
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["source"], "local");
  EXPECT_EQ(reply["lang"], "zh");
  EXPECT_EQ(reply["term"], "RAG");
}

TEST_F(ExplainTest, MissSaysWhetherTheModelWasNotAllowedOrIsMissingAndWhereToSetOneUp) {
  const std::string set_up = "（在 " + models_->file() + " 里配置，或运行 ruvo-gui.exe 在状态页设置）";
  struct Case {
    std::string text;
    std::string mode;
    bool allow_cloud;
    std::string lang;
    bool as_term;  // worded for a term, with suggestions
    std::string reason;
    std::string message;
  };
  const Case cases[] = {
      {"LLM", "auto", false, "zh", true, "cloud_not_allowed", "词库里没有「LLM」，而这次不允许调用模型"},
      {"LLM", "term", true, "zh", true, "no_model", "词库里没有「LLM」，可还没有配置模型" + set_up},
      {"LLM", "auto", false, "en", true, "cloud_not_allowed", "词库里没有「LLM」的英文解释，而这次不允许调用模型"},
      // A term asked for as a term is not read for the terms in it.
      {"RAG 和别的", "term", false, "zh", true, "cloud_not_allowed", "词库里没有「RAG 和别的」，而这次不允许调用模型"},
      // A passage without a stored term in it.
      {"没有词条", "passage", false, "zh", false, "cloud_not_allowed",
       "这段文字里没有词库收录的词条，要靠模型解释，而这次不允许调用模型"},
      {"第一行\n第二行", "auto", true, "zh", false, "no_model",
       "这段文字里没有词库收录的词条，要靠模型解释，可还没有配置模型" + set_up},
      {"LLM 是什么？", "auto", false, "zh", false, "cloud_not_allowed",
       "这段文字里没有词库收录的词条，要靠模型解释，而这次不允许调用模型"},
  };
  for (const auto& c : cases) {
    JsonValue reply = body_of(explain(*answers_, {}, request(c.text, c.mode, c.allow_cloud, c.lang)));
    EXPECT_EQ(reply["ok"], false) << c.text;
    EXPECT_EQ(reply.contains("suggestions"), c.as_term) << c.text;
    EXPECT_EQ(reply["kind"], "miss") << c.text;
    EXPECT_EQ(reply["reason"], c.reason) << c.text;
    EXPECT_EQ(reply["message"], c.message) << c.text;
  }
}

TEST_F(ExplainTest, APassageWithoutAModelIsAnsweredTermByTermFromTheStore) {
  ASSERT_TRUE(
      store_->save(TermDraft{"向量数据库", "zh", "term", {{"definition", "存向量的库"}, {"plain", "按意思找"}}}).ok());
  ASSERT_TRUE(store_->save(TermDraft{"Embedding", "zh", "term", {{"definition", "把文字变成向量\n的方法"}}}).ok());
  const std::string text = "RAG 和向量数据库是什么关系？Embedding 呢";
  struct Case {
    std::string mode;
    bool allow_cloud;  // with no model configured, allowed or not is the same
  };
  for (const Case& c : {Case{"auto", false}, Case{"passage", false}, Case{"auto", true}, Case{"passage", true}}) {
    JsonValue reply = body_of(explain(*answers_, {}, request(text, c.mode, c.allow_cloud)));
    EXPECT_EQ(reply["ok"], true) << c.mode << reply.dump();
    EXPECT_EQ(reply["source"], "local");
    EXPECT_EQ(reply["tokens"], 0);
    EXPECT_EQ(reply["term"], text);
    EXPECT_EQ(reply["definition"], "RAG：检索增强生成\n向量数据库：存向量的库\nEmbedding：把文字变成向量 的方法");
    EXPECT_EQ(reply["plain"], "RAG：先查再答\n向量数据库：按意思找");
    EXPECT_FALSE(reply.contains("example"));
    ASSERT_TRUE(reply["terms"].is_array());
    ASSERT_EQ(reply["terms"].size(), 3u);
    const JsonValue& first = reply["terms"][0];
    EXPECT_EQ(first["term"], "RAG");
    EXPECT_EQ(first["text"], "RAG");
    EXPECT_EQ(first["start"], 0);
    EXPECT_EQ(first["end"], 3);
    EXPECT_EQ(first["lang"], "zh");
    EXPECT_EQ(first["fields"]["definition"], "检索增强生成");
    EXPECT_TRUE(first["dictionary"].is_null());
    EXPECT_EQ(first["origin"], "user");
    EXPECT_EQ(reply["terms"][1]["start"], 5);
    EXPECT_EQ(reply["terms"][2]["term"], "Embedding");
    EXPECT_EQ(reply["terms"][2]["start"], 16);
    EXPECT_EQ(reply["terms"][2]["end"], 25);
  }
  // What reads as a term and was not found itself still counts as a miss.
  auto misses = store_->misses(10);
  ASSERT_TRUE(misses.ok());
  ASSERT_EQ(misses.value().size(), 0u);  // the text has a question mark: a sentence
  JsonValue term_like = body_of(explain(*answers_, {}, request("RAG教程", "auto", false)));
  EXPECT_EQ(term_like["source"], "local") << term_like.dump();
  misses = store_->misses(10);
  ASSERT_TRUE(misses.ok());
  ASSERT_EQ(misses.value().size(), 1u);
  EXPECT_EQ(misses.value()[0].text, "RAG教程");
}

TEST_F(ExplainTest, AModelAskedAboutAPassageIsGivenTheStoredEntriesOfItsTerms) {
  std::vector<ModelRequest> asked;
  ExplainModel model = [&asked](const ModelRequest& r) -> Result<ModelAnswer> {
    asked.push_back(r);
    return ModelAnswer{"关系", {{"definition", "两者配合使用"}}, 30, "m"};
  };
  JsonValue reply = body_of(explain(*answers_, model, request("RAG 和向量检索是什么关系？", "auto", true)));
  EXPECT_EQ(reply["source"], "model");
  EXPECT_EQ(reply["terms"].size(), 1u) << reply.dump();
  EXPECT_EQ(reply["terms"][0]["term"], "RAG");
  EXPECT_FALSE(reply.contains("remembered"));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_FALSE(asked[0].as_term);
  ASSERT_EQ(asked[0].entries.size(), 1u);
  EXPECT_EQ(asked[0].entries[0].term, "RAG");
  EXPECT_EQ(asked[0].entries[0].lang, "zh");
  EXPECT_EQ(asked[0].entries[0].text, "检索增强生成 先查再答");
  // Without stored terms the request carries none, and the reply no "terms".
  JsonValue bare = body_of(explain(*answers_, model, request("别的什么关系？", "auto", true)));
  EXPECT_FALSE(bare.contains("terms"));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_TRUE(asked[1].entries.empty());
}

TEST_F(ExplainTest, AnEntryInAnotherLanguageIsToldInTheOneAskedAndRemembered) {
  auto english =
      store_->save(TermDraft{"deadlock", "en", "term", {{"definition", "Two processes wait for each other."}}});
  ASSERT_TRUE(english.ok());
  // No model: the English entry, at once.
  JsonValue offline = body_of(explain(*answers_, {}, request("Deadlock", "auto", true)));
  EXPECT_EQ(offline["source"], "local");
  EXPECT_EQ(offline["lang"], "en");

  std::vector<ModelRequest> asked;
  ExplainModel model = [&asked](const ModelRequest& r) -> Result<ModelAnswer> {
    asked.push_back(r);
    return ModelAnswer{"deadlock", {{"definition", "两个进程互相等待"}, {"plain", "谁也不让谁"}}, 12, "m"};
  };
  JsonValue told = body_of(explain(*answers_, model, request("Deadlock", "auto", true)));
  EXPECT_EQ(told["source"], "model") << told.dump();
  EXPECT_EQ(told["lang"], "zh");
  EXPECT_EQ(told["definition"], "两个进程互相等待");
  EXPECT_EQ(told["remembered"], true);
  const JsonValue based_on = {
      {"id", english.value().id}, {"term", "deadlock"}, {"lang", "en"}, {"dictionary", nullptr}};
  EXPECT_EQ(told["basedOn"], based_on);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].as_term);
  EXPECT_EQ(asked[0].lang, "zh");
  ASSERT_EQ(asked[0].entries.size(), 1u);
  EXPECT_EQ(asked[0].entries[0].lang, "en");
  EXPECT_EQ(asked[0].entries[0].text, "Two processes wait for each other.");

  // Next time: a free local hit in Chinese, under the stored spelling, that
  // says what it was based on; the model is not asked again.
  JsonValue again = body_of(explain(*answers_, model, request("deadlock", "auto", true)));
  EXPECT_EQ(again["source"], "local");
  EXPECT_EQ(again["tokens"], 0);
  EXPECT_EQ(again["lang"], "zh");
  EXPECT_EQ(again["term"], "deadlock");
  EXPECT_EQ(again["origin"], "model");
  EXPECT_EQ(again["basedOn"], based_on);
  EXPECT_EQ(asked.size(), 1u);
  // Asked in English, the English entry answers as before.
  EXPECT_EQ(body_of(explain(*answers_, model, request("deadlock", "auto", true, "en")))["definition"],
            "Two processes wait for each other.");
}

TEST_F(ExplainTest, WhenTheModelCannotTellItTheOtherLanguagesEntryAnswersWithAWarning) {
  ASSERT_TRUE(store_->save(TermDraft{"mutex", "en", "term", {{"definition", "A lock."}}}).ok());
  ExplainModel failing = [](const ModelRequest&) -> Result<ModelAnswer> {
    return common::failure(common::ErrorKind::kModel, "连不上模型服务", "unreachable");
  };
  JsonValue reply = body_of(explain(*answers_, failing, request("mutex", "term", true)));
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["source"], "local");
  EXPECT_EQ(reply["definition"], "A lock.");
  ASSERT_TRUE(reply["warning"].is_string());
  EXPECT_NE(reply["warning"].get<std::string>().find("连不上模型服务"), std::string::npos);
  auto stored = store_->find("mutex", "zh");
  ASSERT_TRUE(stored.ok());
  EXPECT_FALSE(stored.value().has_value());
}

TEST_F(ExplainTest, ANameLongerThanATermReadsIsFoundWhileMissesKeepTheirWording) {
  // Stored names may be longer than a text that reads as a term: such a
  // name is found, and a miss of a text as long is worded as a passage's or
  // a term's, by the shorter bound.
  const std::string long_name(100, 'n');
  ASSERT_TRUE(store_->save(TermDraft{long_name, "zh", "term", {{"plain", "p"}}}).ok());
  EXPECT_EQ(body_of(explain(*answers_, {}, request(long_name, "auto", false)))["source"], "local");
  const std::string long_miss(100, 'm');
  EXPECT_EQ(body_of(explain(*answers_, {}, request(long_miss, "auto", false)))["message"],
            "这段文字里没有词库收录的词条，要靠模型解释，而这次不允许调用模型");
  EXPECT_EQ(body_of(explain(*answers_, {}, request(long_miss, "term", false)))["message"],
            "词库里没有「" + std::string(64, 'm') + "…」，而这次不允许调用模型");
}

TEST_F(ExplainTest, ModelIsAskedOnlyWhenAllowedAndTheStoreCannotAnswer) {
  std::vector<std::string> asked;
  ExplainModel model = [&asked](const ModelRequest& r) -> Result<ModelAnswer> {
    asked.push_back(r.text);
    return ModelAnswer{r.text, JsonValue::object(), 42, "m"};
  };
  EXPECT_EQ(body_of(explain(*answers_, model, request("RAG", "auto", true)))["source"], "local");
  EXPECT_EQ(body_of(explain(*answers_, model, request("LLM", "auto", false)))["kind"], "miss");
  JsonValue answered = body_of(explain(*answers_, model, request("LLM", "auto", true)));
  EXPECT_EQ(answered["source"], "model");
  EXPECT_EQ(answered["tokens"], 42);
  EXPECT_EQ(asked, std::vector<std::string>{"LLM"});
}

TEST_F(ExplainTest, ModelAnswersAboutTermsWithFieldsAreRememberedOthersAreNot) {
  JsonValue fields = {{"definition", "大语言模型"}};
  ExplainModel model = [&fields](const ModelRequest& r) -> Result<ModelAnswer> {
    return ModelAnswer{r.text, fields, 7, "m"};
  };
  struct Case {
    std::string text;
    std::string mode;
    JsonValue fields;
    bool remembered;
    bool has_key;  // the reply says "remembered" only about terms
  };
  const Case cases[] = {
      {"LLM", "auto", {{"definition", "大语言模型"}}, true, true},
      {"Agent", "term", {{"plain", "p"}, {"example", " "}}, true, true},
      {"空答案", "auto", JsonValue::object(), false, true},
      {"只有空白", "term", {{"definition", "  "}}, false, true},
      {"段落", "passage", {{"definition", "d"}}, false, false},
      {"这是一句话。", "auto", {{"definition", "d"}}, false, false},
  };
  for (const auto& c : cases) {
    fields = c.fields;
    JsonValue reply = body_of(explain(*answers_, model, request(c.text, c.mode, true)));
    EXPECT_EQ(reply["ok"], true) << c.text;
    EXPECT_EQ(reply.contains("remembered"), c.has_key) << c.text;
    if (c.has_key) {
      EXPECT_EQ(reply["remembered"], c.remembered) << c.text;
    }
    auto stored = store_->find(c.text, "zh");
    ASSERT_TRUE(stored.ok());
    const auto& entry = stored.value();
    EXPECT_EQ(entry.has_value(), c.remembered) << c.text;
    if (entry) {
      EXPECT_EQ(entry->source, store::kSourceModel) << c.text;
      EXPECT_FALSE(entry->fields.contains("example")) << "blank fields are not stored";
      JsonValue again = body_of(explain(*answers_, {}, request(c.text, c.mode, false)));
      EXPECT_EQ(again["source"], "local") << c.text;
      EXPECT_EQ(again["tokens"], 0) << c.text;
    }
  }
}

TEST_F(ExplainTest, ADamagedStoreKeepsTheModelsAnswerButDoesNotRememberIt) {
  const std::string path = dir_.file("damaged.sqlite3");
  auto page = test::make_damaged_store(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;
  auto damaged = TermStore::open(path, {});
  ASSERT_TRUE(damaged.ok()) << damaged.error().text();
  store::NameIndex names(**damaged);
  Context ctx{**damaged, "1", *models_, names};
  auto answer = explain(ctx, answering({{"definition", "d"}}), request("LLM", "auto", true));
  EXPECT_TRUE(answer.ok());
  JsonValue reply = body_of(answer);
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["fields"], JsonValue({{"definition", "d"}}));  // the answer is kept
  EXPECT_EQ(reply["remembered"], false);
  ASSERT_TRUE(reply["warning"].is_string());
  EXPECT_NE(reply["warning"].get<std::string>().find(std::string(store::kStoreDamagedRefusal)), std::string::npos);
  auto stored = (*damaged)->find("LLM", "zh");
  ASSERT_TRUE(stored.ok());
  EXPECT_FALSE(stored.value().has_value());
}

}  // namespace
}  // namespace ruvo::desktop::answers
