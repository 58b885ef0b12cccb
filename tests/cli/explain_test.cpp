#include "cli/explain.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using common::JsonValue;

struct WordsCase {
  std::vector<std::string> words;
  std::optional<std::string> text;
  std::string mode;
  std::string lang;
  bool json;
  bool no_cloud;
};

TEST(ParseExplainWords, Table) {
  const WordsCase cases[] = {
      {{}, std::nullopt, "auto", "zh", false, false},
      {{"--json", "--no-cloud"}, std::nullopt, "auto", "zh", true, true},
      {{"foo", "bar"}, "foo", "auto", "zh", false, false},
      {{"foo", "-"}, "-", "auto", "zh", false, false},
      {{"-", "foo"}, "-", "auto", "zh", false, false},
      {{"-", "-"}, "-", "auto", "zh", false, false},
      {{"--mode"}, std::nullopt, "auto", "zh", false, false},
      {{"x", "--lang"}, "x", "auto", "zh", false, false},
      {{"--mode", "--json"}, std::nullopt, "--json", "zh", false, false},
      {{"--lang", "-"}, std::nullopt, "auto", "-", false, false},
      {{"--mode", "term", "--lang", "en", "--no-cloud", "--json", "RAG"}, "RAG", "term", "en", true,
       true},
      {{"--mode", "a", "--mode", "b"}, std::nullopt, "b", "zh", false, false},
      {{"--mode", "whatever", "--lang", "fr"}, std::nullopt, "whatever", "fr", false, false},
      {{"--mode", ""}, std::nullopt, "", "zh", false, false},
      {{"--help"}, "--help", "auto", "zh", false, false},
      {{"--Mode", "x"}, "--Mode", "auto", "zh", false, false},
      {{"-x"}, "-x", "auto", "zh", false, false},
      {{"   "}, "   ", "auto", "zh", false, false},
      {{"", "x"}, "", "auto", "zh", false, false},
      {{"向量 数据库", "--json"}, "向量 数据库", "auto", "zh", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const ExplainOptions options = parse_explain_words(c.words);
    EXPECT_EQ(options.text, c.text);
    EXPECT_EQ(options.mode, c.mode);
    EXPECT_EQ(options.lang, c.lang);
    EXPECT_EQ(options.json, c.json);
    EXPECT_EQ(options.no_cloud, c.no_cloud);
  }
}

TEST(ExplainQuery, CarriesTheOptionsAndThePreparedText) {
  ExplainOptions options;
  EXPECT_EQ(common::to_compact(protocol::explain_body(explain_query(options, "RAG"))),
            R"({"allowCloud":true,"context":"","lang":"zh","mode":"auto","text":"RAG"})");
  options.no_cloud = true;
  options.mode = "--json";
  options.lang = "";
  options.json = true;
  EXPECT_EQ(common::to_compact(protocol::explain_body(explain_query(options, "一些\n文字"))),
            R"({"allowCloud":false,"context":"","lang":"","mode":"--json","text":"一些\n文字"})");
}

struct RenderCase {
  const char* reply;
  bool ok;
  std::string text;
};

TEST(RenderExplainReply, Table) {
  const RenderCase cases[] = {
      {R"({"ok":true,"term":"RAG","source":"local","definition":"检索增强生成","plain":"先查再答"})",
       true, "RAG（local）\n\n定义：检索增强生成\n\n通俗解释：先查再答\n"},
      {R"({"ok":true})", true, "（）\n"},
      {R"({"ok":true,"term":1,"source":null,"example":"例"})", true, "（）\n\n例子：例\n"},
      {R"({"ok":true,"term":"T","source":"","definition":" ","example":"\t例\n"})", true,
       "T（）\n\n例子：\t例\n\n"},
      {R"({"ok":false,"message":"模型超时"})", false, "模型超时"},
      {R"({"ok":false})", false, "解释失败"},
      {R"({"ok":false,"message":42})", false, "解释失败"},
      {R"({"ok":"true","term":"T","message":"m"})", false, "m"},
      {R"({"term":"T","definition":"d"})", false, "解释失败"},
      {R"([true])", false, "解释失败"},
      {R"("ok")", false, "解释失败"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const Rendered rendered = render_explain_reply(JsonValue::parse(c.reply));
    EXPECT_EQ(rendered.ok(), c.ok);
    EXPECT_EQ(rendered.ok() ? *rendered : rendered.error().text(), c.text);
  }
}

}  // namespace
}  // namespace ruvo::cli
