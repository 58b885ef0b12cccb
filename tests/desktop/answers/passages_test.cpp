// What the terms found in a text become: the lines of an answer from the
// store, and the bounded entries a model is given.
#include "answers/passages.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ruvo::desktop::answers {
namespace {

store::TermInText found(std::string term, std::string text, JsonValue fields, std::string lang = "zh") {
  store::TermEntry entry{"7", std::move(term), std::move(lang), "term", std::move(fields)};
  return store::TermInText{entry, std::move(text), 0, 1};
}

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(CutSensiblyTest, CutsAtASentencesEndElseMarksTheCut) {
  struct Case {
    std::string text;
    std::size_t most;
    std::string cut;
  };
  const Case cases[] = {
      {"短的。", 10, "短的。"},
      {"第一句话很长。第二句", 9, "第一句话很长。"},
      {"One sentence here. Two", 20, "One sentence here."},
      {"没有句号的一长串文字", 6, "没有句号的…"},
      {"句。后面很长很长很长", 9, "句。后面很长很长…"},  // a sentence's end too early is not used
  };
  for (const auto& c : cases) EXPECT_EQ(cut_sensibly(c.text, c.most), c.cut) << c.text;
}

TEST(AnswerFromTermsTest, OneLinePerTermNamedAsStoredAndAsWritten) {
  std::vector<store::TermInText> terms = {
      found("RAG", "检索增强生成", {{"definition", "先检索\n再生成"}, {"plain", "开卷考试"}}),
      found("Embedding", "embedding", {{"plain", "意思坐标"}}),
      found("空词条", "空词条", JsonValue::object()),
  };
  JsonValue reply = answer_from_terms(terms, "标题", "zh");
  EXPECT_EQ(reply["ok"], true);
  EXPECT_EQ(reply["source"], "local");
  EXPECT_EQ(reply["tokens"], 0);
  EXPECT_EQ(reply["term"], "标题");
  EXPECT_EQ(reply["definition"],
            "检索增强生成（RAG）：先检索 再生成\nEmbedding：意思坐标\n空词条：（词库里还没有释义）");
  // A plain explanation already given as the definition is not repeated.
  EXPECT_EQ(reply["plain"], "检索增强生成（RAG）：开卷考试");
  EXPECT_EQ(reply["fields"]["definition"], reply["definition"]);
  EXPECT_EQ(reply["terms"].size(), 3u);

  JsonValue long_one = answer_from_terms({found("长", "长", {{"definition", repeated("很", 500)}})}, "t", "zh");
  EXPECT_EQ(long_one["definition"].get<std::string>(), "长：" + repeated("很", kMostCharsPerLine - 3) + "…");
}

TEST(GroundingTest, EachEntryCutAndAllTogetherBounded) {
  std::vector<store::TermInText> terms;
  for (int i = 0; i < 20; ++i) {
    terms.push_back(
        found("词" + std::to_string(i), "词", {{"definition", repeated("释义。", 300)}, {"example", "例"}}));
  }
  auto entries = grounding(terms);
  ASSERT_FALSE(entries.empty());
  std::size_t total = 0;
  for (const auto& entry : entries) {
    EXPECT_LE(entry.text.size() / 3, kMostCharsPerEntry);  // three bytes a character here
    EXPECT_EQ(entry.text.substr(entry.text.size() - 3), "。");
    total += entry.text.size() / 3 + entry.term.size();
  }
  EXPECT_LE(total, kMostGroundingChars);
  EXPECT_LT(entries.size(), terms.size());
  EXPECT_EQ(entries[0].term, "词0");

  auto plain_only = grounding({found("X", "x", {{"example", "只有例子"}}, "en")});
  ASSERT_EQ(plain_only.size(), 1u);
  EXPECT_EQ(plain_only[0].text, "只有例子");
  EXPECT_EQ(plain_only[0].lang, "en");
}

}  // namespace
}  // namespace ruvo::desktop::answers
