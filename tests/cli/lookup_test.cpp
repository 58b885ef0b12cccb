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
  std::string out;  // the failure message for a reply that reports a failure
  bool ok = true;
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
      // A reply that reports a failure is one, not a miss.
      {R"({"ok":false,"kind":"auth","message":"token 不对"})", "RAG", "token 不对", false},
      {R"({"ok":false,"kind":"store","message":"词库读写失败：database disk image is malformed"})", "RAG",
       "词库读写失败：database disk image is malformed", false},
      {R"({"ok":false,"hit":false,"message":" \t"})", "RAG", "查询失败", false},
      {R"({"ok":false,"message":5})", "RAG", "查询失败", false},
      {R"({"ok":false})", "RAG", "查询失败", false},
      {R"({"ok":false,"hit":true,"term":"T"})", "RAG", "T\n"},
      {R"({"ok":"false","message":"m"})", "RAG", "词库里没有「RAG」\n"},
      {R"({"ok":null,"message":"m"})", "RAG", "词库里没有「RAG」\n"},
      {R"([{"hit":true}])", "RAG", "词库里没有「RAG」\n"},
      {R"({"hit":false})", "", "词库里没有「」\n"},
      {R"({"hit":false})", "  RAG ", "词库里没有「  RAG 」\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const Rendered rendered = render_lookup_reply(JsonValue::parse(c.reply), c.query);
    EXPECT_EQ(rendered.ok(), c.ok);
    EXPECT_EQ(rendered.ok() ? *rendered : rendered.error().text(), c.out);
  }
}

}  // namespace
}  // namespace ruvo::cli
