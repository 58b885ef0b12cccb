#include "common/json.hpp"

#include <gtest/gtest.h>

#include <string>

using ruvo::common::JsonValue;
using ruvo::common::parse_json;
using ruvo::common::to_compact;
using ruvo::common::to_pretty;

namespace {

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(JsonParse, AcceptsOneValueWithSurroundingWhiteSpace) {
  const auto result = parse_json(" \t\r\n{\"a\":[1,2]} \n");
  ASSERT_TRUE(result) << result.error().text();
  EXPECT_EQ((*result)["a"][1], 2);
}

TEST(JsonParse, RejectsWithMessageNamingLineAndColumn) {
  struct Case {
    const char* text;
    const char* message_start;
  };
  const Case cases[] = {
      {"", "parse error at line 1, column 1: "},
      {"{\"a\":1} {}", "parse error at line 1, column 9: "},
      {"[1,]", "parse error at line 1, column 4: "},
      {"{\n  \"a\": nope\n}", "parse error at line 2, column 9: "},
      {"\xEF\xBB\xBF{}", "parse error at line 1, column 1: "},
      {"5e320", "parse error at line 1, column 5: number overflow parsing '5e320'"},
      {"[1,\n 1e400]", "parse error at line 2, column 6: number overflow parsing '1e400'"},
  };
  for (const auto& c : cases) {
    const auto result = parse_json(c.text);
    EXPECT_FALSE(result) << c.text;
    EXPECT_EQ(result.error().text().rfind(c.message_start, 0), 0u) << c.text << " -> " << result.error().text();
    EXPECT_EQ(result.error().text().find("[json.exception"), std::string::npos);
  }
}

TEST(JsonParse, NestingLimit) {
  EXPECT_TRUE(parse_json(nested_arrays(127)));
  const auto too_deep = parse_json(nested_arrays(128));
  EXPECT_FALSE(too_deep);
  EXPECT_EQ(too_deep.error().text().rfind("parse error at line 1, column 128: ", 0), 0u) << too_deep.error().text();

  // Brackets inside strings do not nest, and objects count like arrays.
  EXPECT_TRUE(parse_json("[\"" + std::string(300, '[') + "\"]"));
  std::string objects;
  for (int i = 0; i < 128; ++i) objects += "{\"k\":";
  objects += "1" + std::string(128, '}');
  EXPECT_FALSE(parse_json(objects));
  // A deep but unterminated document is still refused without recursion.
  EXPECT_FALSE(parse_json(std::string(100000, '[')));
}

TEST(JsonWrite, KeysInByteOrderAndTwoForms) {
  JsonValue v = JsonValue::object();
  v["version"] = "0.1.8";
  v["ok"] = true;
  v["Z"] = 1;
  v["\xC3\xA9"] = "é";  // above ASCII sorts after every ASCII key
  v["list"] = JsonValue::array();
  v["obj"] = JsonValue::object();
  EXPECT_EQ(to_compact(v), "{\"Z\":1,\"list\":[],\"obj\":{},\"ok\":true,\"version\":\"0.1.8\",\"é\":\"é\"}");
  EXPECT_EQ(to_pretty(v),
            "{\n  \"Z\": 1,\n  \"list\": [],\n  \"obj\": {},\n  \"ok\": true,\n"
            "  \"version\": \"0.1.8\",\n  \"é\": \"é\"\n}");
}

TEST(JsonWrite, EscapesOnlyQuoteBackslashAndControls) {
  const JsonValue v = std::string("\"\\/\b\t\n\f\r\x01\x1f\x7f中文");
  EXPECT_EQ(to_compact(v), "\"\\\"\\\\/\\b\\t\\n\\f\\r\\u0001\\u001f\x7f中文\"");
}

TEST(JsonWrite, NestedPrettyIndentation) {
  const auto v = parse_json(R"({"b":[1,{"c":null}],"a":{"d":"x"}})");
  ASSERT_TRUE(v);
  EXPECT_EQ(to_pretty(*v),
            "{\n  \"a\": {\n    \"d\": \"x\"\n  },\n  \"b\": [\n    1,\n    {\n      \"c\": null\n    }\n  ]\n}");
}

TEST(JsonWrite, InvalidUtf8NeverThrows) {
  const JsonValue v = std::string("a\xFF" "b");
  EXPECT_EQ(to_compact(v), "\"a\xEF\xBF\xBD" "b\"");
}

TEST(JsonNumbers, IntegersRoundTripDigitForDigit) {
  for (const char* text : {"0", "-1", "9223372036854775807", "-9223372036854775808", "18446744073709551615"}) {
    const auto v = parse_json(text);
    ASSERT_TRUE(v) << text;
    EXPECT_EQ(to_compact(*v), text);
  }
}
