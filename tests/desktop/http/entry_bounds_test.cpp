// What one entry may hold, through the routes that save, import and read it:
// every bound refused one past it and taken at it, and the largest entry
// there can be still read back in replies that ruvo takes (1 MiB at most).
#include "http/handlers.hpp"

#include "store/entry_rules.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace ruvo::desktop::http {
namespace {

using store::kMaxAliases;
using store::kMaxFieldBytes;
using store::kMaxFields;
using store::kMaxFieldsBytes;
using store::kMaxTermChars;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
// What ruvo reads of a reply, head included; past it ruvo says "响应过大".
constexpr std::size_t kRuvoReplyLimit = 1024 * 1024;

class EntryBoundsTest : public test::ServiceTest {
 protected:
  EntryBoundsTest() : ServiceTest(kToken, "9.9.9") {}

  Reply call(std::string_view method, std::string_view path, std::string_view body = "",
             const QueryParameters& query = {}) {
    return handle_request(*ctx_, method, path, query, std::string(kToken), body);
  }
  Reply save(const JsonValue& body) { return call("POST", "/v1/save", body.dump()); }
  // The bytes of the reply's body as the server writes it.
  static std::size_t reply_bytes(const Reply& reply) { return common::to_compact(reply.body).size(); }
};

std::string times(std::string_view piece, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

// `count` distinct aliases of `chars` characters each.
JsonValue aliases(std::size_t count, std::size_t chars, std::string_view filler = "a") {
  JsonValue out = JsonValue::array();
  for (std::size_t i = 0; i < count; ++i) {
    std::string number = std::to_string(1000 + i);
    out.push_back(times(filler, chars - number.size()) + number);
  }
  return out;
}

// `count` fields named f1000, f1001, … with the value "v".
JsonValue many_fields(std::size_t count) {
  JsonValue out = JsonValue::object();
  for (std::size_t i = 0; i < count; ++i) out["f" + std::to_string(1000 + i)] = "v";
  return out;
}

TEST_F(EntryBoundsTest, ASaveOnePastABoundIsRefusedNamingItAndOneAtItIsTaken) {
  struct Case {
    const char* name;
    JsonValue at_bound;  // saved
    JsonValue past;      // refused with `message`
    std::string message;
  };
  const std::string over_term(kMaxTermChars + 1, 'x');
  const Case cases[] = {
      {"a term's characters",
       {{"term", times("词", kMaxTermChars)}},
       {{"term", times("词", kMaxTermChars + 1)}},
       "词条太长（最多 256 个字符）"},
      {"an alias's characters",
       {{"term", "别名长度"}, {"aliases", aliases(1, kMaxTermChars)}},
       {{"term", "别名长度"}, {"aliases", JsonValue::array({over_term})}},
       "别名「" + std::string(64, 'x') + "…」不行：词条太长（最多 256 个字符）"},
      {"the number of aliases",
       {{"term", "别名个数"}, {"aliases", aliases(kMaxAliases, 8)}},
       {{"term", "别名个数"}, {"aliases", aliases(kMaxAliases + 1, 8)}},
       "别名太多（最多 32 个）"},
      {"one field's bytes",
       {{"term", "字段长度"}, {"fields", {{"定义", std::string(kMaxFieldBytes, 'd')}}}},
       {{"term", "字段长度"}, {"fields", {{"定义", std::string(kMaxFieldBytes + 1, 'd')}}}},
       "字段「definition」太长（最多 65536 字节）"},
      // Counted as a reply writes them: a quotation mark takes two bytes,
      // another control character six.
      {"one field's bytes as a reply writes them",
       {{"term", "字段转义"}, {"fields", {{"例子", std::string(kMaxFieldBytes / 2, '"')}}}},
       {{"term", "字段转义"}, {"fields", {{"例子", std::string(kMaxFieldBytes / 6 + 1, '\x01')}}}},
       "字段「example」太长（最多 65536 字节）"},
      {"every field together",
       {{"term", "字段合计"},
        {"fields", {{"定义", std::string(kMaxFieldBytes, 'd')}, {"通俗解释", std::string(kMaxFieldBytes, 'p')}}}},
       {{"term", "字段合计"},
        {"fields",
         {{"定义", std::string(kMaxFieldBytes, 'd')}, {"通俗解释", std::string(kMaxFieldBytes, 'p')}, {"例子", "e"}}}},
       "字段合起来太长（所有字段一共最多 131072 字节）"},
      {"the number of fields",
       {{"term", "字段个数"}, {"fields", many_fields(kMaxFields)}},
       {{"term", "字段个数"}, {"fields", many_fields(kMaxFields + 1)}},
       "字段太多（最多 64 个）"},
      {"a field's name",
       {{"term", "字段名"}, {"fields", {{std::string(kMaxTermChars, 'n'), "v"}}}},
       {{"term", "字段名"}, {"fields", {{std::string(kMaxTermChars + 1, 'n'), "v"}}}},
       "字段名「" + std::string(16, 'n') + "…」太长（最多 256 个字符）"},
  };
  for (const auto& c : cases) {
    Reply taken = save(c.at_bound);
    EXPECT_EQ(taken.status, 200) << c.name << ": " << taken.body.dump().substr(0, 300);
    Reply refused = save(c.past);
    EXPECT_EQ(refused.status, 400) << c.name;
    EXPECT_EQ(refused.body["kind"], "bad_request") << c.name;
    EXPECT_EQ(refused.body["message"], c.message) << c.name;
  }
}

TEST_F(EntryBoundsTest, FieldsThatFitAloneButNotBesideThoseStoredAreRefusedAndChangeNothing) {
  const JsonValue first = {
      {"term", "合并"},
      {"fields", {{"定义", std::string(kMaxFieldBytes, 'd')}, {"通俗解释", std::string(kMaxFieldBytes, 'p')}}}};
  ASSERT_EQ(save(first).status, 200);
  Reply refused = save({{"term", "合并"}, {"fields", {{"例子", "one byte too many"}}}});
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body["message"], "字段合起来太长（所有字段一共最多 131072 字节）");
  Reply lookup = call("POST", "/v1/lookup", R"({"text":"合并"})");
  EXPECT_FALSE(lookup.body.contains("example")) << "the refused save changed the entry";
  // Making room in the same save is taken: a blank field removes it.
  Reply swapped = save({{"term", "合并"}, {"fields", {{"通俗解释", ""}, {"例子", "fits now"}}}});
  EXPECT_EQ(swapped.status, 200) << swapped.body.dump().substr(0, 300);
}

TEST_F(EntryBoundsTest, AnImportLinePastABoundIsRefusedByItsNumberAndImportsNothing) {
  struct Case {
    const char* name;
    JsonValue line;
    std::string says;
  };
  const Case cases[] = {
      {"a long term", {{"term", std::string(kMaxTermChars + 1, 't')}}, "词条太长（最多 256 个字符）"},
      {"too many aliases", {{"term", "t"}, {"aliases", aliases(kMaxAliases + 1, 4)}}, "别名太多（最多 32 个）"},
      {"a long field",
       {{"term", "t"}, {"fields", {{"definition", std::string(kMaxFieldBytes + 1, 'd')}}}},
       "字段「definition」太长（最多 65536 字节）"},
      {"long fields together",
       {{"term", "t"},
        {"fields",
         {{"definition", std::string(kMaxFieldBytes, 'd')},
          {"plain", std::string(kMaxFieldBytes, 'p')},
          {"example", "e"}}}},
       "字段合起来太长"},
  };
  for (const auto& c : cases) {
    const std::string file = "{\"term\":\"导入前\"}\n" + c.line.dump() + "\n";
    Reply reply = call("POST", "/v1/import", file);
    EXPECT_EQ(reply.status, 400) << c.name;
    EXPECT_EQ(reply.body["kind"], "bad_import") << c.name;
    const std::string message = reply.body.value("message", "");
    EXPECT_EQ(message.rfind("第 2 行：", 0), 0u) << c.name << ": " << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
    EXPECT_EQ(call("POST", "/v1/lookup", R"({"text":"导入前"})").body["hit"], false) << c.name;
  }
}

TEST_F(EntryBoundsTest, TheLargestEntryIsReadBackWithinWhatRuvoTakesAndListedCut) {
  // Every bound filled with what costs a reply most: control characters,
  // which it writes as six bytes (\u0001), in the term, each alias, every
  // field's name and the two known fields that a lookup carries twice.
  const std::string control(1, '\x01');
  JsonValue fields = JsonValue::object();
  fields["definition"] = times(control, kMaxFieldBytes / 6) + std::string(kMaxFieldBytes % 6, 'd');
  const std::size_t others = kMaxFields - 2;
  fields["plain"] = times(control, (kMaxFieldBytes - others) / 6) + std::string((kMaxFieldBytes - others) % 6, 'p');
  for (std::size_t i = 0; i < others; ++i) {
    std::string number = std::to_string(1000 + i);
    fields[times(control, kMaxTermChars - number.size()) + number] = "v";
  }
  const std::string term = times(control, kMaxTermChars - 1) + "T";
  const JsonValue largest = {
      {"term", term}, {"aliases", aliases(kMaxAliases, kMaxTermChars, control)}, {"fields", fields}};
  Reply saved = save(largest);
  ASSERT_EQ(saved.status, 200) << saved.body.dump().substr(0, 300);
  const std::string id = saved.body["id"];
  ASSERT_EQ(saved.body["aliases"].size(), kMaxAliases);
  ASSERT_EQ(saved.body["fields"].size(), kMaxFields);

  // What a lookup adds beside the entry (a dictionary's articles, say) has
  // a quarter of ruvo's limit left.
  const std::size_t room = kRuvoReplyLimit - kRuvoReplyLimit / 4;
  Reply lookup = call("POST", "/v1/lookup", JsonValue{{"text", term}}.dump());
  ASSERT_EQ(lookup.body["hit"], true);
  EXPECT_EQ(lookup.body["definition"], fields["definition"]);
  EXPECT_LT(reply_bytes(lookup), room);
  Reply explain = call("POST", "/v1/explain", JsonValue{{"text", term}, {"mode", "term"}}.dump());
  ASSERT_EQ(explain.body["source"], "local");
  EXPECT_LT(reply_bytes(explain), room);
  Reply whole = call("GET", "/v1/terms/" + id);
  ASSERT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body["term"]["fields"], saved.body["fields"]) << "the entry's own page gives every field whole";
  EXPECT_LT(reply_bytes(whole), room);
  std::cout << "largest entry: lookup reply " << reply_bytes(lookup) << " bytes, explain reply " << reply_bytes(explain)
            << " bytes, GET /v1/terms/<id> " << reply_bytes(whole) << " bytes\n";

  // A listing cuts a long field at 400 characters and says so.
  Reply listed = call("GET", "/v1/terms", "", {{"q", ""}, {"limit", "200"}});
  ASSERT_EQ(listed.status, 200);
  bool found = false;
  for (const auto& entry : listed.body["terms"]) {
    if (entry["id"] != id) continue;
    found = true;
    EXPECT_EQ(entry["fields"]["definition"], times(control, 400) + "…");
    EXPECT_EQ(entry["fields"]["plain"], times(control, 400) + "…");
    EXPECT_EQ(entry["fields"].size(), kMaxFields);
  }
  EXPECT_TRUE(found);
  std::cout << "a listing of every entry: " << reply_bytes(listed) << " bytes\n";
}

TEST_F(EntryBoundsTest, AListingCutsOnlyWhatIsLongerThanItShows) {
  const std::string exact = times("词", 400);
  const std::string longer = exact + "多";
  ASSERT_EQ(save({{"term", "列表"}, {"fields", {{"定义", exact}, {"例子", longer}}}}).status, 200);
  Reply listed = call("GET", "/v1/terms", "", {{"q", "列表"}});
  ASSERT_EQ(listed.body["terms"].size(), 1u);
  EXPECT_EQ(listed.body["terms"][0]["fields"]["definition"], exact);
  EXPECT_EQ(listed.body["terms"][0]["fields"]["example"], exact + "…");
}

}  // namespace
}  // namespace ruvo::desktop::http
