// The handlers served over real HTTP on 127.0.0.1, read the way ruvo reads
// them: its own client, and raw bytes for what it relies on.
#include "http/http_server.hpp"

#include "client/http.hpp"
#include "platform/platform.hpp"
#include "support/http.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace ruvo::desktop::http {
namespace {

using test::HttpReply;
using test::request_bytes;
using test::split_reply;

constexpr const char* kToken = "fedcba9876543210fedcba9876543210";
constexpr std::string_view kImportPath = "/v1/import";

// A server thread inside the test process, stopped by the fixture.
class HttpServerTest : public test::ServiceTest {
 protected:
  HttpServerTest() : ServiceTest(kToken, "1.2.3") {}

  void SetUp() override {
    ServiceTest::SetUp();
    serve(HttpLimits{});
  }

  // Serves afresh with other limits (or a model set in answers_ since).
  void serve(HttpLimits limits) {
    if (http_) http_->stop();
    http_ = std::make_unique<HttpService>(*ctx_, log_sink(), limits);
    auto bound = http_->bind();
    ASSERT_TRUE(bound.ok()) << bound.error().text();
    port_ = *bound;
    ASSERT_GT(port_, 0);
    auto started = http_->start();
    ASSERT_TRUE(started.ok()) << started.error().text();
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

TEST_F(HttpServerTest, ARequestWithoutALengthHasNoBodyWhateverItsMethod) {
  JsonValue save = JsonValue::object();
  save["term"] = "无长度的删除";
  save["fields"] = JsonValue::object();
  save["fields"]["定义"] = "Kubernetes 的包管理器";
  auto saved = request("POST", "/v1/save", &save);
  ASSERT_TRUE(saved.ok()) << saved.error().text();
  const std::string id = (*saved)["id"];
  // As curl, urllib and fetch send a request without a body: no
  // Content-Length, no Transfer-Encoding.
  auto bare = [](std::string_view method, std::string_view path, std::string_view more = "") {
    return std::string(method) + " " + std::string(path) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(kToken) + "\r\n" + std::string(more) +
           "Connection: close\r\n\r\n";
  };
  struct Case {
    const char* name;
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"a chunked DELETE", bare("DELETE", "/v1/terms/" + id, "Transfer-Encoding: chunked\r\n") + "0\r\n\r\n", 411},
      {"a DELETE", bare("DELETE", "/v1/terms/" + id), 200},
      {"a DELETE of what is gone", bare("DELETE", "/v1/terms/" + id), 404},
      // An empty body is no JSON: the handler says so, not the framing.
      {"a POST", bare("POST", "/v1/lookup"), 400},
      {"a GET", bare("GET", "/v1/health"), 200},
  };
  for (const auto& c : cases) {
    const std::string reply = raw(c.request);
    EXPECT_EQ(split_reply(reply).status, c.status) << c.name << "\n" << reply;
  }
  JsonValue lookup = JsonValue::object();
  lookup["text"] = "无长度的删除";
  auto gone = request("POST", "/v1/lookup", &lookup);
  ASSERT_TRUE(gone.ok()) << gone.error().text();
  EXPECT_EQ((*gone)["hit"], false) << "the DELETE without a body did not delete";
}

TEST_F(HttpServerTest, AnAnnouncedBodyIsRefusedOrAwaitedByItsLength) {
  // A client that asks before sending ("Expect: 100-continue") and announces
  // too much is refused without being asked for the body; one within the
  // limit is told to go on, and answered.
  auto announce = [](std::string_view token, std::size_t length, std::string_view body,
                     std::string_view path = "/v1/lookup") {
    return "POST " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(token) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(length) +
           "\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n" + std::string(body);
  };
  std::string refused = raw(announce(kToken, kMaxBodyBytes + 1, ""));
  EXPECT_EQ(split_reply(refused).status, 413) << refused;
  EXPECT_EQ(refused.find("100 Continue"), std::string::npos) << refused;
  EXPECT_EQ(split_reply(raw(announce("wrong-token-wrong-token", 5'000'000'000, ""))).status, 401);
  // An import may announce far more, up to its own limit.
  std::string import_refused = raw(announce(kToken, kMaxImportBytes + 1, "", kImportPath));
  EXPECT_EQ(split_reply(import_refused).status, 413) << import_refused;
  EXPECT_NE(import_refused.find("64 MiB"), std::string::npos) << import_refused;
  std::string lines(kMaxBodyBytes + 1, '\n');
  lines += R"({"term":"Helm"})";
  std::string imported = raw(announce(kToken, lines.size(), lines, kImportPath));
  EXPECT_NE(imported.find("\"added\":1"), std::string::npos) << imported.substr(imported.rfind("HTTP/1.1 "));

  std::string body = R"({"text":"RAG"})";
  std::string answered = raw(announce(kToken, body.size(), body));
  auto final_reply = answered.rfind("HTTP/1.1 ");
  ASSERT_NE(final_reply, std::string::npos) << answered;
  EXPECT_EQ(split_reply(answered.substr(final_reply)).status, 200) << answered;
  EXPECT_NE(answered.find("\"ok\":true"), std::string::npos) << answered;
}

// Reads until the service closes the connection or `wait_ms` pass; true
// when it closed (end of stream or reset).
bool closed_by_service(platform::TcpStream& stream, int wait_ms) {
  stream.set_read_timeout(wait_ms);
  char buffer[512];
  for (;;) {
    auto got = stream.read_some(buffer, sizeof buffer);
    if (!got.ok()) return got.error().text() != platform::TcpStream::read_timed_out().text();
    if (*got == 0) return true;
  }
}

TEST_F(HttpServerTest, ClientsThatSendNothingHoldNothingUp) {
  // Far more silent and half-finished clients than there are threads; an
  // answer still comes at once, and none of them was closed for it.
  std::vector<platform::TcpStream> silent;
  for (int i = 0; i < 300; ++i) {
    auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
    ASSERT_TRUE(connected.ok());
    silent.push_back(std::move(connected.value()));
    if (i % 2 == 0) {
      ASSERT_TRUE(silent.back().write_all("GET /v1/health HTTP/1.1\r\nHost: 127").ok());
    }
  }
  for (int i = 0; i < 5; ++i) {
    auto health = request("GET", "/v1/health", nullptr);
    ASSERT_TRUE(health.ok()) << health.error().text();
    EXPECT_EQ((*health)["ok"], true);
  }
  for (std::size_t i = 0; i < silent.size(); i += 50) {
    EXPECT_FALSE(closed_by_service(silent[i], 200)) << "the service had already closed silent client " << i;
  }
}

TEST_F(HttpServerTest, AHeadNotWhollySentInTimeIsCutOff) {
  serve(HttpLimits{.head_timeout_s = 1, .idle_timeout_s = 30});
  auto silent = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
  auto dripping = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
  ASSERT_TRUE(silent.ok() && dripping.ok());
  // A header line now and then keeps the connection busy, never idle: only
  // the deadline for the whole head ends it.
  ASSERT_TRUE(dripping->write_all("GET /v1/health HTTP/1.1\r\n").ok());
  std::atomic<bool> done{false};
  std::thread drip([&] {
    for (int i = 0; i < 300 && !done; ++i) {
      if (!dripping->write_all("X-Slow: " + std::to_string(i) + "\r\n").ok()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  EXPECT_TRUE(closed_by_service(*silent, 20000)) << "a silent connection stayed open";
  EXPECT_TRUE(closed_by_service(*dripping, 20000)) << "a dripping head stayed open";
  done = true;
  drip.join();
  auto health = request("GET", "/v1/health", nullptr);
  ASSERT_TRUE(health.ok()) << health.error().text();
}

TEST_F(HttpServerTest, AnIdleConnectionAfterItsRequestIsClosed) {
  serve(HttpLimits{.head_timeout_s = 30, .idle_timeout_s = 1});
  // The body is announced and never sent: the head is whole, so only the
  // idle time-out can end it.
  auto stream = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
  ASSERT_TRUE(stream.ok());
  ASSERT_TRUE(stream
                  ->write_all("POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(kToken) +
                              "\r\nContent-Length: 20\r\n\r\n{\"te")
                  .ok());
  EXPECT_TRUE(closed_by_service(*stream, 20000));
}

TEST_F(HttpServerTest, PastTheBoundANewConnectionTakesThePlaceOfTheOldestThatSentNothing) {
  // The sweeper's time-outs are far away: here only the bound cuts off.
  serve(HttpLimits{.head_timeout_s = 600, .idle_timeout_s = 600, .max_connections = 16});
  // Nearly twice the bound: those cut off may all still wait for the library
  // to close them when the request below comes, and the service takes at
  // most twice its bound in all.
  std::vector<platform::TcpStream> held;
  for (int i = 0; i < 30; ++i) {
    auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
    ASSERT_TRUE(connected.ok());
    held.push_back(std::move(connected.value()));
  }
  // While all 30 are held, a request that sends its head at once is
  // answered: its connection took the place of an idle one.
  auto health = request("GET", "/v1/health", nullptr);
  ASSERT_TRUE(health.ok()) << health.error().text();
  EXPECT_EQ((*health)["ok"], true);
  int open = 0;
  for (auto& stream : held) open += closed_by_service(stream, 300) ? 0 : 1;
  // Connections accepted at the same moment on the service's few threads may
  // each pass the bound by one.
  EXPECT_LE(open, 16 + 4) << "more connections were kept than the bound";
  EXPECT_GT(open, 0);
  // The newest was cut off by no one after it.
  EXPECT_FALSE(closed_by_service(held.back(), 300));
}

TEST_F(HttpServerTest, WhenEveryConnectionHasSentItsHeadANewOneIsClosedAtOnce) {
  serve(HttpLimits{.head_timeout_s = 600, .idle_timeout_s = 600, .max_connections = 4});
  // Four requests whose heads are in (the service says "100 Continue" once
  // it has read one) and whose bodies never come.
  std::vector<platform::TcpStream> waiting;
  for (int i = 0; i < 4; ++i) {
    auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
    ASSERT_TRUE(connected.ok());
    ASSERT_TRUE(connected
                    ->write_all("POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + std::string(kToken) +
                                "\r\nContent-Length: 20\r\nExpect: 100-continue\r\n\r\n")
                    .ok());
    connected->set_read_timeout(20000);
    char first[12] = {};
    auto got = connected->read_some(first, sizeof first);
    ASSERT_TRUE(got.ok() && *got > 0) << "no 100 Continue";
    EXPECT_EQ(std::string(first, *got).rfind("HTTP/1.1 100", 0), 0u);
    waiting.push_back(std::move(connected.value()));
  }
  auto late = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
  ASSERT_TRUE(late.ok());
  EXPECT_TRUE(closed_by_service(*late, 20000)) << "a connection past the bound was kept";
  for (auto& stream : waiting) EXPECT_FALSE(closed_by_service(stream, 100)) << "a request was cut off for it";
  waiting.clear();
  // Those that went away free their places: the service answers again.
  std::optional<client::ServiceReply> health;
  for (int attempt = 0; attempt < 100; ++attempt) {
    health = request("GET", "/v1/health", nullptr);
    if (health->ok()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(health->ok()) << health->error().text();
}

std::string many_headers(int count) {
  std::string many;
  for (int i = 0; i < count; ++i) many += "X-H" + std::to_string(i) + ": v\r\n";
  return many;
}

TEST_F(HttpServerTest, HeadsThatNameAnotherHostOrRunLongAreRefused) {
  struct Case {
    std::string name;
    std::string request;
    int status;  // 0: any refusal (the library's own, past its pool)
  };
  auto with = [](const std::string& headers) {
    return "GET /v1/health HTTP/1.1\r\n" + headers + "X-Ruvo-Token: " + std::string(kToken) +
           "\r\nConnection: close\r\n\r\n";
  };
  const Case cases[] = {
      {"ruvo's own host", with("Host: 127.0.0.1\r\n"), 200},
      {"loopback with port", with("Host: 127.0.0.1:8080\r\n"), 200},
      {"localhost", with("Host: localhost\r\n"), 200},
      {"LocalHost with port", with("Host: LocalHost:1\r\n"), 200},
      {"IPv6 loopback", with("Host: [::1]\r\n"), 200},
      {"IPv6 loopback with port", with("Host: [::1]:443\r\n"), 200},
      {"a rebound name", with("Host: evil.example:" + std::to_string(port_) + "\r\n"), 403},
      {"a rebound name, no token", "GET /v1/health HTTP/1.1\r\nHost: evil.example\r\n\r\n", 403},
      {"loopback as a prefix", with("Host: 127.0.0.1.evil.example\r\n"), 403},
      {"localhost as a prefix", with("Host: localhost.evil.example\r\n"), 403},
      {"another loopback address", with("Host: 127.0.0.2\r\n"), 403},
      {"port that is no number", with("Host: localhost:http\r\n"), 403},
      {"two hosts", with("Host: 127.0.0.1\r\nHost: evil.example\r\n"), 403},
      {"a head of 20 KiB", with("Host: 127.0.0.1\r\nX-Pad: " + std::string(20 * 1024, 'p') + "\r\n"), 431},
      {"a hundred headers", with("Host: 127.0.0.1\r\n" + many_headers(100)), 200},
      {"two thousand headers", with("Host: 127.0.0.1\r\n" + many_headers(2000)), 0},
      {"a head of 1 MiB", with("Host: 127.0.0.1\r\nX-Pad: " + std::string(1024 * 1024, 'p') + "\r\n"), 0},
  };
  for (const auto& c : cases) {
    const std::string reply = raw(c.request);
    const HttpReply split = split_reply(reply);
    if (c.status == 0) {
      EXPECT_TRUE(split.status == 431 || split.status == 400) << c.name << "\n" << reply.substr(0, 300);
      continue;
    }
    EXPECT_EQ(split.status, c.status) << c.name << "\n" << reply.substr(0, 300);
    auto body = common::parse_json(split.body);
    ASSERT_TRUE(body.ok()) << c.name << ": " << reply.substr(0, 300);
    EXPECT_EQ((*body)["ok"], c.status == 200) << c.name;
  }
}

TEST_F(HttpServerTest, AmbiguousRequestsAreRefused) {
  const std::string token(kToken);
  const std::string lookup = R"({"text":"RAG"})";
  auto head = [](const std::string& lines) { return "POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\n" + lines; };
  struct Case {
    std::string name;
    std::string request;
    int status;
    const char* kind;
  };
  const Case cases[] = {
      {"token, NUL and junk",
       head("X-Ruvo-Token: " + token + std::string(1, '\0') + "junk\r\nContent-Length: 14\r\n\r\n") + lookup, 401,
       "auth"},
      {"two tokens",
       head("X-Ruvo-Token: " + token + "\r\nX-Ruvo-Token: " + token + "\r\nContent-Length: 14\r\n\r\n") + lookup, 401,
       "auth"},
      {"two lengths", head("X-Ruvo-Token: " + token + "\r\nContent-Length: 14\r\nContent-Length: 2\r\n\r\n") + lookup,
       400, "bad_request"},
      {"JSON, NUL and more",
       head("X-Ruvo-Token: " + token + "\r\nContent-Length: 19\r\n\r\n") + lookup + std::string(1, '\0') + "more", 400,
       "bad_request"},
      // What is merely untidy still passes.
      {"blanks after the token", head("X-Ruvo-Token: " + token + "  \r\nContent-Length: 14\r\n\r\n") + lookup, 200,
       nullptr},
      {"lines ended by LF alone",
       "POST /v1/lookup HTTP/1.1\nHost: 127.0.0.1\nX-Ruvo-Token: " + token + "\nContent-Length: 14\n\n" + lookup, 200,
       nullptr},
  };
  for (const auto& c : cases) {
    const std::string reply = raw(c.request);
    const HttpReply split = split_reply(reply);
    EXPECT_EQ(split.status, c.status) << c.name << "\n" << reply.substr(0, 300);
    auto body = common::parse_json(split.body);
    ASSERT_TRUE(body.ok()) << c.name << ": " << reply.substr(0, 300);
    if (c.kind != nullptr) {
      EXPECT_EQ((*body)["kind"], c.kind) << c.name;
    }
  }
}

TEST_F(HttpServerTest, AModelThatTakesItsTimeHoldsUpNoOtherRequest) {
  // The model waits until released; meanwhile lookups and health answer.
  std::mutex mutex;
  std::condition_variable wake;
  bool released = false;
  std::atomic<int> asked{0};
  models_->use([&](const model::ModelRequest&) -> Result<model::ModelAnswer> {
    ++asked;
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait(lock, [&] { return released; });
    return common::failure(common::ErrorKind::kModel, "released", "status");
  });
  serve(HttpLimits{});
  std::vector<std::thread> explains;
  std::vector<int> statuses(12, 0);
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    explains.emplace_back([&, i] {
      JsonValue body = {{"text", "没有的词" + std::to_string(i)}, {"allowCloud", true}, {"mode", "term"}};
      std::string reply = raw(request_bytes("POST", "/v1/explain", body.dump(), kToken));
      statuses[i] = split_reply(reply).status;
    });
  }
  while (asked < 8) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  for (int i = 0; i < 20; ++i) {
    JsonValue lookup = {{"text", "RAG"}};
    auto hit = request("POST", "/v1/lookup", &lookup);
    ASSERT_TRUE(hit.ok()) << hit.error().text();
  }
  {
    std::lock_guard<std::mutex> guard(mutex);
    released = true;
  }
  wake.notify_all();
  for (auto& t : explains) t.join();
  for (int status : statuses) EXPECT_EQ(status, 502);
  EXPECT_EQ(asked, 12);
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
}  // namespace ruvo::desktop::http
