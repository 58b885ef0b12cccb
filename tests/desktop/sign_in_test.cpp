// The browser's sign-in rules on their own: one-time secrets, sessions,
// cookies, origins, and the browser commands of --open.
#include "http/sign_in.hpp"
#include "open.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop {
namespace {

using Clock = Sessions::Clock;

TEST(SignInTest, ASecretSignsInOnceAndOnlyWhileFresh) {
  Sessions sessions;
  const auto now = Clock::now();
  auto secret = sessions.issue_secret(now);
  ASSERT_TRUE(secret);
  EXPECT_EQ(secret->size(), 64u);
  EXPECT_FALSE(sessions.redeem("not-a-secret", now));
  auto session = sessions.redeem(*secret, now + std::chrono::seconds(1));
  ASSERT_TRUE(session);
  EXPECT_NE(*session, *secret);
  EXPECT_TRUE(sessions.valid(*session));
  EXPECT_FALSE(sessions.valid(*secret)) << "a secret is not a session";
  EXPECT_FALSE(sessions.redeem(*secret, now + std::chrono::seconds(2))) << "accepted twice";

  auto late = sessions.issue_secret(now);
  ASSERT_TRUE(late);
  EXPECT_FALSE(sessions.redeem(*late, now + kSignInSecretLifetime + std::chrono::seconds(1)));
  EXPECT_FALSE(sessions.redeem(*late, now)) << "a stale secret is spent by the try";

  EXPECT_FALSE(sessions.valid(""));
  EXPECT_FALSE(sessions.valid(session->substr(1)));
}

TEST(SignInTest, FloodsKeepOnlyTheNewestSecretsAndSessions) {
  Sessions sessions;
  const auto now = Clock::now();
  auto first = sessions.issue_secret(now);
  for (std::size_t i = 0; i < kMaxSignInSecrets; ++i) ASSERT_TRUE(sessions.issue_secret(now));
  EXPECT_FALSE(sessions.redeem(*first, now)) << "the oldest secret goes first";

  std::string oldest;
  for (std::size_t i = 0; i <= kMaxSessions; ++i) {
    auto secret = sessions.issue_secret(now);
    auto session = sessions.redeem(*secret, now);
    ASSERT_TRUE(session);
    if (i == 0) oldest = *session;
  }
  EXPECT_FALSE(sessions.valid(oldest));
}

TEST(SignInTest, CookiesAreFoundByNameAndSetStrictly) {
  struct Case {
    const char* header;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"ruvo-session-8080=abc", "abc"},
      {"other=1; ruvo-session-8080=abc; more=2", "abc"},
      {"  ruvo-session-8080=abc  ;x=y", "abc"},
      {"ruvo-session-9090=abc", std::nullopt},
      {"xruvo-session-8080=abc", std::nullopt},
      {"ruvo-session-8080", std::nullopt},
      {"", std::nullopt},
      {"ruvo-session-8080=", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(cookie_value(c.header, session_cookie_name(8080)), c.value) << c.header;
  EXPECT_EQ(session_cookie("n", "v"), "n=v; HttpOnly; SameSite=Strict; Path=/");
}

TEST(SignInTest, OnlyTheServicesOwnOriginsAreOwn) {
  const std::pair<const char*, bool> cases[] = {
      {"http://127.0.0.1:8080", true},   {"http://localhost:8080", true}, {"http://LOCALHOST:8080", true},
      {"http://[::1]:8080", true},       {"http://127.0.0.1:8081", false}, {"http://127.0.0.1", false},
      {"https://127.0.0.1:8080", false}, {"null", false},                  {"", false},
      {"http://evil.example", false},    {"http://127.0.0.1:8080.evil.example", false},
  };
  for (const auto& [origin, own] : cases) EXPECT_EQ(is_own_origin(origin, 8080), own) << origin;
  for (const char* method : {"POST", "DELETE", "PUT", "PATCH"}) EXPECT_TRUE(changes_state(method)) << method;
  for (const char* method : {"GET", "HEAD"}) EXPECT_FALSE(changes_state(method)) << method;
}

TEST(SignInTest, BrowserCommandsFollowTheBrowserVariableThenXdgOpen) {
  const std::string url = "http://127.0.0.1:1/sign-in?secret=s";
  using Commands = std::vector<std::vector<std::string>>;
  struct Case {
    const char* variable;
    Commands commands;
  };
  const Case cases[] = {
      {nullptr, {{"xdg-open", url}}},
      {"", {{"xdg-open", url}}},
      {"firefox", {{"firefox", url}, {"xdg-open", url}}},
      {"chromium --incognito:lynx %s", {{"chromium", "--incognito", url}, {"lynx", url}, {"xdg-open", url}}},
      {"open --url=%s", {{"open", "--url=" + url}, {"xdg-open", url}}},
      {" : ", {{"xdg-open", url}}},
  };
  for (const auto& c : cases) EXPECT_EQ(browser_commands(c.variable, url), c.commands) << (c.variable ? c.variable : "unset");
}

}  // namespace
}  // namespace ruvo::desktop
