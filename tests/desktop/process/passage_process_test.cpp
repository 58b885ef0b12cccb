// End to end: the real ruvo and the real ruvo-gui.exe it starts, explaining
// sentences from the stored terms they name, with no model and then with
// the scripted fake endpoint set up while the service runs (through PUT
// /v1/model, and by a model.json written by hand), never restarted.
#include "client/http.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "support/fake_model.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::desktop {
namespace {

using common::JsonValue;
using test::completion_body;
using test::explanation_json;
using test::FakeModel;
using test::RunResult;
using test::TempDir;

constexpr int kRunLimitSeconds = 120;

// The starter glossary's definitions, as the lines of a passage give them.
constexpr std::string_view kRagLine =
    "RAG：检索增强生成（Retrieval-Augmented Generation）：在让大语言模型回答之前，先从外部知识库检索与问题相关的资料，"
    "把资料和问题一起放进提示词，让模型依据这些资料作答。";
constexpr std::string_view kVectorLine =
    "向量数据库：专门存储高维向量、并按相似度快速检索（近似最近邻搜索，ANN）的数据库，常用于语义搜索、推荐系统和 RAG。";
constexpr std::string_view kEmbeddingLine =
    "Embedding：嵌入：把文字、图片等数据映射成固定长度的数值向量的表示方法，语义相近的内容在向量空间中的距离也相近。";

struct LoggedServiceStopper {
  std::string data_folder;
  ~LoggedServiceStopper() { test::stop_logged_service(data_folder); }
};

class PassageProcessTest : public ::testing::Test {
 protected:
  std::string data_folder() const { return appdata_.file("com.corvanta.desktop"); }
  std::string model_file() const { return data_folder() + "/model.json"; }

  // ruvo with no model in its environment: the service it starts has only
  // what model.json says.
  RunResult ruvo(const std::vector<std::string>& words) {
    RunResult result = test::run({.words = words,
                                  .program = test::ruvo_program(),
                                  .env = {{"APPDATA", appdata_.path()}},
                                  .unset_env = {"RUVO_MODEL_BASE_URL", "RUVO_MODEL", "RUVO_MODEL_API_KEY"},
                                  .timeout_seconds = kRunLimitSeconds});
    EXPECT_FALSE(result.timed_out) << "ruvo did not end";
    return result;
  }

  JsonValue json_of(const RunResult& result) {
    auto parsed = common::parse_json(result.out);
    EXPECT_TRUE(parsed.ok()) << result.out << result.err;
    return parsed ? *parsed : JsonValue();
  }

  // A request to the service ruvo started, with the token of its discovery file.
  JsonValue call(std::string_view method, std::string_view path, const JsonValue& body) {
    auto info = test::wait_for_discovery(data_folder() + "/explain.json", test::kStartLimitMs);
    EXPECT_TRUE(info.has_value());
    if (!info) return JsonValue();
    auto reply = client::service_request(*info, protocol::Route{method, path, 30}, &body);
    EXPECT_TRUE(reply.ok()) << reply.error().text();
    return reply ? *reply : JsonValue();
  }

  TempDir appdata_;
  LoggedServiceStopper stopper_{data_folder()};
};

TEST_F(PassageProcessTest, WithoutACloudASentenceIsExplainedTermByTermFromTheStore) {
  const std::string text = "RAG 和向量数据库是什么关系？Embedding 又是做什么的";
  RunResult printed = ruvo({"explain", text, "--no-cloud"});
  EXPECT_EQ(printed.exit_code, 0) << printed.err;
  const std::string definitions =
      "定义：" + std::string(kRagLine) + "\n" + std::string(kVectorLine) + "\n" + std::string(kEmbeddingLine) + "\n";
  EXPECT_EQ(printed.out.rfind(text + "（local）\n\n" + definitions, 0), 0u) << printed.out;
  EXPECT_NE(printed.out.find("\n通俗解释：RAG：像开卷考试"), std::string::npos) << printed.out;

  JsonValue reply = json_of(ruvo({"explain", text, "--no-cloud", "--json"}));
  EXPECT_EQ(reply["source"], "local");
  EXPECT_EQ(reply["tokens"], 0);
  struct Place {
    const char* term;
    int start;
    int end;
  };
  const Place places[] = {{"RAG", 0, 3}, {"向量数据库", 5, 10}, {"Embedding", 16, 25}};
  ASSERT_EQ(reply["terms"].size(), std::size(places)) << reply.dump();
  for (std::size_t i = 0; i < std::size(places); ++i) {
    EXPECT_EQ(reply["terms"][i]["term"], places[i].term);
    EXPECT_EQ(reply["terms"][i]["text"], places[i].term);
    EXPECT_EQ(reply["terms"][i]["start"], places[i].start) << places[i].term;
    EXPECT_EQ(reply["terms"][i]["end"], places[i].end) << places[i].term;
    EXPECT_TRUE(reply["terms"][i]["dictionary"].is_null());
    EXPECT_EQ(reply["terms"][i]["origin"], "glossary");
  }

  // Full-width and Traditional spellings are found as they are written.
  JsonValue typed = json_of(ruvo({"explain", "ＲＡＧ與向量數據庫", "--no-cloud", "--json"}));
  ASSERT_EQ(typed["terms"].size(), 2u) << typed.dump();
  EXPECT_EQ(typed["terms"][0]["text"], "ＲＡＧ");
  EXPECT_EQ(typed["terms"][1]["term"], "向量数据库");
  EXPECT_EQ(typed["terms"][1]["text"], "向量數據庫");

  // RAG is not in "drag": a text naming no stored term is a miss that says why.
  RunResult none = ruvo({"explain", "drag the fragment here", "--mode", "passage", "--no-cloud"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "这段文字里没有词库收录的词条，要靠模型解释，而这次不允许调用模型\n");
}

TEST_F(PassageProcessTest, AModelSetUpWhileTheServiceRunsIsGroundedInTheStoreAndRemembersAcrossLanguages) {
  // Started without a model: health and the miss say where one is set up.
  RunResult health = ruvo({"health"});
  ASSERT_EQ(health.exit_code, 0) << health.err;
  EXPECT_NE(health.out.find("\"file\": \"" + model_file() + "\""), std::string::npos) << health.out;
  RunResult no_model = ruvo({"explain", "没存过的词", "--mode", "term"});
  EXPECT_EQ(no_model.exit_code, 1);
  EXPECT_EQ(no_model.err, "词库里没有「没存过的词」，可还没有配置模型（在 " + model_file() +
                              " 里配置，或运行 ruvo-gui.exe 在状态页设置）\n");

  FakeModel fake(
      {{200, completion_body(explanation_json("RAG 与向量数据库", "RAG 用向量数据库检索资料", "先找再答", "问答"), 40)},
       {200, completion_body(
                 explanation_json("deadlock", "死锁：两个进程互相等待对方释放资源", "谁也不让谁", "哲学家就餐"), 25)}});
  JsonValue put = call("PUT", "/v1/model", JsonValue{{"baseUrl", fake.base_url()}, {"model", "test-model"}});
  EXPECT_EQ(put["saved"], true) << put.dump();
  EXPECT_EQ(platform::file_mode(model_file()), std::optional<unsigned>(0600));

  // --no-cloud still never reaches it.
  const std::string text = "RAG 和向量数据库是什么关系？";
  EXPECT_EQ(ruvo({"explain", text, "--no-cloud"}).exit_code, 0);
  EXPECT_TRUE(fake.requests().empty());

  RunResult asked = ruvo({"explain", text});
  EXPECT_EQ(asked.exit_code, 0) << asked.err;
  EXPECT_EQ(asked.out.rfind("RAG 与向量数据库（model）\n\n定义：RAG 用向量数据库检索资料\n", 0), 0u) << asked.out;
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string user = requests[0].json["messages"][1]["content"].get<std::string>();
  EXPECT_NE(user.find("\n- RAG (zh): 检索增强生成（Retrieval-Augmented Generation）"), std::string::npos) << user;
  EXPECT_NE(user.find("\n- 向量数据库 (zh): 专门存储高维向量"), std::string::npos) << user;

  // An entry only in English: told in Chinese given that entry, then a free
  // local hit.
  RunResult saved = ruvo({"save", "--term", "deadlock", "--lang", "en", "--fields",
                          R"({"定义":"A situation in which two processes each wait for the other."})"});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  JsonValue told = json_of(ruvo({"explain", "deadlock", "--json"}));
  EXPECT_EQ(told["source"], "model") << told.dump();
  EXPECT_EQ(told["lang"], "zh");
  EXPECT_EQ(told["basedOn"]["term"], "deadlock");
  EXPECT_EQ(told["basedOn"]["lang"], "en");
  requests = fake.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].json["messages"][1]["content"].get<std::string>().find(
                "- deadlock (en): A situation in which two processes each wait for the other."),
            std::string::npos);
  JsonValue again = json_of(ruvo({"explain", "deadlock", "--json"}));
  EXPECT_EQ(again["source"], "local") << again.dump();
  EXPECT_EQ(again["tokens"], 0);
  EXPECT_EQ(again["definition"], "死锁：两个进程互相等待对方释放资源");
  EXPECT_EQ(fake.requests().size(), 2u);
}

TEST_F(PassageProcessTest, AModelJsonWrittenByHandIsPickedUpWithoutARestart) {
  ASSERT_EQ(ruvo({"health"}).exit_code, 0);
  const auto pid = test::logged_service_pid(data_folder());
  FakeModel fake({{200, completion_body(explanation_json("手写", "手写配置的回答", "P", "E"))}});
  ASSERT_TRUE(platform::write_file_atomically(model_file(),
                                              "{\"baseUrl\": \"" + fake.base_url() + "\", \"model\": \"by-hand\"}")
                  .ok());
  // The upkeep looks four times a second; the bound is only for a broken build.
  std::string seen;
  for (int i = 0; i < 600 && seen.find("\"by-hand\"") == std::string::npos; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    seen = ruvo({"health"}).out;
  }
  EXPECT_NE(seen.find("\"name\": \"by-hand\""), std::string::npos) << seen;
  RunResult explained = ruvo({"explain", "手写词", "--mode", "term"});
  EXPECT_EQ(explained.exit_code, 0) << explained.err;
  EXPECT_NE(explained.out.find("定义：手写配置的回答"), std::string::npos) << explained.out;
  EXPECT_EQ(fake.requests().size(), 1u);
  EXPECT_EQ(test::logged_service_pid(data_folder()), pid);  // the same service all along
}

}  // namespace
}  // namespace ruvo::desktop
