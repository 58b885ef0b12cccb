// The browser's sign-in on its own: one-time secrets, sessions, cookies.
#include "http/sessions.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::desktop::http {
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
  EXPECT_EQ(session->cookie.size(), 64u);
  EXPECT_EQ(session->key.size(), 64u);
  EXPECT_NE(session->cookie, *secret);
  EXPECT_NE(session->key, *secret);
  EXPECT_NE(session->key, session->cookie) << "the cookie, which other servers may see, gives the key away";
  EXPECT_TRUE(sessions.valid_cookie(session->cookie));
  EXPECT_TRUE(sessions.valid_key(session->key));
  // Each value is good only for its own use.
  EXPECT_FALSE(sessions.valid_key(session->cookie));
  EXPECT_FALSE(sessions.valid_cookie(session->key));
  EXPECT_FALSE(sessions.valid_cookie(*secret)) << "a secret is not a session";
  EXPECT_FALSE(sessions.valid_key(*secret)) << "a secret is not a session";
  EXPECT_FALSE(sessions.redeem(*secret, now + std::chrono::seconds(2))) << "accepted twice";

  auto late = sessions.issue_secret(now);
  ASSERT_TRUE(late);
  EXPECT_FALSE(sessions.redeem(*late, now + kSignInSecretLifetime + std::chrono::seconds(1)));
  EXPECT_FALSE(sessions.redeem(*late, now)) << "a stale secret is spent by the try";

  EXPECT_FALSE(sessions.valid_cookie(""));
  EXPECT_FALSE(sessions.valid_key(""));
  EXPECT_FALSE(sessions.valid_cookie(session->cookie.substr(1)));
  EXPECT_FALSE(sessions.valid_key(session->key.substr(1)));
}

TEST(SignInTest, FloodsKeepOnlyTheNewestSecretsAndSessions) {
  Sessions sessions;
  const auto now = Clock::now();
  auto first = sessions.issue_secret(now);
  for (std::size_t i = 0; i < kMaxSignInSecrets; ++i) ASSERT_TRUE(sessions.issue_secret(now));
  EXPECT_FALSE(sessions.redeem(*first, now)) << "the oldest secret goes first";

  Sessions::Session oldest;
  for (std::size_t i = 0; i <= kMaxSessions; ++i) {
    auto secret = sessions.issue_secret(now);
    auto session = sessions.redeem(*secret, now);
    ASSERT_TRUE(session);
    if (i == 0) oldest = *session;
  }
  EXPECT_FALSE(sessions.valid_cookie(oldest.cookie));
  EXPECT_FALSE(sessions.valid_key(oldest.key));
}

TEST(SignInTest, CookiesAreFoundByNameAndSetStrictly) {
  using Values = std::vector<std::string>;
  struct Case {
    const char* header;
    Values values;
  };
  const Case cases[] = {
      {"ruvo-session-8080=abc", {"abc"}},
      {"other=1; ruvo-session-8080=abc; more=2", {"abc"}},
      {"  ruvo-session-8080=abc  ;x=y", {"abc"}},
      {"ruvo-session-9090=abc", {}},
      {"xruvo-session-8080=abc", {}},
      {"ruvo-session-8080", {}},
      {"", {}},
      {"ruvo-session-8080=", {""}},
      // One set on a longer path comes first; every one is given.
      {"ruvo-session-8080=planted; ruvo-session-8080=abc", {"planted", "abc"}},
  };
  for (const auto& c : cases) EXPECT_EQ(cookie_values(c.header, session_cookie_name(8080)), c.values) << c.header;
  EXPECT_EQ(session_cookie("n", "v"), "n=v; HttpOnly; SameSite=Strict; Path=/");
}

}  // namespace
}  // namespace ruvo::desktop::http
