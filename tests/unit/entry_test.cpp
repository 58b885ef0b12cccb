#include "bin/entry.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using ruvo::bin::HELP_TEXT;

TEST(HelpText, ShapeOfTheText) {
  EXPECT_EQ(HELP_TEXT.size(), 999u);
  EXPECT_EQ(std::count(HELP_TEXT.begin(), HELP_TEXT.end(), '\n'), 20);
  EXPECT_EQ(HELP_TEXT.substr(0, 22), "ruvo 0.1.8 \xE2\x80\x94\xE2\x80\x94 Ruvo");
  EXPECT_EQ(HELP_TEXT.substr(HELP_TEXT.size() - 2), "\n\n");
  EXPECT_NE(HELP_TEXT.find("\n  ruvo lookup <词> [--json]          只查本地词库（命中即 0 token）\n"), std::string_view::npos);
  EXPECT_NE(HELP_TEXT.find("\n  ruvo save --term RAG --fields '{\"定义\":\"检索增强生成\"}'\n"), std::string_view::npos);
}
