// End to end: the real ruvo, which starts the real ruvo-gui.exe beside it
// with the model configured through the environment, against the scripted
// fake endpoint. The service ruvo starts is stopped by the pid its log names.
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/fake_model.hpp"
#include "support/fake_proxy.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/wait_line.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace ruvo::desktop {
namespace {

using test::completion_body;
using test::explanation_json;
using test::FakeModel;
using test::FakeProxy;
using test::RunResult;
using test::TempDir;

constexpr const char* kKey = "sk-process-secret-91c2aa";
// ruvo waits up to 95 s for an explain; the suite's own bound is above it.
constexpr int kRunLimitSeconds = 120;

// Stops the service ruvo started for the folder when it is destroyed, so
// none outlives its test.
struct LoggedServiceStopper {
  std::string data_folder;
  ~LoggedServiceStopper() { test::stop_logged_service(data_folder); }
};

class ModelProcessTest : public ::testing::Test {
 protected:
  std::string data_folder() const { return appdata_.file("com.corvanta.desktop"); }

  using Env = std::map<std::string, std::string>;

  Env env_for(const std::string& base_url, const Env& extra = {}) const {
    Env env = {{"APPDATA", appdata_.path()},
               {"RUVO_MODEL_BASE_URL", base_url},
               {"RUVO_MODEL", "test-model"},
               {"RUVO_MODEL_API_KEY", kKey}};
    for (const auto& [name, value] : extra) env[name] = value;
    return env;
  }

  RunResult ruvo(const std::vector<std::string>& words, const Env& env, std::string_view input = {}) {
    RunResult result = test::run({.words = words,
                                  .program = test::ruvo_program(),
                                  .env = env,
                                  .stdin_bytes = std::string(input),
                                  .timeout_seconds = kRunLimitSeconds});
    EXPECT_FALSE(result.timed_out) << "ruvo did not end";
    return result;
  }

  std::string log_text() const { return platform::read_file(data_folder() + "/ruvo-gui.log").value_or(""); }

  TempDir appdata_;
  // Destroyed before the folder: the service goes first.
  LoggedServiceStopper stopper_{data_folder()};
};

TEST_F(ModelProcessTest, ExplainAsksTheModelOnceAndThenAnswersLocally) {
  FakeModel fake({{200, completion_body(explanation_json("向量检索", "按语义相近程度查找向量的方法",
                                                         "像按意思而不是按字面找书", "用一张图片找相似图片"),
                                        99)}});
  Env env = env_for(fake.base_url());
  const std::string fields =
      "\n定义：按语义相近程度查找向量的方法\n\n通俗解释：像按意思而不是按字面找书\n\n例子：用一张图片找相似图片\n";

  RunResult first = ruvo({"explain", "向量检索"}, env);
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(first.out, "向量检索（model）\n" + fields);
  EXPECT_EQ(first.err, "");

  RunResult second = ruvo({"explain", "向量检索"}, env);
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_EQ(second.out, "向量检索（local）\n" + fields);

  RunResult lookup = ruvo({"lookup", "向量检索"}, env);
  EXPECT_EQ(lookup.exit_code, 0) << lookup.err;
  EXPECT_EQ(lookup.out.rfind("向量检索\n定义：按语义相近程度查找向量的方法\n", 0), 0u) << lookup.out;

  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kKey);

  RunResult health = ruvo({"health"}, env);
  EXPECT_EQ(health.exit_code, 0) << health.err;
  EXPECT_NE(health.out.find("\"configured\": true"), std::string::npos) << health.out;
  EXPECT_NE(health.out.find("\"name\": \"test-model\""), std::string::npos) << health.out;
  EXPECT_NE(health.out.find("\"baseUrl\": \"" + fake.base_url() + "\""), std::string::npos) << health.out;
  EXPECT_EQ(health.out.find(kKey), std::string::npos) << health.out;

  RunResult json = ruvo({"explain", "向量检索", "--json"}, env);
  EXPECT_EQ(json.out.find(kKey), std::string::npos) << json.out;
  EXPECT_EQ(log_text().find(kKey), std::string::npos) << log_text();
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, ASlowModelIsShownOnATerminalAndErasedBeforeTheAnswer) {
  // The model takes 1.5 s to answer a term the store does not hold. On a
  // terminal's standard error a person sees ruvo wait; the answer itself,
  // on standard output, is exactly what a pipe gets.
  test::ScriptedReply slow{200, completion_body(explanation_json("慢词", "想得久的词", "要等一会儿", "等模型"))};
  slow.delay_ms = 1500;
  FakeModel fake({slow});
  const RunResult r = test::run({.words = {"explain", "慢词"},
                                 .program = test::ruvo_program(),
                                 .env = env_for(fake.base_url()),
                                 .terminal_stderr = true,
                                 .timeout_seconds = kRunLimitSeconds});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "慢词（model）\n\n定义：想得久的词\n\n通俗解释：要等一会儿\n\n例子：等模型\n");
  const test::WaitLineBytes split = test::split_wait_line(r.err);
  EXPECT_TRUE(split.erased) << r.err;
  EXPECT_NE(split.shown.find("正在解释，已等 "), std::string::npos) << r.err;
  EXPECT_EQ(split.rest, "");
  EXPECT_EQ(fake.requests().size(), 1u);
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, NoCloudAndMcpWithoutCloudSendNothingToTheModel) {
  FakeModel fake({{200, completion_body(explanation_json("未存的词", "D", "P", "E"))}});
  Env env = env_for(fake.base_url());

  RunResult no_cloud = ruvo({"explain", "未存的词", "--no-cloud"}, env);
  EXPECT_EQ(no_cloud.exit_code, 1);
  EXPECT_EQ(no_cloud.out, "");
  EXPECT_EQ(no_cloud.err, "词库里没有「未存的词」，而这次不允许调用模型\n");

  RunResult mcp = ruvo({"mcp"}, env,
                       R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"ruvo_explain",)"
                       R"("arguments":{"text":"未存的词","allow_cloud":false}}})"
                       "\n");
  EXPECT_EQ(mcp.exit_code, 0);
  EXPECT_NE(mcp.out.find("\"isError\":true"), std::string::npos) << mcp.out;
  EXPECT_NE(mcp.out.find("cloud_not_allowed"), std::string::npos) << mcp.out;
  EXPECT_TRUE(fake.requests().empty());

  // The same service does reach the model when the caller allows it.
  RunResult allowed = ruvo({"explain", "未存的词"}, env);
  EXPECT_EQ(allowed.exit_code, 0) << allowed.err;
  EXPECT_EQ(allowed.out.rfind("未存的词（model）\n", 0), 0u) << allowed.out;
  EXPECT_EQ(fake.requests().size(), 1u);
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, ModelFailuresArePrintedAndExitOne) {
  // First a model that never answers, cut off by the short bound that
  // RUVO_MODEL_TIMEOUT_S sets; then one that refuses the key.
  FakeModel fake(
      {{200, "", true}, {401, std::string(R"({"error":{"message":"Incorrect API key provided: )") + kKey + "\"}}"}});
  Env env = env_for(fake.base_url(), {{"RUVO_MODEL_TIMEOUT_S", "1"}});

  RunResult timed_out = ruvo({"explain", "慢词"}, env);
  EXPECT_EQ(timed_out.exit_code, 1);
  EXPECT_EQ(timed_out.out, "");
  EXPECT_EQ(timed_out.err, "模型服务超时：1 秒内没有答完（" + fake.base_url() + "）\n");

  RunResult refused = ruvo({"explain", "慢词"}, env);
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "模型服务拒绝了 API key（HTTP 401）：请检查 model.json 的 apiKey 或环境变量 RUVO_MODEL_API_KEY\n");
  EXPECT_EQ(fake.requests().size(), 2u);
  EXPECT_EQ(log_text().find(kKey), std::string::npos) << log_text();
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, HttpsEndpointWithATrustedCertificateAnswers) {
  TempDir certs;
  ASSERT_TRUE(test::write_self_signed_certificate(certs.file("cert.pem"), certs.file("key.pem")));
  FakeModel fake({{200, completion_body(explanation_json("TLS", "传输层安全", "给网络连接加密", "https"))}},
                 certs.file("cert.pem"), certs.file("key.pem"));
  // OpenSSL's default verify paths honour SSL_CERT_FILE: the test's own
  // certificate is the only authority the service trusts.
  Env env = env_for(fake.base_url(), {{"SSL_CERT_FILE", certs.file("cert.pem")}});
  RunResult explained = ruvo({"explain", "TLS"}, env);
  EXPECT_EQ(explained.exit_code, 0) << explained.err;
  EXPECT_EQ(explained.out.rfind("TLS（model）\n\n定义：传输层安全\n", 0), 0u) << explained.out;
  EXPECT_EQ(fake.requests().size(), 1u);
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, ModelFileInTheDataFolderConfiguresTheService) {
  FakeModel fake({{200, completion_body(explanation_json("词", "D", "P", "E"))}});
  ASSERT_TRUE(platform::create_folders(data_folder()));
  std::string file = R"({"baseUrl":")" + fake.base_url() + R"(","model":"file-model","apiKey":")" + kKey + "\"}";
  ASSERT_TRUE(platform::write_file_atomically(data_folder() + "/model.json", file).ok());
  ASSERT_TRUE(platform::set_file_mode(data_folder() + "/model.json", 0644).ok());

  RunResult explained = ruvo({"explain", "词"}, {{"APPDATA", appdata_.path()}});
  EXPECT_EQ(explained.exit_code, 0) << explained.err;
  EXPECT_EQ(explained.out.rfind("词（model）\n", 0), 0u) << explained.out;
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].json["model"], "file-model");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kKey);
  EXPECT_EQ(platform::file_mode(data_folder() + "/model.json"), 0600u);
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

TEST_F(ModelProcessTest, ExplainReachesTheModelThroughTheProxyInTheServicesEnvironment) {
  // Only the proxy knows this name, so an answer proves the way it came.
  FakeModel fake(
      {{200, completion_body(explanation_json("代理词", "经代理转发的定义", "绕道送到的解释", "公司网络"))}});
  FakeProxy proxy({"models.internal"});
  const std::string base = "http://models.internal:" + std::to_string(fake.port()) + "/v1";
  ASSERT_TRUE(platform::create_folders(data_folder()));
  std::string file = R"({"baseUrl":")" + base + R"(","model":"proxied-model","apiKey":")" + kKey + "\"}";
  ASSERT_TRUE(platform::write_file_atomically(data_folder() + "/model.json", file).ok());

  // ruvo starts the service with its own environment, proxy settings
  // included; none of the test's own may send the call elsewhere.
  RunResult explained = test::run({.words = {"explain", "代理词"},
                                   .program = test::ruvo_program(),
                                   .env = {{"APPDATA", appdata_.path()}, {"http_proxy", proxy.url()}},
                                   .unset_env = {"HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"},
                                   .timeout_seconds = kRunLimitSeconds});
  EXPECT_FALSE(explained.timed_out);
  EXPECT_EQ(explained.exit_code, 0) << explained.err;
  EXPECT_EQ(explained.out, "代理词（model）\n\n定义：经代理转发的定义\n\n通俗解释：绕道送到的解释\n\n例子：公司网络\n");

  auto proxied = proxy.requests();
  ASSERT_EQ(proxied.size(), 1u);
  EXPECT_EQ(proxied[0].method, "POST");
  EXPECT_EQ(proxied[0].target, base + "/chat/completions");
  EXPECT_TRUE(proxied[0].forwarded);
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].host, "models.internal:" + std::to_string(fake.port()));
  EXPECT_EQ(requests[0].json["model"], "proxied-model");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kKey);
  EXPECT_EQ(log_text().find(kKey), std::string::npos) << log_text();
  EXPECT_TRUE(test::stop_logged_service(data_folder()));
}

}  // namespace
}  // namespace ruvo::desktop
