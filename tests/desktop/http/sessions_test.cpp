// The browser's sign-in on its own: one-time secrets, sessions, cookies.
#include "http/sessions.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ruvo::desktop::http
