#include "cli/render.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ruvo::cli {
namespace {

JsonValue json(const char* text) { return JsonValue::parse(text); }

TEST(FieldLabels, AreDefinitionPlainExampleInThatOrder) {
  ASSERT_EQ(std::size(FIELD_LABELS), 3u);
  EXPECT_EQ(FIELD_LABELS[0].key, "definition");
  EXPECT_EQ(FIELD_LABELS[0].label, "定义");
  EXPECT_EQ(FIELD_LABELS[1].key, "plain");
  EXPECT_EQ(FIELD_LABELS[1].label, "通俗解释");
  EXPECT_EQ(FIELD_LABELS[2].key, "example");
  EXPECT_EQ(FIELD_LABELS[2].label, "例子");
}

struct ShownCase {
  const char* reply;
  bool shown;
  std::string value;  // exactly as received when shown
};

TEST(ShownField, OnlyStringsThatAreNotBlankAndExactlyAsReceived) {
  const ShownCase cases[] = {
      {R"({"plain":"x"})", true, "x"},
      {R"({"plain":"  带空格  "})", true, "  带空格  "},
      {R"({"plain":"\t行\n"})", true, "\t行\n"},
      {R"({"plain":""})", false, ""},
      {R"({"plain":"  \t\r\n"})", false, ""},
      {"{\"plain\":\"\u3000\u3000\"}", false, ""},           // ideographic space
      {"{\"plain\":\"\u00a0\u2028\u205f\"}", false, ""},     // other White_Space characters
      {"{\"plain\":\"\u200b\"}", true, "\u200b"},            // zero width space is not White_Space
      {R"({"plain":5})", false, ""},
      {R"({"plain":null})", false, ""},
      {R"({"plain":["x"]})", false, ""},
      {R"({"plain":{"x":"y"}})", false, ""},
      {R"({"other":"x"})", false, ""},
      {R"(["plain","x"])", false, ""},
      {R"("plain")", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    // The view points into the reply, so the reply must outlive it.
    const JsonValue reply = json(c.reply);
    const auto value = shown_field(reply, "plain");
    ASSERT_EQ(value.has_value(), c.shown);
    if (c.shown) {
      EXPECT_EQ(*value, c.value);
    }
  }
}

TEST(RenderFields, TightAndSpacedLayoutsFollowTheTableOrder) {
  // Members arrive in any order; the lines follow FIELD_LABELS.
  const JsonValue reply = json(R"({"example":"例","plain":"通","definition":"定"})");
  EXPECT_EQ(render_fields(reply, FieldLayout::kTight), "定义：定\n通俗解释：通\n例子：例\n");
  EXPECT_EQ(render_fields(reply, FieldLayout::kSpaced),
            "\n定义：定\n\n通俗解释：通\n\n例子：例\n");
}

TEST(RenderFields, FieldsNotShownLeaveNoLine) {
  const JsonValue reply = json(R"({"definition":7,"plain":"   ","example":" e "})");
  EXPECT_EQ(render_fields(reply, FieldLayout::kTight), "例子： e \n");
  EXPECT_EQ(render_fields(reply, FieldLayout::kSpaced), "\n例子： e \n");
  EXPECT_EQ(render_fields(json("[]"), FieldLayout::kSpaced), "");
}

TEST(ReplyMembers, KnownKeysOfTheRightTypeOnly) {
  EXPECT_TRUE(is_true_member(json(R"({"ok":true})"), "ok"));
  EXPECT_FALSE(is_true_member(json(R"({"ok":false})"), "ok"));
  EXPECT_FALSE(is_true_member(json(R"({"ok":"true"})"), "ok"));
  EXPECT_FALSE(is_true_member(json(R"({"ok":1})"), "ok"));
  EXPECT_FALSE(is_true_member(json("true"), "ok"));
  EXPECT_EQ(failure_message(json(R"({"message":"坏了"})"), "fallback"), "坏了");
  EXPECT_EQ(failure_message(json(R"({"message":""})"), "fallback"), "");
  EXPECT_EQ(failure_message(json(R"({"message":3})"), "fallback"), "fallback");
  EXPECT_EQ(failure_message(json("null"), "fallback"), "fallback");
  EXPECT_EQ(find_member(json("[1]"), "0"), nullptr);
}

}  // namespace
}  // namespace ruvo::cli
