#include "http/token.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::http {
namespace {

TEST(TokenTest, Is64LowercaseHexDigitsAndFreshEachTime) {
  auto a = make_token();
  auto b = make_token();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 2 * kTokenRandomBytes);
  for (char c : *a) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << *a;
  EXPECT_NE(*a, *b);
}

TEST(TokenTest, HexWritesEveryByte) {
  EXPECT_EQ(to_hex(std::string("\x00\x01\x7f\x80\xff", 5)), "00017f80ff");
  EXPECT_EQ(to_hex(""), "");
}

TEST(TokenTest, ComparisonNeedsEveryByteAndTheLength) {
  const std::string expected = "abcdef0123456789";
  const std::pair<std::string, bool> cases[] = {
      {"abcdef0123456789", true},  {"abcdef012345678", false},  {"abcdef01234567890", false},
      {"bbcdef0123456789", false}, {"abcdef0123456788", false}, {"", false},
      {"ABCDEF0123456789", false},
  };
  for (const auto& [given, equal] : cases) EXPECT_EQ(tokens_equal(given, expected), equal) << given;
  EXPECT_FALSE(tokens_equal("", ""));  // an unset token never matches
}

}  // namespace
}  // namespace ruvo::desktop::http
