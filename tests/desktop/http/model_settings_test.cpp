// Setting the model up while the service runs, through the routes: what is
// configured, a change written to model.json and in effect at once, a try,
// and a model.json changed by hand read again.
#include "http/handlers.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/fake_model.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::http {
namespace {

using test::closed_port;
using test::completion_body;
using test::explanation_json;
using test::FakeModel;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kKey = "sk-settings-secret-77a1";

class ModelSettingsTest : public test::ServiceTest {
 protected:
  ModelSettingsTest() : ServiceTest(kToken, "1.0") {}

  void SetUp() override {
    ServiceTest::SetUp();
    models_->reload();  // as the service does at start: no model.json yet
  }

  Reply call(std::string_view method, std::string_view path, const JsonValue& body = JsonValue()) {
    return handle_request(*ctx_, method, path, std::string(kToken), body.is_null() ? "" : body.dump());
  }

  std::string file() const { return models_->file(); }
};

TEST_F(ModelSettingsTest, NothingConfiguredSaysWhereTheFileGoes) {
  Reply got = call("GET", "/v1/model");
  EXPECT_EQ(got.status, 200);
  EXPECT_EQ(got.body["ok"], true);
  EXPECT_EQ(got.body["configured"], false);
  EXPECT_EQ(got.body["apiKey"], false);
  EXPECT_EQ(got.body["baseUrl"], "");
  EXPECT_EQ(got.body["file"], file());
  Reply health = call("GET", "/v1/health");
  EXPECT_EQ(health.body["model"], JsonValue({{"configured", false}, {"file", file()}}));
}

TEST_F(ModelSettingsTest, APutIsWrittenOwnerOnlyAndServesTheNextExplanation) {
  FakeModel fake({{200, completion_body(explanation_json("关系", "两者配合", "先查再答", "例子"), 55)}});
  ASSERT_TRUE(store_->save(store::TermDraft{"RAG", "zh", "term", {{"definition", "检索增强生成"}}}).ok());

  Reply put = call("PUT", "/v1/model", {{"baseUrl", fake.base_url() + "/"}, {"model", "test-model"}, {"apiKey", kKey}});
  EXPECT_EQ(put.status, 200) << put.body.dump();
  EXPECT_EQ(put.body["saved"], true);
  EXPECT_EQ(put.body["configured"], true);
  EXPECT_EQ(put.body["baseUrl"], fake.base_url());
  EXPECT_EQ(put.body["model"], "test-model");
  EXPECT_EQ(put.body["apiKey"], true);
  EXPECT_EQ(put.body["jsonMode"], true);
  EXPECT_EQ(put.body.dump().find(kKey), std::string::npos);
  EXPECT_EQ(platform::file_mode(file()), std::optional<unsigned>(0600));
  auto written = platform::read_file(file());
  ASSERT_TRUE(written.ok());
  EXPECT_NE(written->find(kKey), std::string::npos);
  EXPECT_EQ(call("GET", "/v1/health").body["model"]["name"], "test-model");

  JsonValue body = {{"allowCloud", true}, {"lang", "zh"}, {"mode", "auto"}, {"text", "RAG 和向量检索是什么关系？"}};
  Reply explained = call("POST", "/v1/explain", body);
  EXPECT_EQ(explained.body["source"], "model") << explained.body.dump();
  EXPECT_EQ(explained.body["terms"][0]["term"], "RAG");
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kKey);
  const std::string user = requests[0].json["messages"][1]["content"].get<std::string>();
  EXPECT_NE(user.find("Dictionary entries:\n- RAG (zh): 检索增强生成"), std::string::npos) << user;
  const std::string system = requests[0].json["messages"][0]["content"].get<std::string>();
  EXPECT_NE(system.find("never contradict"), std::string::npos) << system;
}

TEST_F(ModelSettingsTest, AnAbsentKeyIsKeptAnEmptyOneRemovedAndJsonModeKept) {
  ASSERT_EQ(call("PUT", "/v1/model",
                 {{"baseUrl", "http://127.0.0.1:9/v1"}, {"model", "a"}, {"apiKey", kKey}, {"jsonMode", false}})
                .status,
            200);
  Reply kept = call("PUT", "/v1/model", {{"baseUrl", "http://127.0.0.1:9/v1"}, {"model", "b"}});
  EXPECT_EQ(kept.body["apiKey"], true);
  EXPECT_EQ(kept.body["jsonMode"], false);
  EXPECT_EQ(kept.body["model"], "b");
  Reply removed = call("PUT", "/v1/model", {{"baseUrl", "http://127.0.0.1:9/v1"}, {"model", "b"}, {"apiKey", ""}});
  EXPECT_EQ(removed.body["apiKey"], false);
  EXPECT_EQ(platform::read_file(file()).value_or("").find(kKey), std::string::npos);
}

TEST_F(ModelSettingsTest, FaultySettingsAreRefusedAndChangeNothing) {
  struct Case {
    JsonValue body;
    const char* message;  // the beginning of it
  };
  const Case cases[] = {
      {{{"baseUrl", "ftp://h/v1"}, {"model", "m"}}, "model.json 的 baseUrl 不是可用的模型地址"},
      {{{"baseUrl", "http://user:pw@h/v1"}, {"model", "m"}}, "model.json 的 baseUrl 不是可用的模型地址"},
      {{{"baseUrl", "http://h/v1"}}, "model 不能是空的"},
      {{{"baseUrl", "http://h/v1"}, {"model", " "}}, "model 不能是空的"},
      {{{"model", "m"}}, "baseUrl 不能是空的"},
      {{{"baseUrl", "http://h/v1"}, {"model", "m"}, {"apiKey", "with space"}}, "model.json 的 apiKey 只能由可见的"},
      {{{"baseUrl", "http://h/v1"}, {"model", "m"}, {"apiKey", 7}}, "apiKey 必须是字符串"},
      {{{"baseUrl", "http://h/v1"}, {"model", "m"}, {"jsonMode", "yes"}}, "jsonMode 必须是 true 或 false"},
  };
  for (const auto& c : cases) {
    Reply reply = call("PUT", "/v1/model", c.body);
    EXPECT_EQ(reply.status, 400) << c.body.dump();
    EXPECT_EQ(reply.body["kind"], "bad_request") << c.body.dump();
    EXPECT_EQ(reply.body["message"].get<std::string>().rfind(c.message, 0), 0u) << reply.body.dump();
  }
  Reply not_json = handle_request(*ctx_, "PUT", "/v1/model", std::string(kToken), "[1]");
  EXPECT_EQ(not_json.status, 400);
  EXPECT_FALSE(platform::is_regular_file(file()));
  EXPECT_EQ(call("GET", "/v1/model").body["configured"], false);
  EXPECT_EQ(call("DELETE", "/v1/model").status, 405);
  EXPECT_EQ(handle_request(*ctx_, "GET", "/v1/model", std::string("wrong"), "").status, 401);
}

TEST_F(ModelSettingsTest, ATryAsksOneQuestionAndSaysTheTimeOrTheError) {
  Reply none = call("POST", "/v1/model/try");
  EXPECT_EQ(none.status, 400);
  EXPECT_EQ(none.body["message"].get<std::string>().rfind("还没有配置模型", 0), 0u);

  FakeModel fake({{200, completion_body(explanation_json("API", "应用程序接口", "程序之间的约定", "例子"), 9)}});
  ASSERT_EQ(call("PUT", "/v1/model", {{"baseUrl", fake.base_url()}, {"model", "test-model"}, {"apiKey", kKey}}).status,
            200);
  Reply tried = call("POST", "/v1/model/try");
  EXPECT_EQ(tried.status, 200) << tried.body.dump();
  EXPECT_EQ(tried.body["answer"], "应用程序接口");
  EXPECT_TRUE(tried.body["ms"].is_number());
  EXPECT_EQ(tried.body["model"], "fake-model");
  EXPECT_EQ(tried.body["tokens"], 9);
  ASSERT_EQ(fake.requests().size(), 1u);
  EXPECT_EQ(fake.requests()[0].authorization, std::string("Bearer ") + kKey);

  // Settings not yet saved: tried as given; the key in use goes only to
  // the address it is used with.
  FakeModel other({{200, completion_body(explanation_json("API", "接口", "约定", "例子"))}});
  Reply elsewhere = call("POST", "/v1/model/try", {{"baseUrl", other.base_url()}, {"model", "other"}});
  EXPECT_EQ(elsewhere.status, 200) << elsewhere.body.dump();
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_EQ(other.requests()[0].authorization, "");
  EXPECT_EQ(other.requests()[0].json["model"], "other");
  EXPECT_EQ(call("GET", "/v1/model").body["model"], "test-model");  // nothing saved

  const std::string closed = "http://127.0.0.1:" + std::to_string(closed_port()) + "/v1";
  Reply unreachable = call("POST", "/v1/model/try", {{"baseUrl", closed}, {"model", "m"}});
  EXPECT_EQ(unreachable.status, 502);
  EXPECT_EQ(unreachable.body["kind"], "model");
  EXPECT_EQ(unreachable.body["reason"], "unreachable");
  Reply faulty = call("POST", "/v1/model/try", {{"baseUrl", "nope"}, {"model", "m"}});
  EXPECT_EQ(faulty.status, 400);
}

TEST_F(ModelSettingsTest, AModelJsonWrittenByHandIsReadAgainWhenItChanges) {
  FakeModel fake({{200, completion_body(explanation_json("X", "手写配置的回答", "P", "E"))}});
  models_->reload_if_changed();
  EXPECT_FALSE(models_->current()->ask);
  ASSERT_TRUE(
      platform::write_file_atomically(file(), "{\"baseUrl\": \"" + fake.base_url() + "\", \"model\": \"by-hand\"}")
          .ok());
  models_->reload_if_changed();
  ASSERT_TRUE(models_->current()->ask);
  EXPECT_EQ(call("GET", "/v1/health").body["model"]["name"], "by-hand");
  Reply explained = call("POST", "/v1/explain", {{"allowCloud", true}, {"text", "手写词"}, {"mode", "term"}});
  EXPECT_EQ(explained.body["definition"], "手写配置的回答") << explained.body.dump();

  // A broken file: no model, and health says why.
  ASSERT_TRUE(platform::write_file_atomically(file(), "{not json").ok());
  models_->reload_if_changed();
  EXPECT_FALSE(models_->current()->ask);
  Reply health = call("GET", "/v1/health");
  EXPECT_EQ(health.body["model"]["configured"], false);
  EXPECT_EQ(health.body["model"]["problem"].get<std::string>().rfind("model.json 不是有效的 JSON", 0), 0u);
  // Removed: nothing configured, and no problem either.
  ASSERT_TRUE(platform::remove_file(file()).ok());
  models_->reload_if_changed();
  EXPECT_EQ(call("GET", "/v1/health").body["model"], JsonValue({{"configured", false}, {"file", file()}}));
  EXPECT_NE(log_text().find("model.json changed"), std::string::npos);
}

}  // namespace
}  // namespace ruvo::desktop::http
