#include "explain.hpp"

#include "support/damaged_store.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop {
namespace {

using test::TempDir;

TEST(ParseExplainRequestTest, ReadsMembersAndAppliesDefaults) {
  auto full = parse_explain_request(JsonValue::parse(
      R"({"allowCloud":true,"context":"c","lang":"en","mode":"passage","text":"  Hello\u3000"})"));
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
  const std::string sixty_four(kMaxTermChars, 'a');
  std::string sixty_four_chinese;
  for (std::size_t i = 0; i < kMaxTermChars; ++i) sixty_four_chinese += "词";
  const std::pair<std::string, bool> cases[] = {
      {"RAG", true},
      {"Function Calling", true},
      {sixty_four, true},
      {sixty_four + "a", false},
      {sixty_four_chinese, true},  // characters are counted, not bytes
      {sixty_four_chinese + "词", false},
      {"line one\nline two", false},
      {"a\rb", false},
      {"a\xe2\x80\xa8" "b", false},  // LINE SEPARATOR
      {"RAG 是什么？", false},          // a question reads as a sentence
      {"what is RAG?", false},
      {"先检索，再生成", false},
      {"CI/CD", true},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(reads_as_term(text), expected) << text;
}

class ExplainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = TermStore::open(dir_.file("terms.sqlite3"), {});
    ASSERT_TRUE(opened.ok());
    store_ = std::move(opened.value());
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

  TempDir dir_;
  std::unique_ptr<TermStore> store_;
};

TEST_F(ExplainTest, StoredTermIsAnsweredLocallyForFreeInTermAndAutoMode) {
  for (const char* mode : {"term", "auto"}) {
    Reply reply = explain(*store_, {}, request("rag", mode, false));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body["ok"], true) << mode;
    EXPECT_EQ(reply.body["source"], "local");
    EXPECT_EQ(reply.body["term"], "RAG");
    EXPECT_EQ(reply.body["definition"], "检索增强生成");
    EXPECT_EQ(reply.body["plain"], "先查再答");
    EXPECT_FALSE(reply.body.contains("example"));
    EXPECT_EQ(reply.body["tokens"], 0);
  }
}

TEST_F(ExplainTest, AutoModeFindsAStoredTermEvenWhenItReadsAsASentence) {
  ASSERT_TRUE(store_->save(TermDraft{"为什么？", "zh", "term", {{"plain", "p"}}}).ok());
  Reply reply = explain(*store_, {}, request("为什么？", "auto", false));
  EXPECT_EQ(reply.body["ok"], true);
  EXPECT_EQ(reply.body["source"], "local");
  EXPECT_FALSE(reply.body.contains("kind")) << reply.body.dump();
}

TEST_F(ExplainTest, ATermStoredInAnotherLanguageIsAnsweredInItsOwn) {
  Reply reply = explain(*store_, {}, request("RAG", "auto", false, "en"));
  EXPECT_EQ(reply.body["ok"], true);
  EXPECT_EQ(reply.body["source"], "local");
  EXPECT_EQ(reply.body["lang"], "zh");
  EXPECT_EQ(reply.body["term"], "RAG");
}

TEST_F(ExplainTest, MissSaysWhetherTheModelWasNotAllowedOrIsMissing) {
  struct Case {
    std::string text;
    std::string mode;
    bool allow_cloud;
    std::string lang;
    std::string reason;
    std::string message;
  };
  const Case cases[] = {
      {"LLM", "auto", false, "zh", "cloud_not_allowed", "词库里没有「LLM」，而这次不允许调用模型"},
      {"LLM", "term", true, "zh", "no_model", "词库里没有「LLM」，可还没有配置模型"},
      {"LLM", "auto", false, "en", "cloud_not_allowed", "词库里没有「LLM」的英文解释，而这次不允许调用模型"},
      // A passage is never answered from the store, even when it is a stored term.
      {"RAG", "passage", false, "zh", "cloud_not_allowed",
       "本地词库只能解释单个词条，这段文字要靠模型解释，而这次不允许调用模型"},
      {"第一行\n第二行", "auto", true, "zh", "no_model", "本地词库只能解释单个词条，这段文字要靠模型解释，可还没有配置模型"},
      {"RAG 是什么？", "auto", false, "zh", "cloud_not_allowed",
       "本地词库只能解释单个词条，这段文字要靠模型解释，而这次不允许调用模型"},
  };
  for (const auto& c : cases) {
    Reply reply = explain(*store_, {}, request(c.text, c.mode, c.allow_cloud, c.lang));
    EXPECT_EQ(reply.body["ok"], false) << c.text;
    EXPECT_EQ(reply.body.contains("suggestions"), c.mode != "passage" && c.text.find('\n') == std::string::npos &&
                                                      c.text.find(' ') == std::string::npos)
        << c.text;
    EXPECT_EQ(reply.body["kind"], "miss") << c.text;
    EXPECT_EQ(reply.body["reason"], c.reason) << c.text;
    EXPECT_EQ(reply.body["message"], c.message) << c.text;
  }
}

TEST_F(ExplainTest, ModelIsAskedOnlyWhenAllowedAndTheStoreCannotAnswer) {
  std::vector<std::string> asked;
  ExplainModel model = [&asked](const ExplainRequest& r) {
    asked.push_back(r.text);
    Reply reply;
    reply.body = {{"ok", true}, {"source", "model"}, {"term", r.text}, {"tokens", 42}};
    return reply;
  };
  EXPECT_EQ(explain(*store_, model, request("RAG", "auto", true)).body["source"], "local");
  EXPECT_EQ(explain(*store_, model, request("LLM", "auto", false)).body["kind"], "miss");
  Reply answered = explain(*store_, model, request("LLM", "auto", true));
  EXPECT_EQ(answered.body["source"], "model");
  EXPECT_EQ(answered.body["tokens"], 42);
  EXPECT_EQ(asked, std::vector<std::string>{"LLM"});
}

TEST_F(ExplainTest, ModelAnswersAboutTermsWithFieldsAreRememberedOthersAreNot) {
  JsonValue fields = {{"definition", "大语言模型"}};
  ExplainModel model = [&fields](const ExplainRequest& r) {
    Reply reply;
    reply.body = {{"ok", true}, {"source", "model"}, {"term", r.text}, {"fields", fields}, {"tokens", 7}};
    return reply;
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
    Reply reply = explain(*store_, model, request(c.text, c.mode, true));
    EXPECT_EQ(reply.body["ok"], true) << c.text;
    EXPECT_EQ(reply.body.contains("remembered"), c.has_key) << c.text;
    if (c.has_key) {
      EXPECT_EQ(reply.body["remembered"], c.remembered) << c.text;
    }
    auto stored = store_->find(c.text, "zh");
    ASSERT_TRUE(stored.ok());
    const auto& entry = stored.value();
    EXPECT_EQ(entry.has_value(), c.remembered) << c.text;
    if (entry) {
      EXPECT_EQ(entry->source, kSourceModel) << c.text;
      EXPECT_FALSE(entry->fields.contains("example")) << "blank fields are not stored";
      Reply again = explain(*store_, {}, request(c.text, c.mode, false));
      EXPECT_EQ(again.body["source"], "local") << c.text;
      EXPECT_EQ(again.body["tokens"], 0) << c.text;
    }
  }
}

TEST_F(ExplainTest, ADamagedStoreKeepsTheModelsAnswerButDoesNotRememberIt) {
  const std::string path = dir_.file("damaged.sqlite3");
  auto page = test::make_damaged_store(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;
  auto damaged = TermStore::open(path, {});
  ASSERT_TRUE(damaged.ok()) << damaged.error().text();
  ExplainModel model = [](const ExplainRequest& r) {
    Reply reply;
    reply.body = {{"ok", true}, {"source", "model"}, {"term", r.text}, {"fields", {{"definition", "d"}}}, {"tokens", 7}};
    return reply;
  };
  Reply reply = explain(**damaged, model, request("LLM", "auto", true));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body["ok"], true);
  EXPECT_EQ(reply.body["fields"], JsonValue({{"definition", "d"}}));  // the answer is kept
  EXPECT_EQ(reply.body["remembered"], false);
  ASSERT_TRUE(reply.body["warning"].is_string());
  EXPECT_NE(reply.body["warning"].get<std::string>().find(std::string(kStoreDamagedRefusal)), std::string::npos);
  auto stored = (*damaged)->find("LLM", "zh");
  ASSERT_TRUE(stored.ok());
  EXPECT_FALSE(stored.value().has_value());
}

}  // namespace
}  // namespace ruvo::desktop
