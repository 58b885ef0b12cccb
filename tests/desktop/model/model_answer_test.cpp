// What is sent to a chat-completions endpoint and how its answer is read.
#include "model/model_answer.hpp"

#include "answers/explanations.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::model {
namespace {

// What the model is asked for an explain request with these members.
ModelRequest request_of(std::string text, std::string mode = "auto", std::string lang = "zh",
                        std::string context = {}) {
  answers::ExplainRequest r;
  r.text = std::move(text);
  r.mode = std::move(mode);
  r.lang = std::move(lang);
  r.allow_cloud = true;
  r.context = std::move(context);
  return answers::model_request(r);
}

ModelConfig config_of(bool json_mode = true) {
  return ModelConfig{"http://127.0.0.1:1/v1", "qwen2.5:7b", "", json_mode, {}};
}

std::string system_text(const JsonValue& body) { return body["messages"][0]["content"].get<std::string>(); }
std::string user_text(const JsonValue& body) { return body["messages"][1]["content"].get<std::string>(); }

TEST(ChatRequestTest, AsksForOneJsonObjectInTheRequestedLanguage) {
  JsonValue body = chat_request(config_of(), request_of("向量检索"));
  EXPECT_EQ(body["model"], "qwen2.5:7b");
  EXPECT_EQ(body["stream"], false);
  EXPECT_LE(body["temperature"].get<double>(), 0.3);
  EXPECT_EQ(body["response_format"], JsonValue({{"type", "json_object"}}));
  ASSERT_EQ(body["messages"].size(), 2u);
  EXPECT_EQ(body["messages"][0]["role"], "system");
  EXPECT_EQ(body["messages"][1]["role"], "user");
  std::string system = system_text(body);
  for (const char* part : {"JSON object", "\"term\"", "\"definition\"", "\"plain\"", "\"example\"",
                           "meets it for the first time", "Simplified Chinese"}) {
    EXPECT_NE(system.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(user_text(body), "Term: 向量检索");

  JsonValue english = chat_request(config_of(false), request_of("RAG", "term", "en", "a paper on search"));
  EXPECT_FALSE(english.contains("response_format"));
  EXPECT_NE(system_text(english).find("in English"), std::string::npos);
  EXPECT_EQ(user_text(english), "Term: RAG\n\nContext:\na paper on search");
}

TEST(ChatRequestTest, PassagesAndSentencesAreExplainedInPlainWords) {
  for (const auto& r :
       {request_of("RAG", "passage"), request_of("为什么先检索再生成？"), request_of("第一行\n第二行")}) {
    JsonValue body = chat_request(config_of(), r);
    std::string system = system_text(body);
    EXPECT_NE(system.find("explain a passage"), std::string::npos) << r.text;
    EXPECT_NE(system.find("plain-language explanation of the whole passage"), std::string::npos) << r.text;
    EXPECT_EQ(user_text(body), "Passage:\n" + r.text);
  }
}

TEST(ReadCompletionTest, TakesTheFirstMessageTheUsageAndTheModel) {
  auto plain = read_completion(R"({"model":"m-1","choices":[{"message":{"content":"hello"}},{"message":
                                   {"content":"other"}}],"usage":{"total_tokens":57,"prompt_tokens":1}})",
                               "");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain.value().content, "hello");
  EXPECT_EQ(plain.value().tokens, 57);
  EXPECT_EQ(plain.value().model, "m-1");

  auto parts = read_completion(R"({"choices":[{"message":{"content":[{"type":"text","text":"a"},
                                   {"type":"text","text":"b"}]}}],"usage":{"prompt_tokens":3,"completion_tokens":4}})",
                               "");
  ASSERT_TRUE(parts.ok());
  EXPECT_EQ(parts.value().content, "ab");
  EXPECT_EQ(parts.value().tokens, 7);

  auto bare = read_completion(R"({"choices":[{"message":{"content":null}}]})", "");
  ASSERT_TRUE(bare.ok());
  EXPECT_EQ(bare.value().content, "");
  EXPECT_TRUE(bare.value().tokens.is_null());
}

TEST(ReadCompletionTest, BodiesThatAreNoCompletionSayWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"<html>502</html>", "模型服务的回复不是 JSON 对象"},
      {"[]", "模型服务的回复不是 JSON 对象"},
      {R"({"choices":[]})", "回复里没有 choices"},
      {R"({"error":{"message":"model overloaded, key sk-secret-1"}})", "模型服务报错：model overloaded, key ***"},
  };
  for (const auto& [body, reason] : cases) {
    auto result = read_completion(body, "sk-secret-1");
    ASSERT_FALSE(result.ok()) << body;
    EXPECT_EQ(result.error().text(), reason) << body;
  }
}

TEST(ReadExplanationTest, FindsTheJsonWhereverTheModelPutIt) {
  const std::string object = R"({"term":"向量检索","definition":"定义文字","plain":"通俗文字","example":"例子文字"})";
  const std::string cases[] = {
      object,
      "```json\n" + object + "\n```",
      "```\n" + object + "\n```\n",
      "好的，下面是解释：\n" + object + "\n希望有帮助！",
      "Here is {the answer} you asked for: " + object,
      "<think>先想想 {\"definition\":\"草稿\"} 的写法</think>\n" + object,
      R"({"Term":"向量检索","DEFINITION":" 定义文字 ","Plain":"通俗文字","example":"例子文字"})",
      R"({"词条":"向量检索","定义":"定义文字","通俗解释":"通俗文字","例子":"例子文字"})",
  };
  for (const auto& content : cases) {
    auto result = read_explanation(content);
    ASSERT_TRUE(result.ok()) << content << ": " << result.error().text();
    const auto& e = result.value();
    EXPECT_EQ(e.term, "向量检索") << content;
    EXPECT_EQ(e.fields, JsonValue({{"definition", "定义文字"}, {"example", "例子文字"}, {"plain", "通俗文字"}}))
        << content;
  }
}

TEST(ReadExplanationTest, PartialAnswersKeepWhatIsComplete) {
  struct Case {
    const char* content;
    JsonValue fields;
  };
  const Case cases[] = {
      // Cut off in the middle of "example": the members before it stand.
      {R"({"term":"X","definition":"D","plain":"P","example":"half a sent)", {{"definition", "D"}, {"plain", "P"}}},
      {"```json\n{\"definition\": \"D\",\n \"plain\": \"P\"", {{"definition", "D"}, {"plain", "P"}}},
      // Missing and blank members are simply absent.
      {R"({"plain":"P","example":"  "})", {{"plain", "P"}}},
      {R"({"definition":"D","example":42})", {{"definition", "D"}}},
  };
  for (const auto& c : cases) {
    auto result = read_explanation(c.content);
    ASSERT_TRUE(result.ok()) << c.content;
    EXPECT_EQ(result.value().fields, c.fields) << c.content;
  }
}

TEST(ReadExplanationTest, UnusableAnswersSayWhy) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "回答是空的"},
      {"  \n ", "回答是空的"},
      {"<think>还没想完 {", "回答是空的"},
      {"向量检索是一种按语义查找的方法。", "回答里找不到要求的 JSON 对象"},
      {"{not json at all}", "回答里找不到要求的 JSON 对象"},
      {R"({"answer":"D"})", "回答里找不到要求的 JSON 对象"},
      {R"({"term":"X","example":"E"})", "回答里既没有定义，也没有通俗解释"},
      {std::string(100000, '{'), "回答里找不到要求的 JSON 对象"},
  };
  for (const auto& [content, reason] : cases) {
    auto result = read_explanation(content);
    ASSERT_FALSE(result.ok()) << content.substr(0, 40);
    EXPECT_EQ(result.error().text(), reason) << content.substr(0, 40);
  }
}

TEST(EndpointErrorTextTest, QuotesTheEndpointCutAndMasked) {
  EXPECT_EQ(endpoint_error_text(R"({"error":{"message":"The model `x` does not exist"}})", "k"),
            "The model `x` does not exist");
  EXPECT_EQ(endpoint_error_text(R"({"error":"bad\nrequest"})", ""), "bad request");
  EXPECT_EQ(endpoint_error_text(R"({"message":"key sk-abc-123 and sk-abc-123"})", "sk-abc-123"), "key *** and ***");
  EXPECT_EQ(endpoint_error_text("not json", "k"), "");
  std::string long_text(300, 'x');
  EXPECT_EQ(endpoint_error_text(R"({"error":")" + long_text + "\"}", ""), std::string(200, 'x') + "…");
  EXPECT_EQ(mask_secret("***x***", "***"), "***x***");  // a key that looks like the mask cannot loop
}

}  // namespace
}  // namespace ruvo::desktop::model
