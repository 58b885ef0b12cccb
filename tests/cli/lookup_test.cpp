#include "cli/lookup.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using common::JsonValue;

struct WordsCase {
  std::vector<std::string> words;
  std::optional<std::string> term;
  bool json;
};

TEST(ParseLookupWords, Table) {
  const WordsCase cases[] = {
      {{}, std::nullopt, false},
      {{"--json"}, std::nullopt, true},
      {{"--json", "--json"}, std::nullopt, true},
      {{"RAG"}, "RAG", false},
      {{"--json", "RAG"}, "RAG", true},
      {{"RAG", "--json"}, "RAG", true},
      {{"--foo", "RAG"}, "RAG", false},
      {{"RAG", "more", "words"}, "RAG", false},
      {{"-"}, "-", false},
      {{""}, "", false},
      {{"-x", "y"}, "-x", false},
      {{"--", "y"}, "y", false},
      {{"  RAG  "}, "  RAG  ", false},
      {{"--JSON", "RAG"}, "RAG", false},
      {{"--json=1", "RAG"}, "RAG", false},
      {{"向量数据库", "--json"}, "向量数据库", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const LookupOptions options = parse_lookup_words(c.words);
    EXPECT_EQ(options.term, c.term);
    EXPECT_EQ(options.json, c.json);
  }
}

struct RenderCase {
  const char* reply;
  const char* query;
  std::string out;
};

TEST(RenderLookupReply, Table) {
  const RenderCase cases[] = {
      // A hit with a blank "plain" and no "example" prints two lines.
      {R"({"hit":true,"term":"RAG","definition":"检索增强生成","plain":"  "})", "rag",
       "RAG\n定义：检索增强生成\n"},
      {R"({"hit":true,"term":"T","definition":"d","plain":"p","example":"e"})", "q",
       "T\n定义：d\n通俗解释：p\n例子：e\n"},
      {R"({"hit":true,"definition":"d"})", " as typed ", " as typed \n定义：d\n"},
      {R"({"hit":true,"term":5})", "q", "q\n"},
      {R"({"hit":true,"term":""})", "q", "\n"},
      {R"({"hit":true,"term":"T","definition":null,"plain":[],"example":"　"})", "q", "T\n"},
      {R"({"hit":true,"term":"T","plain":" 不修剪 "})", "q", "T\n通俗解释： 不修剪 \n"},
      {R"({"hit":false,"term":"T","definition":"d"})", "RAG", "词库里没有「RAG」\n"},
      {R"({"hit":"true","term":"T"})", "RAG", "词库里没有「RAG」\n"},
      {R"({"hit":1})", "RAG", "词库里没有「RAG」\n"},
      {R"({"ok":true})", "RAG", "词库里没有「RAG」\n"},
      {R"({"ok":false,"kind":"auth","message":"token 不对"})", "RAG", "词库里没有「RAG」\n"},
      {R"([{"hit":true}])", "RAG", "词库里没有「RAG」\n"},
      {R"({"hit":false})", "", "词库里没有「」\n"},
      {R"({"hit":false})", "  RAG ", "词库里没有「  RAG 」\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(render_lookup_reply(JsonValue::parse(c.reply), c.query), c.out);
  }
}

}  // namespace
}  // namespace ruvo::cli
