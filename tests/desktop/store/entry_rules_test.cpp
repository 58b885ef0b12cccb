#include "store/entry_rules.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::store {
namespace {

TEST(NormalizeFieldsTest, LabelsAndKeysMapToTheSameStoredNames) {
  struct Case {
    const char* given;
    const char* stored;
  };
  const Case cases[] = {
      {R"({"定义":"d","通俗解释":"p","例子":"e"})", R"({"definition":"d","example":"e","plain":"p"})"},
      {R"({"definition":"d","plain":"p","example":"e"})", R"({"definition":"d","example":"e","plain":"p"})"},
      {R"({"Definition":"d","EXAMPLE":"e"})", R"({"definition":"d","example":"e"})"},
      {R"({" 定义 ":"d"})", R"({"definition":"d"})"},
      {R"({"来源":"论文","note":"n"})", R"({"note":"n","来源":"论文"})"},
      {R"({"定义":"same","definition":"same"})", R"({"definition":"same"})"},
      {R"({"plain":""})", R"({"plain":""})"},  // kept: the store reads a blank value as "remove"
      {R"({})", R"({})"},
  };
  for (const auto& c : cases) {
    auto result = normalize_fields(JsonValue::parse(c.given));
    ASSERT_TRUE(result.ok()) << c.given << ": " << result.error().text();
    EXPECT_EQ(result.value(), JsonValue::parse(c.stored)) << c.given;
  }
}

TEST(NormalizeFieldsTest, RefusesWithAChineseMessageSayingWhy) {
  struct Case {
    const char* given;
    const char* message_part;
  };
  const Case cases[] = {
      {R"([])", "fields 必须是 JSON 对象"},
      {R"("定义")", "fields 必须是 JSON 对象"},
      {R"(null)", "fields 必须是 JSON 对象"},
      {R"(42)", "fields 必须是 JSON 对象"},
      {R"({"定义":1})", "字段「定义」的值必须是字符串"},
      {R"({"example":{"a":"b"}})", "字段「example」的值必须是字符串"},
      {R"({" ":"x"})", "空的字段名"},
      {R"({"定义":"a","definition":"b"})", "给了两次"},
  };
  for (const auto& c : cases) {
    auto result = normalize_fields(JsonValue::parse(c.given));
    ASSERT_FALSE(result.ok()) << c.given;
    EXPECT_NE(result.error().text().find(c.message_part), std::string::npos)
        << c.given << " gave " << result.error().text();
  }
}

TEST(CheckedTermTest, TermsAndAliasesThatNoKeyCouldFindOrThatHoldANulAreRefused) {
  struct Case {
    const char* name;
    std::string term;
    const char* message;  // nullptr: taken
  };
  const Case cases[] = {
      {"a zero-width space", "\u200b", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"a word joiner", "\u2060", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"a zero-width joiner", "\u200d", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"a soft hyphen", "\u00ad", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"a byte-order mark", "\ufeff", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"several of them", "\u200b\u2060\u00ad\u200d", "词条只有看不见的字符（零宽空格、软连字符之类）"},
      {"a NUL inside", std::string("a\0b", 3), "词条不能含有 NUL 字符"},
      {"a NUL alone", std::string(1, '\0'), "词条不能含有 NUL 字符"},
      {"a NUL at the end", std::string("RAG\0", 4), "词条不能含有 NUL 字符"},
      {"an invisible character beside a letter", "R\u200bAG", nullptr},
      {"a plain term", "RAG", nullptr},
  };
  for (const auto& c : cases) {
    auto term = checked_term(c.term);
    EXPECT_EQ(term.ok() ? std::string() : term.error().text(), c.message ? c.message : "") << c.name;
    auto alias = normalize_aliases(JsonValue::array({c.term}), "other");
    EXPECT_EQ(alias.ok(), c.message == nullptr) << c.name;
    if (!alias.ok() && c.message) {
      EXPECT_NE(alias.error().text().find(c.message), std::string::npos) << c.name << ": " << alias.error().text();
      EXPECT_EQ(alias.error().text().rfind("别名「", 0), 0u) << c.name;
    }
  }
}

TEST(FieldBoundsTest, AReplyCountsEscapesAsTheBytesItWrites) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"abc", 3}, {"词", 3}, {"\"\\", 4}, {"\n\r\t\b\f", 10}, {std::string("\x01\x1f\0", 3), 18}, {"\x7f", 1},
  };
  for (const auto& [text, bytes] : cases) {
    EXPECT_EQ(field_reply_bytes(text), bytes) << text;
    // The count is what the writer spends inside the quotes.
    EXPECT_EQ(common::to_compact(JsonValue(text)).size() - 2, bytes) << text;
  }
}

}  // namespace
}  // namespace ruvo::desktop::store
