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

}  // namespace
}  // namespace ruvo::desktop::store
