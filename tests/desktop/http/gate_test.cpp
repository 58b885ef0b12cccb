// The gate on its own, over heads made by hand: what Host, Origin, the token,
// the session cookie and the body's length decide before any body is read,
// and values the HTTP library cut at a NUL.
#include "http/gate.hpp"

#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ruvo::desktop::http {
namespace {

constexpr const char* kToken = "fedcba9876543210fedcba9876543210";
constexpr int kPort = 8080;

// A head as the library leaves it in its buffer, parsed in place: each
// header's name and value are C strings where the ":" and the line break
// were, and a value ends at its first NUL whatever followed it on the line.
// The buffer must outlive the facts, which point into it.
HeadFacts facts_of(const std::string& buffer, const std::vector<std::string>& names) {
  HeadFacts facts;
  for (const auto& name : names) {
    const std::size_t at = buffer.find(name);
    const char* value = buffer.data() + at + name.size() + 1;
    facts.add(std::string_view(buffer.data() + at, name.size()), value, std::strlen(value));
  }
  return facts;
}

using Headers = std::vector<std::pair<std::string, std::string>>;

// A head of plain headers in the library's layout, nothing cut: each line
// "name\0value\0\0" where ": " and CRLF were.
class Head {
 public:
  explicit Head(const std::vector<std::pair<std::string, std::string>>& headers) {
    for (const auto& [name, value] : headers) buffer_ += name + '\0' + value + '\0' + '\0';
    std::size_t at = 0;
    for (const auto& [name, value] : headers) {
      facts_.add(std::string_view(buffer_.data() + at, name.size()), buffer_.data() + at + name.size() + 1,
                 value.size());
      at += name.size() + value.size() + 3;
    }
  }
  Head(const Head&) = delete;
  Head& operator=(const Head&) = delete;

  const HeadFacts& facts() const { return facts_; }

 private:
  std::string buffer_;  // what facts_ points into
  HeadFacts facts_;
};

TEST(GateTest, AValueCutAtANulIsToldFromALineThatEndsThere) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string buffer;
    bool cut;
  };
  const Case cases[] = {
      {"lines ended by CRLF", "Host\0127.0.0.1\0\0X-Ruvo-Token\0tok\0\0"s, false},
      {"lines ended by a bare LF", "Host\0127.0.0.1\0X-Ruvo-Token\0tok\0"s, false},
      {"blanks after the value", "Host\0127.0.0.1\0 \t\0X-Ruvo-Token\0tok\0\0"s, false},
      {"bytes after a NUL in the last line", "Host\0127.0.0.1\0\0X-Ruvo-Token\0tok\0junk\0\0"s, true},
      {"bytes after a NUL in the first line", "Host\0127.0.0.1\0evil\0\0X-Ruvo-Token\0tok\0\0"s, true},
  };
  for (const auto& c : cases) {
    const HeadFacts facts = facts_of(c.buffer, {"Host", "X-Ruvo-Token"});
    EXPECT_EQ(facts.value_cut_at_nul(), c.cut) << c.name;
    EXPECT_EQ(facts.token, "tok") << c.name;
    // A cut value is no token, and the request's body rules refuse it.
    const Credentials who = credentials(facts, "tok", Sessions(), kPort);
    EXPECT_EQ(who.token.has_value(), !c.cut) << c.name;
    EXPECT_EQ(refuse_body(facts, true, kMaxBodyBytes).has_value(), c.cut) << c.name;
  }
}

TEST(GateTest, OnlyThisMachinesLoopbackIsAHost) {
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1", true},
      {"127.0.0.1:8080", true},
      {"localhost", true},
      {"LocalHost:1", true},
      {"[::1]", true},
      {"[::1]:443", true},
      {"evil.example", false},
      {"127.0.0.1.evil.example", false},
      {"localhost.evil.example", false},
      {"127.0.0.2", false},
      {"localhost:http", false},
      {"[::1]x", false},
      {"[::1", false},
      {"127.0.0.1:123456", false},
      {"", false},
  };
  for (const auto& [host, loopback] : cases) EXPECT_EQ(is_loopback_host(host), loopback) << host;
}

TEST(GateTest, OnlyTheServicesOwnOriginsAreOwn) {
  const std::pair<const char*, bool> cases[] = {
      {"http://127.0.0.1:8080", true},
      {"http://localhost:8080", true},
      {"http://LOCALHOST:8080", true},
      {"http://[::1]:8080", true},
      {"http://127.0.0.1:8081", false},
      {"http://127.0.0.1", false},
      {"https://127.0.0.1:8080", false},
      {"null", false},
      {"", false},
      {"http://evil.example", false},
      {"http://127.0.0.1:8080.evil.example", false},
  };
  for (const auto& [origin, own] : cases) EXPECT_EQ(is_own_origin(origin, 8080), own) << origin;
  for (const char* method : {"POST", "DELETE", "PUT", "PATCH"}) EXPECT_TRUE(changes_state(method)) << method;
  for (const char* method : {"GET", "HEAD"}) EXPECT_FALSE(changes_state(method)) << method;
}

TEST(GateTest, ForeignHostsLongHeadsAndOtherOriginsChangesAreRefusedFirst) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    const char* method;
    int status;  // 0: let through
  };
  const Case cases[] = {
      {"no host", {}, "POST", 0},
      {"loopback host", {{"Host", "127.0.0.1"}}, "POST", 0},
      {"foreign host", {{"Host", "evil.example"}}, "GET", 403},
      {"two hosts", {{"Host", "127.0.0.1"}, {"Host", "127.0.0.1"}}, "GET", 403},
      {"a head past the bound", {{"X-Pad", std::string(2000, 'p')}}, "GET", 431},
      {"a change from our own page", {{"Origin", "http://127.0.0.1:8080"}}, "POST", 0},
      {"a change from another page", {{"Origin", "http://evil.example"}}, "POST", 403},
      {"a change naming two origins",
       {{"Origin", "http://127.0.0.1:8080"}, {"Origin", "http://127.0.0.1:8080"}},
       "DELETE",
       403},
      {"a read from another page", {{"Origin", "http://evil.example"}}, "GET", 0},
  };
  for (const auto& c : cases) {
    auto refused = refuse_foreign(Head(c.headers).facts(), c.method, "/v1/save", 1024, kPort);
    EXPECT_EQ(refused ? refused->status : 0, c.status) << c.name;
    if (refused) {
      EXPECT_EQ(refused->body["ok"], false) << c.name;
    }
  }
}

TEST(GateTest, OneTokenOrASessionWithoutOneIsWhoIsAsking) {
  Sessions sessions;
  auto secret = sessions.issue_secret();
  ASSERT_TRUE(secret);
  auto session = sessions.redeem(*secret);
  ASSERT_TRUE(session);
  const std::string cookie = session_cookie_name(kPort) + "=" + session->cookie;
  const std::string planted = session_cookie_name(kPort) + "=" + std::string(64, 'e');
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    bool token_valid;
    bool signed_in;      // the cookie: pages
    bool session_valid;  // the key: the API
  };
  const Case cases[] = {
      {"the token", {{"X-Ruvo-Token", kToken}}, true, false, false},
      {"a wrong token", {{"X-Ruvo-Token", "wrong"}}, false, false, false},
      {"the token twice", {{"X-Ruvo-Token", kToken}, {"x-ruvo-token", kToken}}, false, false, false},
      {"a session's cookie", {{"Cookie", cookie}}, false, true, false},
      {"a session's cookie among other cookies", {{"Cookie", "a=1"}, {"Cookie", cookie}}, false, true, false},
      {"a planted cookie before ours", {{"Cookie", planted + "; " + cookie}}, false, true, false},
      {"a planted cookie after ours", {{"Cookie", cookie}, {"Cookie", planted}}, false, true, false},
      {"a planted cookie alone", {{"Cookie", planted}}, false, false, false},
      {"a cookie of another port",
       {{"Cookie", session_cookie_name(kPort + 1) + "=" + session->cookie}},
       false,
       false,
       false},
      {"a cookie beside a wrong token", {{"Cookie", cookie}, {"X-Ruvo-Token", "wrong"}}, false, false, false},
      {"a session's key", {{"X-Ruvo-Session", session->key}}, false, false, true},
      {"the key in any case of the name", {{"x-ruvo-session", session->key}}, false, false, true},
      {"the key twice", {{"X-Ruvo-Session", session->key}, {"X-Ruvo-Session", session->key}}, false, false, false},
      {"the cookie's value as the key", {{"X-Ruvo-Session", session->cookie}}, false, false, false},
      {"the key as a cookie", {{"Cookie", session_cookie_name(kPort) + "=" + session->key}}, false, false, false},
      {"the key beside a wrong token",
       {{"X-Ruvo-Session", session->key}, {"X-Ruvo-Token", "wrong"}},
       false,
       false,
       false},
      {"nothing", {}, false, false, false},
  };
  for (const auto& c : cases) {
    const Credentials who = credentials(Head(c.headers).facts(), kToken, sessions, kPort);
    EXPECT_EQ(who.token_valid, c.token_valid) << c.name;
    EXPECT_EQ(who.signed_in, c.signed_in) << c.name;
    EXPECT_EQ(who.session_valid, c.session_valid) << c.name;
  }
}

TEST(GateTest, BodiesNeedOnePlainLengthWithinTheBoundAndTheTokenComesFirst) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    const char* method;
    int status;  // 0: let through
  };
  const Case cases[] = {
      {"a length", {{"Content-Length", "10"}}, "POST", 0},
      {"the bound exactly", {{"Content-Length", "100"}}, "POST", 0},
      {"past the bound", {{"Content-Length", "101"}}, "POST", 413},
      {"two lengths", {{"Content-Length", "1"}, {"Content-Length", "1"}}, "POST", 400},
      {"a length that is no number", {{"Content-Length", "1x"}}, "POST", 400},
      {"a negative length", {{"Content-Length", "-1"}}, "POST", 400},
      {"chunked", {{"Transfer-Encoding", "chunked"}}, "POST", 411},
      {"chunked beside a length", {{"Transfer-Encoding", "chunked"}, {"Content-Length", "5"}}, "POST", 411},
      {"chunked on a DELETE", {{"Transfer-Encoding", "chunked"}}, "DELETE", 411},
      // Neither a length nor Transfer-Encoding: no body, whatever the method.
      {"a POST without a length", {}, "POST", 0},
      {"a DELETE without a length", {}, "DELETE", 0},
      {"a PUT without a length", {}, "PUT", 0},
      {"a GET without a length", {}, "GET", 0},
  };
  for (const auto& c : cases) {
    const Head head(c.headers);
    const HeadFacts& facts = head.facts();
    auto refused = refuse_body(facts, true, 100);
    EXPECT_EQ(refused ? refused->status : 0, c.status) << c.name;
    // Without the token every refusal is 401, and nothing else is.
    auto anonymous = refuse_body(facts, false, 100);
    EXPECT_EQ(anonymous ? anonymous->status : 0, c.status == 0 ? 0 : 401) << c.name;
  }
}

TEST(GateTest, ABodyFollowsUnlessNoneIsAnnouncedOrTheClientWaitsToBeAsked) {
  EXPECT_TRUE(body_follows(Head(Headers{{"Content-Length", "5"}}).facts()));
  EXPECT_TRUE(body_follows(Head(Headers{{"Transfer-Encoding", "chunked"}}).facts()));
  EXPECT_FALSE(body_follows(Head(Headers{{"Content-Length", "0"}}).facts()));
  EXPECT_FALSE(body_follows(Head(Headers{}).facts()));
  EXPECT_FALSE(body_follows(Head(Headers{{"Content-Length", "5"}, {"Expect", "100-Continue"}}).facts()));
}

// The whole gate against a real store: what the head answers itself, and
// what goes on with which token.
class AdmitTest : public test::ServiceTest {
 protected:
  AdmitTest() : ServiceTest(kToken) {}

  Admission admit_head(const char* method, const char* path,
                       const std::vector<std::pair<std::string, std::string>>& headers,
                       const QueryParameters& query = {}) {
    return admit(Head(headers).facts(), method, path, query, *ctx_, BrowserSide{sessions_, kPort}, 16 * 1024);
  }

  Sessions sessions_;
};

TEST_F(AdmitTest, BrowsersSignInAndGoOnWithTheirSessionsKeyAsIfTheyCarriedTheToken) {
  // The page without a session is the signed-out page, not the interface.
  auto signed_out = admit_head("GET", "/", {{"Host", "127.0.0.1"}});
  ASSERT_TRUE(signed_out.reply);
  EXPECT_EQ(signed_out.reply->status, 401);
  EXPECT_TRUE(signed_out.reply->raw);

  // A link asked for with the token; with a session alone it is refused.
  auto link = admit_head("POST", "/v1/sign-in-link", {{"X-Ruvo-Token", kToken}, {"Content-Length", "0"}});
  ASSERT_TRUE(link.reply);
  ASSERT_EQ(link.reply->status, 200);
  const std::string url = link.reply->body["url"];
  const std::string secret = url.substr(url.find("secret=") + 7);

  auto signed_in = admit_head("GET", "/sign-in", {}, {{"secret", secret}});
  ASSERT_TRUE(signed_in.reply);
  ASSERT_EQ(signed_in.reply->status, 303);
  std::string cookie;
  for (const auto& [name, value] : signed_in.reply->headers) {
    if (name == "Set-Cookie") cookie = value.substr(0, value.find(';'));
  }
  ASSERT_FALSE(cookie.empty());
  EXPECT_EQ(admit_head("GET", "/sign-in", {}, {{"secret", secret}}).reply->status, 401) << "a secret signs in once";

  std::string key;
  for (const auto& [name, value] : signed_in.reply->headers) {
    if (name == "Location") key = value.substr(value.find("#session=") + 9);
  }
  ASSERT_EQ(key.size(), 64u);

  auto page = admit_head("GET", "/", {{"Cookie", cookie}});
  ASSERT_TRUE(page.reply);
  EXPECT_EQ(page.reply->status, 200);
  EXPECT_EQ(admit_head("POST", "/v1/sign-in-link", {{"Cookie", cookie}, {"Content-Length", "0"}}).reply->status, 401);

  // A save from our own page, with the session's key, goes on with the
  // service's token; with the cookie alone it goes on with none (and is
  // refused by the handlers); from another page it is refused whatever it
  // carries.
  auto save = admit_head(
      "POST", "/v1/save",
      {{"Cookie", cookie}, {"X-Ruvo-Session", key}, {"Origin", "http://127.0.0.1:8080"}, {"Content-Length", "2"}});
  EXPECT_FALSE(save.reply);
  EXPECT_EQ(save.token, kToken);
  auto cookie_only = admit_head("POST", "/v1/save",
                                {{"Cookie", cookie}, {"Origin", "http://127.0.0.1:8080"}, {"Content-Length", "2"}});
  EXPECT_FALSE(cookie_only.reply);
  EXPECT_FALSE(cookie_only.token);
  auto foreign = admit_head(
      "POST", "/v1/save",
      {{"Cookie", cookie}, {"Origin", "http://evil.example"}, {"X-Ruvo-Token", kToken}, {"Content-Length", "2"}});
  ASSERT_TRUE(foreign.reply);
  EXPECT_EQ(foreign.reply->status, 403);
}

TEST_F(AdmitTest, RuvosRequestsGoOnWithTheirOwnTokenRightOrWrong) {
  auto right = admit_head("POST", "/v1/lookup", {{"X-Ruvo-Token", kToken}, {"Content-Length", "14"}});
  EXPECT_FALSE(right.reply);
  EXPECT_EQ(right.token, kToken);
  // A wrong token goes on to be refused by the handlers, unless its body's
  // rules refuse it first (401 then too).
  auto wrong = admit_head("GET", "/v1/health", {{"X-Ruvo-Token", "wrong"}});
  EXPECT_FALSE(wrong.reply);
  EXPECT_EQ(wrong.token, "wrong");
  auto unbounded = admit_head("POST", "/v1/save", {{"X-Ruvo-Token", "wrong"}, {"Transfer-Encoding", "chunked"}});
  ASSERT_TRUE(unbounded.reply);
  EXPECT_EQ(unbounded.reply->status, 401);
  // Without a length there is no body to refuse: the handlers answer it.
  auto bodiless = admit_head("DELETE", "/v1/terms/1", {{"X-Ruvo-Token", kToken}});
  EXPECT_FALSE(bodiless.reply);
  EXPECT_EQ(bodiless.token, kToken);
  auto import = admit_head("POST", "/v1/import", {{"X-Ruvo-Token", kToken}, {"Content-Length", "2000000"}});
  EXPECT_FALSE(import.reply) << "an import may be larger than any other body";
}

}  // namespace
}  // namespace ruvo::desktop::http
