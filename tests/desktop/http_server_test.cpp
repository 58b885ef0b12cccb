// The routes served over real HTTP on 127.0.0.1, read the way ruvo reads
// them: its own client, and raw bytes for what it relies on.
#include "http/http_server.hpp"

#include "client/http.hpp"
#include "platform/platform.hpp"
#include "support/http.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>
#include <vector>

namespace ruvo::desktop {
namespace {

using test::HttpReply;
using test::request_bytes;
using test::split_reply;
using test::TempDir;

constexpr const char* kToken = "fedcba9876543210fedcba9876543210";

// A server thread inside the test process, stopped by the fixture.
class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = TermStore::open(dir_.file("terms.sqlite3"), {});
    ASSERT_TRUE(opened.ok());
    store_ = std::move(opened.value());
    ctx_ = std::make_unique<ServiceContext>(ServiceContext{*store_, kToken, "1.2.3", {}});
    log_ = std::make_unique<Log>(dir_.file("test.log"));
    http_ = std::make_unique<HttpService>(*ctx_, *log_);
    port_ = http_->bind();
    ASSERT_GT(port_, 0);
    http_->start(nullptr);
    while (!http_->running()) std::this_thread::yield();
  }

  void TearDown() override {
    if (http_) http_->stop();
  }

  protocol::ServiceInfo info(std::string token = kToken) const {
    return protocol::ServiceInfo{static_cast<std::uint16_t>(port_), std::move(token), ""};
  }

  client::ServiceReply request(std::string_view method, std::string_view path, const JsonValue* body,
                                std::string token = kToken) {
    return client::service_request(info(std::move(token)), protocol::Route{method, path, 30}, body);
  }

  std::string raw(std::string_view bytes) {
    auto reply = test::http_exchange(static_cast<std::uint16_t>(port_), bytes);
    EXPECT_TRUE(reply.has_value()) << "exchange failed";
    return reply.value_or("");
  }

  TempDir dir_;
  std::unique_ptr<TermStore> store_;
  std::unique_ptr<ServiceContext> ctx_;
  std::unique_ptr<Log> log_;
  std::unique_ptr<HttpService> http_;
  int port_ = 0;
};

TEST_F(HttpServerTest, RepliesAreOnePlainJsonBodyAndTheConnectionCloses) {
  JsonValue save = {{"categoryId", "term"}, {"fields", {{"定义", "检索增强生成"}}}, {"lang", "zh"}, {"term", "RAG"}};
  JsonValue lookup = {{"text", "rag"}};
  struct Case {
    const char* method;
    const char* path;
    std::string body;
  };
  const Case cases[] = {
      {"POST", "/v1/save", save.dump()},
      {"GET", "/v1/health", ""},
      {"POST", "/v1/lookup", lookup.dump()},
      {"POST", "/v1/explain", R"({"allowCloud":false,"context":"","lang":"zh","mode":"auto","text":"RAG"})"},
  };
  for (const auto& c : cases) {
    // The exchange reads until the server closes: returning at all shows the close.
    const std::string bytes = raw(request_bytes(c.method, c.path, c.body, kToken));
    const HttpReply reply = split_reply(bytes);
    const std::string& head = reply.head;
    EXPECT_EQ(reply.status, 200) << c.path << "\n" << bytes;
    EXPECT_NE(head.find("\r\nConnection: close"), std::string::npos) << head;
    EXPECT_EQ(head.find("Transfer-Encoding"), std::string::npos) << head;
    EXPECT_EQ(head.find("Content-Encoding"), std::string::npos) << head;
    auto body = common::parse_json(reply.body);
    ASSERT_TRUE(body.ok()) << reply.body;
    EXPECT_TRUE(body->is_object());
    EXPECT_EQ((*body)["ok"], true) << c.path;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(reply.body.size())), std::string::npos) << head;
  }
}

TEST_F(HttpServerTest, RuvosOwnClientReadsEveryRoute) {
  JsonValue save = {{"categoryId", "term"}, {"fields", {{"例子", "e"}}}, {"lang", "zh"}, {"term", "Prompt"}};
  auto saved = request("POST", "/v1/save", &save);
  ASSERT_TRUE(saved.ok()) << saved.error().text();
  EXPECT_EQ((*saved)["ok"], true);
  EXPECT_TRUE((*saved)["id"].is_string());

  auto health = request("GET", "/v1/health", nullptr);
  ASSERT_TRUE(health.ok()) << health.error().text();
  EXPECT_EQ((*health)["terms"], 1);

  JsonValue lookup = {{"text", "PROMPT"}};
  auto hit = request("POST", "/v1/lookup", &lookup);
  ASSERT_TRUE(hit.ok()) << hit.error().text();
  EXPECT_EQ((*hit)["hit"], true);
  EXPECT_EQ((*hit)["example"], "e");
}

TEST_F(HttpServerTest, WrongOrMissingTokenIs401WithAJsonBody) {
  auto wrong = request("GET", "/v1/health", nullptr, "0000000000000000000000000000000000");
  ASSERT_TRUE(wrong.ok()) << wrong.error().text();  // the body was JSON, so ruvo substitutes its auth reply
  EXPECT_EQ((*wrong)["kind"], "auth");

  std::string missing = raw("GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(split_reply(missing).status, 401);
  auto body = common::parse_json(split_reply(missing).body);
  ASSERT_TRUE(body.ok());
  EXPECT_EQ((*body)["ok"], false);
}

TEST_F(HttpServerTest, ErrorStatusesCarryJsonBodies) {
  struct Case {
    std::string request;
    int status;
  };
  std::string big(kMaxBodyBytes + 1, 'x');
  const Case cases[] = {
      {request_bytes("POST", "/v1/lookup", big, kToken), 413},
      {request_bytes("POST", "/v1/lookup", big, "wrong-token-wrong-token"), 401},
      {request_bytes("POST", "/v1/lookup", "[1,2]", kToken), 400},
      {request_bytes("POST", "/v1/lookup", "not json", kToken), 400},
      {request_bytes("GET", "/v2/health", "", kToken), 404},
      {request_bytes("DELETE", "/v1/save", "", kToken), 405},
      {"POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(kToken) +
           "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
       411},
  };
  for (const auto& c : cases) {
    std::string reply = raw(c.request);
    EXPECT_EQ(split_reply(reply).status, c.status) << c.request.substr(0, 80) << "\n" << reply;
    auto body = common::parse_json(split_reply(reply).body);
    ASSERT_TRUE(body.ok()) << reply;
    EXPECT_EQ((*body)["ok"], false) << reply;
    EXPECT_TRUE((*body)["message"].is_string()) << reply;
  }
}

TEST_F(HttpServerTest, AnAnnouncedBodyIsRefusedOrAwaitedByItsLength) {
  // A client that asks before sending ("Expect: 100-continue") and announces
  // too much is refused without being asked for the body; one within the
  // limit is told to go on, and answered.
  auto announce = [](std::string_view token, std::size_t length, std::string_view body) {
    return "POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(token) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(length) +
           "\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n" + std::string(body);
  };
  std::string refused = raw(announce(kToken, kMaxBodyBytes + 1, ""));
  EXPECT_EQ(split_reply(refused).status, 413) << refused;
  EXPECT_EQ(refused.find("100 Continue"), std::string::npos) << refused;
  EXPECT_EQ(split_reply(raw(announce("wrong-token-wrong-token", 5'000'000'000, ""))).status, 401);

  std::string body = R"({"text":"RAG"})";
  std::string answered = raw(announce(kToken, body.size(), body));
  auto final_reply = answered.rfind("HTTP/1.1 ");
  ASSERT_NE(final_reply, std::string::npos) << answered;
  EXPECT_EQ(split_reply(answered.substr(final_reply)).status, 200) << answered;
  EXPECT_NE(answered.find("\"ok\":true"), std::string::npos) << answered;
}

TEST_F(HttpServerTest, ClientsThatSendNothingHoldOnlyTheirOwnThreads) {
  // All threads but one are kept waiting by clients that never finish their
  // request; the last one still answers at once. Had the answer waited for a
  // thread to give up on its silent client (10 s), that client would be
  // closed by now.
  std::vector<platform::TcpStream> silent;
  for (int i = 0; i + 1 < kServeThreads; ++i) {
    auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
    ASSERT_TRUE(connected.ok());
    silent.push_back(std::move(connected.value()));
    ASSERT_TRUE(silent.back().write_all("GET /v1/health HTTP/1.1\r\n").ok());
  }
  auto health = request("GET", "/v1/health", nullptr);
  ASSERT_TRUE(health.ok()) << health.error().text();
  EXPECT_EQ((*health)["ok"], true);
  for (auto& stream : silent) {
    stream.set_timeouts(100, 1000);
    char byte = 0;
    auto got = stream.read_some(&byte, 1);
    EXPECT_FALSE(got.ok()) << "the service had already closed a silent client";
    stream.close();
  }
}

TEST_F(HttpServerTest, AKeepAliveClientStillGetsTheConnectionClosed) {
  std::string reply = raw("GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(kToken) +
                          "\r\nConnection: keep-alive\r\n\r\n");
  EXPECT_EQ(split_reply(reply).status, 200);
  EXPECT_NE(split_reply(reply).head.find("Connection: close"), std::string::npos);
}

TEST_F(HttpServerTest, ConcurrentSavesThroughTheServerAreAllStored) {
  constexpr int kClients = 6;
  constexpr int kSaves = 10;
  std::vector<std::thread> clients;
  std::vector<int> failures(kClients, 0);
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kSaves; ++i) {
        JsonValue body = {{"term", "c" + std::to_string(c) + "-" + std::to_string(i)}, {"fields", {{"定义", "x"}}}};
        auto reply = client::service_request(info(), protocol::Route{"POST", "/v1/save", 30}, &body);
        if (!reply.ok() || (*reply)["ok"] != true) ++failures[c];
      }
    });
  }
  for (auto& client : clients) client.join();
  for (int c = 0; c < kClients; ++c) EXPECT_EQ(failures[c], 0) << "client " << c;
  auto health = request("GET", "/v1/health", nullptr);
  ASSERT_TRUE(health.ok());
  EXPECT_EQ((*health)["terms"], kClients * kSaves);
}

TEST_F(HttpServerTest, LogNamesRequestsButNeverTheToken) {
  JsonValue lookup = {{"text", "RAG"}};
  (void)request("POST", "/v1/lookup", &lookup);
  (void)request("GET", "/v1/health", nullptr, "not-the-token-not-the-token");
  auto text = platform::read_file(log_->path());
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("POST /v1/lookup 200"), std::string::npos) << *text;
  EXPECT_NE(text->find("GET /v1/health 401"), std::string::npos) << *text;
  EXPECT_EQ(text->find(kToken), std::string::npos);
  EXPECT_EQ(text->find("not-the-token"), std::string::npos);
}

}  // namespace
}  // namespace ruvo::desktop
