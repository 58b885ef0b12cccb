#include "cli/explain_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ruvo::cli {
namespace {

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

struct PrepareCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(PrepareExplainText, Table) {
  const std::string han2000 = repeat("汉", 2000);
  const std::string x1999 = repeat("x", 1999);
  const PrepareCase cases[] = {
      {"plain", "RAG", "RAG"},
      {"ascii spaces", " \t RAG \r\n", "RAG"},
      {"ideographic spaces", "\u3000文字\u3000", "文字"},
      {"inner space kept", "  a \u3000 b  ", "a \u3000 b"},
      {"empty", "", ""},
      {"blank", " \n\u3000\u00a0", ""},
      {"invalid byte", "ab\xff" "cd", ""},
      {"truncated sequence at the end", "ab\xe6\xb1", ""},
      {"surrogate", "\xed\xa0\x80", ""},
      {"2001 chars cut", han2000 + "汉", han2000},
      {"spaces do not count", "  " + han2000 + "  ", han2000},
      {"not trimmed after the cut", x1999 + " y", x1999 + " "},
      {"trailing space after full text", han2000 + " \u3000 ", han2000},
      {"invalid after the cut", han2000 + "汉\xff", ""},
      {"NUL is text", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(prepare_explain_text(c.input), c.expected);
  }
}

// The text arrives from standard input in pieces of any size; a multi-byte
// character split between two pieces must read as one character.
TEST(ExplainTextBuilder, AnySplitGivesTheWholeResult) {
  const std::string inputs[] = {
      "\u3000 一些文字 \u3000\n",
      repeat("汉", 1999) + " 字 \u3000",
      "ok\xe6\xb1",  // incomplete at the very end
      "a\xff" "b",
      "\xf0\x9f\x98\x80 emoji",
  };
  for (const std::string& input : inputs) {
    const std::string whole = prepare_explain_text(input);
    for (std::size_t piece = 1; piece <= 5; ++piece) {
      ExplainTextBuilder builder;
      for (std::size_t pos = 0; pos < input.size(); pos += piece) {
        builder.feed(std::string_view(input).substr(pos, piece));
      }
      EXPECT_EQ(builder.finish(), whole) << "piece size " << piece;
    }
  }
}

TEST(ExplainTextBuilder, KeepsOnlyTheLimitOfAVeryLongInput) {
  ExplainTextBuilder builder;
  const std::string chunk = repeat("汉", 4096);
  for (int i = 0; i < 256; ++i) builder.feed(chunk);  // about 3 MB
  EXPECT_EQ(builder.finish(), repeat("汉", kExplainTextLimit));
}

}  // namespace
}  // namespace ruvo::cli
