#include "store/glossary.hpp"

#include "protocol/fields.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <set>

namespace ruvo::desktop::store {
namespace {

std::vector<TermDraft> embedded() {
  auto parsed = parse_glossary(embedded_glossary());
  if (!parsed) {
    ADD_FAILURE() << parsed.error().text();
    return {};
  }
  return parsed.value();
}

TEST(GlossaryTest, EmbeddedGlossaryHasSomeFortyCompleteChineseEntries) {
  auto drafts = embedded();
  EXPECT_GE(drafts.size(), 40u);
  for (const auto& d : drafts) {
    EXPECT_EQ(d.lang, "zh") << d.term;
    EXPECT_EQ(d.category_id, "term") << d.term;
    for (const auto& field : protocol::FIELD_LABELS) {
      const auto& value = d.fields[std::string(field.key)];
      ASSERT_TRUE(value.is_string()) << d.term << " " << field.key;
      // Chinese text: the UTF-8 of CJK characters starts with 0xE4 to 0xE9.
      bool has_cjk = false;
      for (unsigned char c : value.get<std::string>()) has_cjk = has_cjk || (c >= 0xE4 && c <= 0xE9);
      EXPECT_TRUE(has_cjk) << d.term << " " << field.key;
    }
  }
}

TEST(GlossaryTest, HoldsTheTermsPeopleLookUpFirst) {
  std::set<std::string> keys;
  for (const auto& d : embedded()) keys.insert(term_key(d.term));
  for (const char* term : {"RAG", "向量数据库", "embedding", "token", "prompt", "LLM", "API", "MCP", "Agent", "微调"}) {
    EXPECT_TRUE(keys.count(term_key(term))) << term;
  }
}

TEST(GlossaryTest, FaultsAreNamed) {
  struct Case {
    const char* text;
    const char* message_part;
  };
  const Case cases[] = {
      {"[]", "needs \"lang\""},
      {R"({"lang":"zh","categoryId":"term","terms":{}})", "\"terms\" must be an array"},
      {R"({"lang":"zh","categoryId":"term","terms":[{"definition":"d","plain":"p","example":"e"}]})", "needs \"term\""},
      {R"({"lang":"zh","categoryId":"term","terms":[{"term":"A","definition":"d","plain":"p"}]})", "needs \"example\""},
      {R"({"lang":"zh","categoryId":"term","terms":[{"term":"A","definition":"d","plain":" ","example":"e"}]})",
       "needs \"plain\""},
      {R"({"lang":"zh","categoryId":"term","terms":[{"term":"A","definition":"d","plain":"p","example":"e"},
          {"term":"a","definition":"d","plain":"p","example":"e"}]})",
       "given twice"},
      {R"({"lang":"zh","categoryId":"term","terms":[{"term":"A","definition":"d","plain":"p","example":"e","n":1}]})",
       "must be a string"},
      {"{", "glossary: parse error"},
  };
  for (const auto& c : cases) {
    auto parsed = parse_glossary(c.text);
    ASSERT_FALSE(parsed.ok()) << c.text;
    EXPECT_NE(parsed.error().text().find(c.message_part), std::string::npos)
        << c.text << " gave " << parsed.error().text();
  }
}

TEST(GlossaryTest, SeedingANewStoreMakesTheFirstLookupAHit) {
  test::TempDir dir;
  auto drafts = embedded();
  auto opened = TermStore::open(dir.file("terms.sqlite3"), drafts);
  ASSERT_TRUE(opened.ok());
  auto& store = *opened.value();
  auto count = store.count();
  ASSERT_TRUE(count.ok());
  EXPECT_EQ(count.value(), static_cast<std::int64_t>(drafts.size()));
  auto hit = store.find_any("rag", "zh");
  ASSERT_TRUE(hit.ok());
  const auto& entry = hit.value();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->term, "RAG");
  EXPECT_NE(entry->fields["definition"].get<std::string>().find("检索增强生成"), std::string::npos);
  EXPECT_EQ(entry->source, kSourceGlossary);
}

}  // namespace
}  // namespace ruvo::desktop::store
