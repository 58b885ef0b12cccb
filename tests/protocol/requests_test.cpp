#include "protocol/requests.hpp"

#include <gtest/gtest.h>

namespace ruvo::protocol {
namespace {

using common::to_compact;

TEST(RequestBodies, MembersInKeyOrderWithTheValuesAsGiven) {
  EXPECT_EQ(to_compact(lookup_body("RAG")), R"({"text":"RAG"})");
  EXPECT_EQ(to_compact(lookup_body(" 向量\"库 ")), R"({"text":" 向量\"库 "})");
  EXPECT_EQ(to_compact(lookup_body("")), R"({"text":""})");

  EXPECT_EQ(to_compact(explain_body({"RAG"})),
            R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"RAG"})");
  EXPECT_EQ(to_compact(explain_body({"一些\n文字", "--json", "", false})),
            R"({"allowCloud":false,"context":"","lang":"","mode":"--json","text":"一些\n文字"})");

  EXPECT_EQ(to_compact(save_body({"RAG"})), R"({"categoryId":"term","fields":{},"lang":"zh","term":"RAG"})");
  EXPECT_EQ(to_compact(save_body({" 向量 ", nullptr, "en"})),
            R"({"categoryId":"term","fields":null,"lang":"en","term":" 向量 "})");
}

}  // namespace
}  // namespace ruvo::protocol
