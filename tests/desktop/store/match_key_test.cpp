#include "store/match_key.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::store {
namespace {

TEST(MatchKeyTest, FoldsWhatPeopleTypeForTheSameName) {
  struct Case {
    const char* text;
    const char* key;
  };
  const Case cases[] = {
      {"RAG", "rag"},
      {"  RAG\t", "rag"},
      {"ＲＡＧ", "rag"},                                               // full width, as Chinese input methods type it
      {"Ｐｒｏｍｐｔ　Ｅｎｇｉｎｅｅｒｉｎｇ", "prompt engineering"},  // ideographic space too
      {"Prompt \t\n  Engineering", "prompt engineering"},
      {"Straße", "strasse"},  // full case folding
      {"e\xCC\x81"
       "cole",
       "\xC3\xA9"
       "cole"},                    // composed
      {"\xEF\xAC\x81le", "file"},  // the fi ligature
      {"RAG\xE2\x80\x8B", "rag"},  // a zero-width space is no difference
      {"數據庫", "数据库"},        // Traditional folded to Simplified
      {"大語言模型", "大语言模型"},
      {"後臺", "后台"},
      {"数据库", "数据库"},  // Simplified stays
      {"", ""},
      {" \t ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(match_key(c.text), c.key) << c.text;
  EXPECT_TRUE(chinese_folding_available());
}

TEST(MatchKeyTest, IsStableUnderItselfAndKeepsBadBytesApart) {
  for (const char* text : {"ＲＡＧ", "數據庫 管理", "Straße", "LLM 大語言模型"}) {
    EXPECT_EQ(match_key(match_key(text)), match_key(text)) << text;
  }
  // Not UTF-8: still a key of its own, never another term's.
  EXPECT_EQ(match_key("R\xFF"
                      "AG "),
            "r\xFF"
            "ag");
  EXPECT_NE(match_key("R\xFF"
                      "AG"),
            match_key("RAG"));
}

TEST(MatchKeyTest, IndexTextMakesEachChineseCharacterAWord) {
  EXPECT_EQ(index_text("RAG 检索增强生成 (Retrieval-Augmented)"), "rag 检 索 增 强 生 成 (retrieval-augmented)");
  EXPECT_EQ(index_text("數據庫"), "数 据 库");
  EXPECT_EQ(index_text("Prompt"), "prompt");
}

}  // namespace
}  // namespace ruvo::desktop::store
