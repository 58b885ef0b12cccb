#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace ruvo::common;

TEST(Utf8, Validation) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"中文 and 𝄞", true},
      {"\xC0\x80", false},          // overlong NUL
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xE4\xB8", false},          // truncated
      {"\x80", false},              // lone continuation
      {"\xFF", false},
      {"\xF0\x9F\x98\x80", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
}

TEST(Utf8, ReplacementOfIllFormedParts) {
  EXPECT_EQ(to_valid_utf8("ok中"), "ok中");
  EXPECT_EQ(to_valid_utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  // A truncated three-byte sequence is one maximal subpart: one U+FFFD.
  EXPECT_EQ(to_valid_utf8("\xE4\xB8" "x"), "\xEF\xBF\xBD" "x");
  EXPECT_EQ(to_valid_utf8("\xC0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(is_valid_utf8(to_valid_utf8("\xED\xA0\x80\xF5\x80")));
}

TEST(Utf8, TrimsEveryWhiteSpaceCharacter) {
  const char* spaces[] = {"\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
                          "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                          "\xE2\x81\x9F", "\xE3\x80\x80"};
  for (const char* s : spaces) {
    const std::string text = std::string(s) + "词 语" + s;
    EXPECT_EQ(trim_unicode_space(text), "词 语") << s;
    EXPECT_TRUE(is_blank(std::string(s) + s));
  }
  // Not White_Space: zero-width space, BOM, next-line look-alikes.
  for (const char* s : {"\xE2\x80\x8B", "\xEF\xBB\xBF", "\xE1\xA0\x8E"}) {
    EXPECT_EQ(trim_unicode_space(s), s);
    EXPECT_FALSE(is_blank(s));
  }
  EXPECT_EQ(trim_unicode_space(""), "");
  EXPECT_EQ(trim_unicode_space("\xE3\x80\x80\xE3\x80\x80"), "");
}

TEST(Utf8, FirstScalarsCountsCharactersNotBytes) {
  EXPECT_EQ(first_scalars("中文字", 2), "中文");
  EXPECT_EQ(first_scalars("ab", 5), "ab");
  EXPECT_EQ(first_scalars("𝄞x", 1), "𝄞");
  EXPECT_EQ(first_scalars("abc", 0), "");
  std::string long_text;
  for (int i = 0; i < 2001; ++i) long_text += "字";
  EXPECT_EQ(first_scalars(long_text, 2000).size(), 6000u);
}

TEST(Utf8, TerminalSafeShowsControlsInsteadOfObeyingThem) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"定义：检索增强生成\n\t例子", "定义：检索增强生成\n\t例子"},
      {"\x1b]0;pwned\x07", r + "]0;pwned" + r},             // retitle the window
      {"\x1b]52;c;ZXZpbA==\x07", r + "]52;c;ZXZpbA==" + r},  // write the clipboard
      {"ok\rfake", "ok" + r + "fake"},                        // overwrite the line
      {"\x1b[2J\x1b[H", r + "[2J" + r + "[H"},
      {std::string("a\0b", 3), "a" + r + "b"},
      {"\x7f", r},
      {"\xC2\x9B" "31m\xC2\x85", r + "31m" + r},  // C1: CSI and NEL
      {"\xC2\xA0\xC2\x9F\xC2\xA0", "\xC2\xA0" + r + "\xC2\xA0"},
      {"\x9b" "31m", r + "31m"},  // a lone 8-bit CSI byte is not UTF-8
      {"\x0b\x0c\x1f ", r + r + r + " "},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(terminal_safe(c.in), c.out) << ::testing::PrintToString(c.in);
  }
}
