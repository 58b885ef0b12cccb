// The explain route with a real chat model against the scripted fake
// endpoint: answers, remembering, and every way the call can fail.
#include "answers/model_setup.hpp"
#include "http/handlers.hpp"
#include "model/model_config.hpp"
#include "platform/platform.hpp"
#include "support/fake_model.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::http {
namespace {

using model::kDefaultAnswerBound;
using model::kDefaultConnectBound;
using model::ModelConfig;
using test::closed_port;
using test::completion_body;
using test::explanation_json;
using test::FakeModel;
using test::ScriptedReply;
using test::TempDir;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kKey = "sk-route-secret-5d1e0b";

class ModelRouteTest : public test::ServiceTest {
 protected:
  ModelRouteTest() : ServiceTest(kToken, "1.0") {}

  static ModelConfig config_for(const std::string& base_url, std::string key = kKey,
                                std::chrono::milliseconds answer = kDefaultAnswerBound) {
    return ModelConfig{base_url, "test-model", std::move(key), true, {std::min(kDefaultConnectBound, answer), answer}};
  }

  void use(const ModelConfig& config) { models_->use(answers::chat_model(config, log_sink())); }

  Reply explain(const std::string& text, const std::string& mode = "auto", bool allow_cloud = true) {
    JsonValue body = {{"allowCloud", allow_cloud}, {"context", ""}, {"lang", "zh"}, {"mode", mode}, {"text", text}};
    return handle_request(*ctx_, "POST", "/v1/explain", std::string(kToken), body.dump());
  }

  Reply lookup(const std::string& text) {
    return handle_request(*ctx_, "POST", "/v1/lookup", std::string(kToken), JsonValue{{"text", text}}.dump());
  }
};

TEST_F(ModelRouteTest, MissIsAnsweredByTheModelAndThenIsAFreeLocalHit) {
  FakeModel fake(
      {{200, completion_body(explanation_json("向量检索", "按语义找相近的向量", "像按意思找书", "找相似图片"), 321)}});
  use(config_for(fake.base_url()));

  Reply first = explain("向量检索");
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.body["ok"], true) << first.body.dump();
  EXPECT_EQ(first.body["source"], "model");
  EXPECT_EQ(first.body["term"], "向量检索");
  EXPECT_EQ(first.body["definition"], "按语义找相近的向量");
  EXPECT_EQ(first.body["plain"], "像按意思找书");
  EXPECT_EQ(first.body["example"], "找相似图片");
  EXPECT_EQ(first.body["tokens"], 321);
  EXPECT_EQ(first.body["model"], "fake-model");
  EXPECT_EQ(first.body["remembered"], true);
  EXPECT_TRUE(first.body["id"].is_string());

  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kKey);
  EXPECT_EQ(requests[0].json["model"], "test-model");
  EXPECT_EQ(requests[0].json["messages"][1]["content"], "Term: 向量检索");
  EXPECT_EQ(requests[0].json["response_format"]["type"], "json_object");

  for (const char* again : {"向量检索", " 向量检索 "}) {
    Reply local = explain(again);
    EXPECT_EQ(local.body["source"], "local") << again;
    EXPECT_EQ(local.body["tokens"], 0);
    EXPECT_EQ(local.body["origin"], "model");
    EXPECT_EQ(local.body["definition"], "按语义找相近的向量");
  }
  Reply hit = lookup("向量检索");
  EXPECT_EQ(hit.body["hit"], true);
  EXPECT_EQ(hit.body["plain"], "像按意思找书");
  EXPECT_EQ(fake.requests().size(), 1u);

  std::string logged = log_text();
  EXPECT_NE(logged.find("model call (test-model): answered in"), std::string::npos) << logged;
  EXPECT_EQ(logged.find(kKey), std::string::npos) << logged;
  EXPECT_EQ(logged.find("向量检索"), std::string::npos) << "the log holds no text of the user";
}

TEST_F(ModelRouteTest, CloudNotAllowedNeverReachesTheModel) {
  FakeModel fake({{200, completion_body(explanation_json("X", "D", "P", "E"))}});
  use(config_for(fake.base_url()));
  for (const char* mode : {"auto", "term", "passage"}) {
    Reply reply = explain("没存过的词", mode, false);
    EXPECT_EQ(reply.body["ok"], false) << mode;
    EXPECT_EQ(reply.body["kind"], "miss") << mode;
    EXPECT_EQ(reply.body["reason"], "cloud_not_allowed") << mode;
  }
  EXPECT_TRUE(fake.requests().empty());
}

TEST_F(ModelRouteTest, PassagesAreExplainedButNeverRemembered) {
  FakeModel fake({{200, completion_body(explanation_json("检索与生成", "要点", "通俗的整段解释", "例子"))}});
  use(config_for(fake.base_url()));
  const std::pair<const char*, const char*> cases[] = {
      {"向量检索", "passage"}, {"RAG 为什么要先检索？", "auto"}, {"第一行\n第二行", "auto"}};
  std::size_t calls = 0;
  for (const auto& [text, mode] : cases) {
    for (int round = 0; round < 2; ++round) {  // asked again, it goes to the model again
      Reply reply = explain(text, mode);
      EXPECT_EQ(reply.body["ok"], true) << text;
      EXPECT_EQ(reply.body["source"], "model") << text;
      EXPECT_EQ(reply.body["term"], "检索与生成") << text;
      EXPECT_EQ(reply.body["plain"], "通俗的整段解释") << text;
      EXPECT_FALSE(reply.body.contains("remembered")) << text;
      EXPECT_EQ(fake.requests().size(), ++calls) << text;
    }
    EXPECT_EQ(fake.requests().back().json["messages"][1]["content"], std::string("Passage:\n") + text);
    EXPECT_EQ(lookup(text).body["hit"], false) << text;
  }
  EXPECT_EQ(store_->count().value(), 0);
}

TEST_F(ModelRouteTest, FencedAndPartialAnswersAreUsedAndRemembered) {
  FakeModel fake({
      {200, completion_body("好的！\n```json\n" + explanation_json("A", "定义A", "通俗A", "例子A") + "\n```")},
      {200,
       completion_body("{\"term\": \"B\", \"definition\": \"定义B\", \"plain\": \"通俗B\", \"example\": \"写到一半")},
  });
  use(config_for(fake.base_url()));
  Reply fenced = explain("词A");
  EXPECT_EQ(fenced.body["ok"], true) << fenced.body.dump();
  EXPECT_EQ(fenced.body["example"], "例子A");
  Reply partial = explain("词B");
  EXPECT_EQ(partial.body["ok"], true) << partial.body.dump();
  EXPECT_EQ(partial.body["fields"], JsonValue({{"definition", "定义B"}, {"plain", "通俗B"}}));
  EXPECT_FALSE(partial.body.contains("example"));
  EXPECT_EQ(partial.body["remembered"], true);
  EXPECT_EQ(lookup("词B").body["definition"], "定义B");
}

TEST_F(ModelRouteTest, FailuresAreModelErrorsWithAClearMessageAndNothingIsStored) {
  TempDir certs;
  ASSERT_TRUE(test::write_self_signed_certificate(certs.file("cert.pem"), certs.file("key.pem")));
  const std::string echo_key = std::string(R"({"error":{"message":"Incorrect API key provided: )") + kKey + "\"}}";
  struct Case {
    const char* label;
    std::vector<ScriptedReply> replies;
    bool tls;
    std::string key;
    std::chrono::milliseconds answer;
    int status;
    const char* reason;
    std::string message;  // "%s" stands for the base URL
  };
  ScriptedReply endless;
  endless.endless = true;
  const Case cases[] = {
      {"time-out",
       {{200, "", true}},
       false,
       kKey,
       std::chrono::milliseconds(1000),
       504,
       "timeout",
       "模型服务超时：1 秒内没有答完（%s）"},
      {"slow trickle",
       {{200, "", false, true}},
       false,
       kKey,
       std::chrono::milliseconds(1000),
       504,
       "timeout",
       "模型服务超时：1 秒内没有答完（%s）"},
      {"refused key",
       {{401, echo_key}},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "auth",
       "模型服务拒绝了 API key（HTTP 401）：请检查 model.json 的 apiKey 或环境变量 RUVO_MODEL_API_KEY"},
      {"key required",
       {{401, "{}"}},
       false,
       "",
       kDefaultAnswerBound,
       502,
       "auth",
       "模型服务要求 API key（HTTP 401）：请在 model.json 里填 apiKey，或设置环境变量 RUVO_MODEL_API_KEY"},
      {"server error",
       {{500, std::string(R"({"error":"upstream failed for )") + kKey + "\"}"}},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "status",
       "模型服务返回了错误（HTTP 500）：upstream failed for ***"},
      {"empty answer",
       {{200, completion_body("")}},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "unusable",
       "模型的回答不能用：回答是空的"},
      {"prose only",
       {{200, completion_body("向量检索就是按意思找东西。")}},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "unusable",
       "模型的回答不能用：回答里找不到要求的 JSON 对象"},
      {"not a completion",
       {{200, "<html>gateway</html>"}},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "unusable",
       "模型的回答不能用：模型服务的回复不是 JSON 对象"},
      {"endless answer",
       {endless},
       false,
       kKey,
       kDefaultAnswerBound,
       502,
       "unusable",
       "模型的回答不能用：回答超过 8 MiB"},
      {"untrusted certificate",
       {{200, completion_body(explanation_json("X", "D", "P", "E"))}},
       true,
       kKey,
       kDefaultAnswerBound,
       502,
       "unreachable",
       "连不上模型服务（%s）：服务器证书校验失败"},
  };
  for (const auto& c : cases) {
    auto fake = c.tls ? std::make_unique<FakeModel>(c.replies, certs.file("cert.pem"), certs.file("key.pem"))
                      : std::make_unique<FakeModel>(c.replies);
    use(config_for(fake->base_url(), c.key, c.answer));
    Reply reply = explain("失败词");
    std::string message = c.message;
    if (auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, fake->base_url());
    EXPECT_EQ(reply.status, c.status) << c.label;
    EXPECT_EQ(reply.body["ok"], false) << c.label;
    EXPECT_EQ(reply.body["kind"], "model") << c.label;
    EXPECT_EQ(reply.body["reason"], c.reason) << c.label;
    EXPECT_EQ(reply.body["message"], message) << c.label;
    EXPECT_EQ(reply.body.dump().find(kKey), std::string::npos) << c.label;
    EXPECT_EQ(fake->requests().size(), c.tls ? 0u : 1u) << c.label;
    EXPECT_EQ(lookup("失败词").body["hit"], false) << c.label;
  }
  EXPECT_EQ(log_text().find(kKey), std::string::npos) << log_text();
}

TEST_F(ModelRouteTest, UnreachableEndpointIsNamed) {
  std::string base = "http://127.0.0.1:" + std::to_string(closed_port()) + "/v1";
  use(config_for(base));
  Reply reply = explain("失败词");
  EXPECT_EQ(reply.body["kind"], "model");
  EXPECT_EQ(reply.body["reason"], "unreachable");
  EXPECT_EQ(reply.body["message"].get<std::string>().rfind("连不上模型服务（" + base + "）：", 0), 0u)
      << reply.body.dump();
}

TEST_F(ModelRouteTest, ASaveByHandDuringTheModelCallIsNeverOverwritten) {
  FakeModel fake({{200, completion_body(explanation_json("嵌入", "模型的定义", "模型的通俗解释", "模型的例子"))}});
  answers::ExplainModel chat = answers::chat_model(config_for(fake.base_url()), log_sink());
  // The person saves the term while the model is still answering.
  models_->use([this, &chat](const model::ModelRequest& request) {
    JsonValue save = {{"term", "嵌入"}, {"fields", {{"定义", "我自己的定义"}}}};
    EXPECT_EQ(handle_request(*ctx_, "POST", "/v1/save", std::string(kToken), save.dump()).body["ok"], true);
    return chat(request);
  });
  Reply reply = explain("嵌入");
  EXPECT_EQ(reply.body["ok"], true);
  EXPECT_EQ(reply.body["source"], "model");
  EXPECT_EQ(reply.body["remembered"], false);
  Reply hit = lookup("嵌入");
  EXPECT_EQ(hit.body["definition"], "我自己的定义");
  EXPECT_FALSE(hit.body.contains("plain"));
  EXPECT_EQ(hit.body["origin"], "user");
}

}  // namespace
}  // namespace ruvo::desktop::http
