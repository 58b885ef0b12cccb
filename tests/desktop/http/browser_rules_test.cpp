// What a browser meets at the service, over real HTTP: sign-in by a one-time
// address, the session cookie, the pages and their headers, and the refusal
// of changes sent by other origins' pages. ruvo's own requests are answered
// exactly as before.
#include "http/http_server.hpp"

#include "common/json.hpp"
#include "platform/platform.hpp"
#include "support/http.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace ruvo::desktop::http {
namespace {

using test::request_bytes;
using test::request_text;
using test::split_reply;

constexpr const char* kToken = "fedcba9876543210fedcba9876543210";

class BrowserRulesTest : public test::ServiceTest {
 protected:
  BrowserRulesTest() : ServiceTest(kToken, "1.2.3") {}

  void SetUp() override {
    ServiceTest::SetUp();
    http_ = std::make_unique<HttpService>(*ctx_, log_sink());
    auto bound = http_->bind();
    ASSERT_TRUE(bound.ok()) << bound.error().text();
    port_ = *bound;
    ASSERT_GT(port_, 0);
    auto started = http_->start();
    ASSERT_TRUE(started.ok()) << started.error().text();
  }
  void TearDown() override { http_->stop(); }

  test::HttpReply send(std::string_view bytes) {
    auto reply = test::http_exchange(static_cast<std::uint16_t>(port_), bytes);
    EXPECT_TRUE(reply.has_value());
    return split_reply(reply.value_or(""));
  }
  test::HttpReply browser(std::string_view method, std::string_view path,
                          std::map<std::string, std::string> headers = {}, std::string_view body = "") {
    return send(request_text(method, path, headers, body));
  }
  static std::string header(const test::HttpReply& reply, std::string_view name) {
    const std::string key = "\r\n" + std::string(name) + ": ";
    auto at = reply.head.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    return reply.head.substr(at, reply.head.find("\r\n", at) - at);
  }
  std::string own_origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // A fresh sign-in address's path and query, asked for as ruvo-gui.exe does.
  std::string sign_in_path() {
    auto reply = send(request_bytes("POST", "/v1/sign-in-link", "", kToken));
    EXPECT_EQ(reply.status, 200) << reply.body;
    auto body = common::parse_json(reply.body);
    std::string url = body ? (*body)["url"].get<std::string>() : "";
    EXPECT_EQ(url.rfind(own_origin() + "/sign-in?secret=", 0), 0u) << url;
    return url.substr(own_origin().size());
  }
  // What a signed-in page holds: the Cookie header its browser sends, and
  // the session's key it took from the address.
  struct SignedIn {
    std::string cookie;
    std::string key;
  };
  // Signs in as a browser does.
  SignedIn sign_in() {
    auto reply = browser("GET", sign_in_path());
    EXPECT_EQ(reply.status, 303);
    std::string cookie = header(reply, "Set-Cookie");
    const std::string location = header(reply, "Location");
    const std::string fragment = "/#session=";
    EXPECT_EQ(location.rfind(fragment, 0), 0u) << location;
    return {cookie.substr(0, cookie.find(';')), location.substr(std::min(fragment.size(), location.size()))};
  }

  std::unique_ptr<HttpService> http_;
  int port_ = 0;
};

TEST_F(BrowserRulesTest, ASignInAddressGivesAStrictCookieOnceAndLeavesNoTrace) {
  const std::string path = sign_in_path();
  const std::string secret = path.substr(path.find('=') + 1);
  EXPECT_EQ(browser("HEAD", path).status, 405) << "only a GET spends the secret";
  auto first = browser("GET", path);
  EXPECT_EQ(first.status, 303);
  // The session's key in the fragment, which the browser never sends on.
  const std::string location = header(first, "Location");
  ASSERT_EQ(location.rfind("/#session=", 0), 0u) << location;
  const std::string key = location.substr(10);
  EXPECT_EQ(key.size(), 64u);
  const std::string cookie = header(first, "Set-Cookie");
  EXPECT_EQ(cookie.rfind("ruvo-session-" + std::to_string(port_) + "=", 0), 0u) << cookie;
  for (const char* attribute : {"; HttpOnly", "; SameSite=Strict", "; Path=/"}) {
    EXPECT_NE(cookie.find(attribute), std::string::npos) << cookie;
  }
  EXPECT_EQ(cookie.find(secret), std::string::npos) << "the session is not the secret";
  EXPECT_EQ(cookie.find(key), std::string::npos) << "the cookie, which other servers may see, holds the key";
  EXPECT_NE(key, secret);
  EXPECT_EQ(header(first, "Referrer-Policy"), "no-referrer");

  auto again = browser("GET", path);
  EXPECT_EQ(again.status, 401) << "accepted twice";
  EXPECT_EQ(header(again, "Set-Cookie"), "");
  auto guessed = browser("GET", "/sign-in?secret=" + std::string(64, '0'));
  EXPECT_EQ(guessed.status, 401);

  auto log = platform::read_file(log_->path());
  ASSERT_TRUE(log);
  EXPECT_NE(log->find("GET /sign-in 303"), std::string::npos) << *log;
  EXPECT_EQ(log->find(secret), std::string::npos) << *log;
  EXPECT_EQ(log->find(key), std::string::npos) << *log;
}

TEST_F(BrowserRulesTest, PagesTakeTheCookieAndTheApiTheSessionKeyOrTheToken) {
  const SignedIn page = sign_in();
  const std::string our_cookie = "ruvo-session-" + std::to_string(port_) + "=";
  const std::string guessed_cookie = our_cookie + std::string(64, 'a');
  for (const char* path : {"/", "/app.js", "/model.js", "/dictionaries.js", "/app.css", "/favicon.svg", "/favicon.ico"}) {
    EXPECT_EQ(browser("GET", path).status, 401) << path;
    EXPECT_EQ(browser("GET", path, {{"Cookie", guessed_cookie}}).status, 401) << path;
    EXPECT_EQ(browser("GET", path, {{"X-Ruvo-Session", page.key}}).status, 401) << path << ": a page needs the cookie";
    EXPECT_EQ(browser("GET", path, {{"Cookie", page.cookie}}).status, 200) << path;
    // A cookie of our name planted by another server on 127.0.0.1 (on
    // Path=/v1, say, which a browser sends first) does not sign us out.
    EXPECT_EQ(browser("GET", path, {{"Cookie", guessed_cookie + "; " + page.cookie}}).status, 200) << path;
    EXPECT_EQ(send(request_bytes("GET", path, "", kToken)).status, 200) << path;
  }
  // The cookie reaches every server on 127.0.0.1 the browser visits, which
  // could replay it: alone it opens no API route. The key, which only our
  // page can read, does.
  struct Case {
    const char* name;
    std::map<std::string, std::string> headers;
    int status;
  };
  const Case cases[] = {
      {"nothing", {}, 401},
      {"the cookie alone", {{"Cookie", page.cookie}}, 401},
      {"a guessed key", {{"X-Ruvo-Session", std::string(64, 'b')}}, 401},
      {"the cookie as the key", {{"X-Ruvo-Session", page.cookie.substr(our_cookie.size())}}, 401},
      {"the key", {{"X-Ruvo-Session", page.key}}, 200},
      {"the key and the cookie", {{"X-Ruvo-Session", page.key}, {"Cookie", page.cookie}}, 200},
      {"the key and a planted cookie", {{"X-Ruvo-Session", page.key}, {"Cookie", guessed_cookie}}, 200},
      {"the key beside a wrong token", {{"X-Ruvo-Session", page.key}, {"X-Ruvo-Token", "wrong"}}, 401},
  };
  for (const char* path : {"/v1/health", "/v1/terms", "/v1/misses", "/v1/export", "/v1/model", "/v1/dictionaries"}) {
    for (const auto& c : cases) EXPECT_EQ(browser("GET", path, c.headers).status, c.status) << path << ", " << c.name;
    EXPECT_EQ(send(request_bytes("GET", path, "", kToken)).status, 200) << path;
  }
  // The link to sign in more browsers is for the token alone.
  EXPECT_EQ(browser("POST", "/v1/sign-in-link", {{"Cookie", page.cookie}, {"Origin", own_origin()}}).status, 401);
  EXPECT_EQ(browser("POST", "/v1/sign-in-link", {{"X-Ruvo-Session", page.key}, {"Origin", own_origin()}}).status, 401);
}

TEST_F(BrowserRulesTest, PagesCarryTheSecurityHeadersAndNeverTheToken) {
  const std::string cookie = sign_in().cookie;
  struct Case {
    const char* path;
    const char* type;
  };
  const Case cases[] = {{"/", "text/html"},
                        {"/app.js", "text/javascript"},
                        {"/model.js", "text/javascript"},
                        {"/dictionaries.js", "text/javascript"},
                        {"/app.css", "text/css"},
                        {"/favicon.svg", "image/svg+xml"}};
  for (const auto& c : cases) {
    auto reply = browser("GET", c.path, {{"Cookie", cookie}});
    ASSERT_EQ(reply.status, 200) << c.path;
    EXPECT_EQ(header(reply, "Content-Type").rfind(c.type, 0), 0u) << c.path;
    const std::string policy = header(reply, "Content-Security-Policy");
    EXPECT_NE(policy.find("default-src 'self'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
    EXPECT_EQ(header(reply, "X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(header(reply, "Referrer-Policy"), "no-referrer");
    EXPECT_EQ(reply.body.find(kToken), std::string::npos) << c.path;
    EXPECT_EQ(reply.body.find("http://"), reply.body.find("http://www.w3.org/2000/svg"))
        << c.path << ": loads nothing from elsewhere";
  }
  EXPECT_NE(browser("GET", "/", {{"Cookie", cookie}}).body.find("<title>Ruvo"), std::string::npos);
}

TEST_F(BrowserRulesTest, ChangesFromAnotherOriginAre403WhateverTheyCarry) {
  const SignedIn page = sign_in();
  const std::string& cookie = page.cookie;
  const std::string save = R"({"term":"跨站测试","fields":{"定义":"不该存进去"}})";
  const std::string form = "term=x";
  struct Case {
    const char* name;
    std::map<std::string, std::string> headers;
    std::string body;
    int status;
  };
  const Case cases[] = {
      {"foreign page with the cookie", {{"Cookie", cookie}, {"Origin", "http://evil.example"}}, save, 403},
      {"another port of this machine", {{"Cookie", cookie}, {"Origin", "http://127.0.0.1:1"}}, save, 403},
      {"an opaque origin", {{"Cookie", cookie}, {"Origin", "null"}}, save, 403},
      {"a form post",
       {{"Cookie", cookie}, {"Origin", "http://evil.example"}, {"Content-Type", "application/x-www-form-urlencoded"}},
       form,
       403},
      {"the token with a foreign origin", {{"X-Ruvo-Token", kToken}, {"Origin", "http://evil.example"}}, save, 403},
      {"the key with a foreign origin", {{"X-Ruvo-Session", page.key}, {"Origin", "http://evil.example"}}, save, 403},
      {"no cookie", {{"Origin", own_origin()}}, save, 401},
      {"the cookie alone from our own page", {{"Cookie", cookie}, {"Origin", own_origin()}}, save, 401},
      {"the cookie replayed without an origin", {{"Cookie", cookie}}, save, 401},
  };
  for (const auto& c : cases) {
    auto reply = browser("POST", "/v1/save", c.headers, c.body);
    EXPECT_EQ(reply.status, c.status) << c.name;
    auto body = common::parse_json(reply.body);
    ASSERT_TRUE(body.ok()) << c.name << ": " << reply.body;
    EXPECT_EQ((*body)["ok"], false) << c.name;
  }
  auto deleted = browser("DELETE", "/v1/terms/1", {{"Cookie", cookie}, {"Origin", "http://evil.example"}});
  EXPECT_EQ(deleted.status, 403);
  EXPECT_EQ(*store_->count(), 0) << "nothing was saved";

  auto own =
      browser("POST", "/v1/save", {{"Cookie", cookie}, {"X-Ruvo-Session", page.key}, {"Origin", own_origin()}}, save);
  EXPECT_EQ(own.status, 200) << own.body;
  EXPECT_EQ(*store_->count(), 1);
  // A DELETE as curl and fetch send it, without a body or its length.
  const std::string id = common::parse_json(own.body).value()["id"];
  auto removed = send("DELETE /v1/terms/" + id + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Session: " + page.key +
                      "\r\nOrigin: " + own_origin() + "\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(removed.status, 200) << removed.body;
  EXPECT_EQ(*store_->count(), 0);
}

TEST_F(BrowserRulesTest, RuvosRequestsGetTheirRepliesAsBefore) {
  auto reply = send(request_bytes("POST", "/v1/lookup", R"({"text":"RAG"})", kToken));
  EXPECT_EQ(reply.status, 200);
  for (const char* name : {"Content-Security-Policy", "Set-Cookie", "Referrer-Policy", "X-Content-Type-Options"}) {
    EXPECT_EQ(header(reply, name), "") << name;
  }
  EXPECT_EQ(header(reply, "Content-Type"), "application/json; charset=utf-8");
}

}  // namespace
}  // namespace ruvo::desktop::http
