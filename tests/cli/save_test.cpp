#include "cli/save.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using common::JsonValue;

struct WordsCase {
  std::vector<std::string> words;
  std::string term;
  std::string fields;  // compact form
  std::string lang;
  bool fields_not_json = false;  // the last --fields text does not parse
};

TEST(ParseSaveWords, Table) {
  const WordsCase cases[] = {
      {{}, "", "{}", "zh"},
      {{"RAG"}, "", "{}", "zh"},
      {{"--term", "RAG"}, "RAG", "{}", "zh"},
      {{"--term", "RAG", "--term"}, "", "{}", "zh"},
      {{"--term", "A", "--term", "B"}, "B", "{}", "zh"},
      {{"--term", "--lang"}, "--lang", "{}", "zh"},
      {{"--term", " RAG "}, " RAG ", "{}", "zh"},
      {{"--Term", "RAG"}, "", "{}", "zh"},
      {{"--json", "--term", "x", "extra", "--unknown"}, "x", "{}", "zh"},
      {{"--term", "RAG", "--fields", R"({"定义":"检索增强生成"})"}, "RAG",
       R"({"定义":"检索增强生成"})", "zh"},
      {{"--fields", R"( {"b":1, "a":[true,null]} )"}, "", R"({"a":[true,null],"b":1})", "zh"},
      {{"--fields", "bare"}, "", "{}", "zh", true},
      {{"--fields", "{} x"}, "", "{}", "zh", true},
      {{"--fields", ""}, "", "{}", "zh", true},
      {{"--fields", R"("文字")"}, "", R"("文字")", "zh"},
      {{"--fields", "[1,2]"}, "", "[1,2]", "zh"},
      {{"--fields", " null "}, "", "null", "zh"},
      {{"--fields", "false"}, "", "false", "zh"},
      {{"--fields", R"({"a":1})", "--fields"}, "", R"({"a":1})", "zh"},
      {{"--fields", R"({"a":1})", "--fields", "oops"}, "", "{}", "zh", true},
      {{"--fields", "oops", "--fields", R"({"a":1})"}, "", R"({"a":1})", "zh"},
      {{"--fields", "--term", "x"}, "", "{}", "zh", true},
      {{"--lang", "en"}, "", "{}", "en"},
      {{"--lang"}, "", "{}", "zh"},
      {{"--lang", "en", "--lang", "ja"}, "", "{}", "ja"},
      {{"--lang", "--term"}, "", "{}", "--term"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const SaveOptions options = parse_save_words(c.words);
    EXPECT_EQ(options.term, c.term);
    EXPECT_EQ(common::to_compact(options.fields), c.fields);
    EXPECT_EQ(options.lang, c.lang);
    EXPECT_EQ(!options.fields_error.empty(), c.fields_not_json);
  }
}

TEST(SaveEntry, FourMembersWithCategoryAndLangAlways) {
  EXPECT_EQ(common::to_compact(protocol::save_body(save_entry(parse_save_words({"--term", "RAG"})))),
            R"({"categoryId":"term","fields":{},"lang":"zh","term":"RAG"})");
  EXPECT_EQ(common::to_compact(protocol::save_body(save_entry(parse_save_words(
                {"--term", " 向量 ", "--fields", "null", "--lang", "en"})))),
            R"({"categoryId":"term","fields":null,"lang":"en","term":" 向量 "})");
}

struct RenderCase {
  const char* reply;
  const char* term;
  bool ok;
  std::string text;
};

TEST(RenderSaveReply, Table) {
  const RenderCase cases[] = {
      {R"({"ok":true,"id":"t-42"})", "RAG", true, "已存入 Ruvo：RAG（id t-42）\n"},
      {R"({"ok":true,"id":42})", "RAG", true, "已存入 Ruvo：RAG（id ）\n"},
      {R"({"ok":true})", " RAG ", true, "已存入 Ruvo： RAG （id ）\n"},
      {R"({"ok":false,"message":"词条已存在"})", "RAG", false, "词条已存在"},
      {R"({"ok":false})", "RAG", false, "保存失败"},
      {R"({"ok":1,"id":"t"})", "RAG", false, "保存失败"},
      {R"({"id":"t"})", "RAG", false, "保存失败"},
      {R"(["ok"])", "RAG", false, "保存失败"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const Rendered rendered = render_save_reply(JsonValue::parse(c.reply), c.term);
    EXPECT_EQ(rendered.ok(), c.ok);
    EXPECT_EQ(rendered.ok() ? *rendered : rendered.error().text(), c.text);
  }
}

}  // namespace
}  // namespace ruvo::cli
