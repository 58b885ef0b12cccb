// Finding the stored terms of a text: the folding that keeps positions, the
// names in memory, the matching rules, and the names kept current.
#include "store/terms_in_text.hpp"

#include "store/match_key.hpp"
#include "store/name_index.hpp"
#include "store/name_table.hpp"
#include "store/term_file.hpp"
#include "store/text_folding.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ruvo::desktop::store {
namespace {

using test::TempDir;

TEST(FoldTextTest, FoldsLikeMatchKeysAndKnowsWhereEachCharacterCameFrom) {
  struct Case {
    const char* text;
    const char* folded;  // as UTF-8
  };
  const Case cases[] = {
      {"ＲＡＧ", "rag"},
      {"數據庫", "数据库"},
      {"Straße", "strasse"},
      {"e\xCC\x81"
       "cole",
       "\xC3\xA9"
       "cole"},
      {"a \t\n b", "a b"},
      {"x\xE2\x80\x8By", "xy"},  // a zero-width space folds to nothing
      {"RAG 和向量數據庫", "rag 和向量数据库"},
  };
  for (const auto& c : cases) {
    const FoldedText folded = fold_text(c.text);
    EXPECT_EQ(utf8_of(folded.chars), c.folded) << c.text;
    EXPECT_EQ(folded.piece.size(), folded.chars.size()) << c.text;
    // Every folded run of the whole text is the match key of that text.
    EXPECT_EQ(utf8_of(folded.chars), match_key(c.text)) << c.text;
  }
}

TEST(FoldTextTest, PiecesCountCodePointsAndKeepCombiningMarksWithTheirLetter) {
  // U+1F600 (four bytes, one code point), "e" + U+0301, then "RAG".
  const std::string text = "\xF0\x9F\x98\x80 e\xCC\x81 RAG";
  const FoldedText folded = fold_text(text);
  ASSERT_EQ(folded.pieces.size(), 7u);  // 😀, space, é, space, R, A, G
  EXPECT_EQ(folded.pieces[0].start, 0u);
  EXPECT_EQ(folded.pieces[0].end, 1u);
  EXPECT_EQ(folded.pieces[2].start, 2u);
  EXPECT_EQ(folded.pieces[2].end, 4u);  // the mark belongs to its letter
  EXPECT_EQ(folded.pieces[4].start, 5u);
  EXPECT_EQ(folded.pieces[4].byte_start, 9u);  // 4 + 1 + 3 + 1 bytes before it
  EXPECT_EQ(utf8_of(folded.chars), "\xF0\x9F\x98\x80 \xC3\xA9 rag");
}

TEST(NameHashTest, ARangeOfATextHashesAsTheNameItSpells) {
  const NameHash& hash = NameHash::instance();
  const std::u32string text = U"我用rag和向量数据库";
  const auto prefix = hash.prefixes(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    for (std::size_t j = i + 1; j <= text.size(); ++j) {
      EXPECT_EQ(hash.of_range(prefix, i, j), hash.of(std::u32string_view(text).substr(i, j - i))) << i << "," << j;
    }
  }
}

TEST(NameTableTest, HoldsWhatWasAddedAndGrowsPastItsFirstSize) {
  NameTable table;
  std::vector<std::u32string> names;
  for (int i = 0; i < 5000; ++i) names.push_back(U"名字" + std::u32string(1, static_cast<char32_t>(0x4E00 + i)));
  for (const auto& name : names) EXPECT_TRUE(table.add(name));
  EXPECT_FALSE(table.add(names[0]));  // once
  EXPECT_FALSE(table.add(U"名"));     // one character never counts
  EXPECT_EQ(table.size(), names.size());
  const NameHash& hash = NameHash::instance();
  for (const auto& name : names) EXPECT_TRUE(table.holds(hash.of(name)));
  EXPECT_FALSE(table.holds(hash.of(U"名字")));
  EXPECT_TRUE(table.has_length(3));
  EXPECT_FALSE(table.has_length(2));
  EXPECT_EQ(table.longest_from(U'名', U'字'), 3u);
}

TEST(CountsInTextTest, OneCharacterNeverCountsAndEverydayWordsOnlyFromThePerson) {
  TermEntry mine{"1", "我们", "zh", "term"};
  TermEntry dictionarys = mine;
  dictionarys.source = "dictionary";
  dictionarys.dictionary_id = 7;
  EXPECT_TRUE(counts_in_text(mine, "我们"));
  EXPECT_FALSE(counts_in_text(dictionarys, "我们"));
  EXPECT_FALSE(counts_in_text(dictionarys, "the"));
  EXPECT_TRUE(counts_in_text(dictionarys, "死锁"));
  EXPECT_FALSE(counts_in_text(mine, "c"));
  EXPECT_FALSE(counts_in_text(mine, "锁"));
  for (const char* source : {"user", "glossary", "model"}) {
    TermEntry entry = mine;
    entry.source = source;
    EXPECT_FALSE(from_dictionary(entry)) << source;
  }
  EXPECT_TRUE(from_dictionary(dictionarys));
}

class TermsInTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = TermStore::open(dir_.file("terms.sqlite3"), {});
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    store_ = std::move(opened.value());
    names_ = std::make_unique<NameIndex>(*store_);
  }

  void save(const std::string& term, const std::string& definition, std::vector<std::string> aliases = {},
            const std::string& lang = "zh") {
    TermDraft draft{term, lang, "term", {{"definition", definition}}};
    draft.aliases = std::move(aliases);
    auto saved = store_->save(draft);
    ASSERT_TRUE(saved.ok()) << saved.error().text();
    names_->note_saved(*saved);
  }

  // "term@start-end=text" for each term found.
  std::vector<std::string> found(const std::string& text, std::size_t most = kMostTermsInText) {
    auto terms = terms_in_text(*store_, *names_, text, "zh", most);
    EXPECT_TRUE(terms.ok()) << terms.error().text();
    std::vector<std::string> out;
    if (!terms) return out;
    for (const auto& t : *terms) {
      out.push_back(t.entry.term + "@" + std::to_string(t.start) + "-" + std::to_string(t.end) + "=" + t.text);
    }
    return out;
  }

  TempDir dir_;
  std::unique_ptr<TermStore> store_;
  std::unique_ptr<NameIndex> names_;
};

TEST_F(TermsInTextTest, FindsNamesHoweverTypedLongestFirstWholeWordsEachOnce) {
  save("RAG", "检索增强生成", {"检索增强生成"});
  save("向量数据库", "存向量的库", {"Vector Database"});
  save("向量", "有方向的量");
  save("Embedding", "嵌入");
  save("LLM", "大语言模型");
  save("Function Calling", "函数调用");
  struct Case {
    const char* text;
    std::vector<std::string> terms;
  };
  const Case cases[] = {
      {"RAG 和向量数据库是什么关系", {"RAG@0-3=RAG", "向量数据库@5-10=向量数据库"}},
      // Full width and Traditional spellings, found as they are written.
      {"ＲＡＧ與向量數據庫", {"RAG@0-3=ＲＡＧ", "向量数据库@4-9=向量數據庫"}},
      // Latin names only as whole words; Chinese anywhere.
      {"drag, fragment, RAGs, RAG2 and 2RAG", {}},
      {"用RAG做", {"RAG@1-4=RAG"}},
      {"(RAG)", {"RAG@1-4=RAG"}},
      // The longest name at a place first; the shorter one elsewhere.
      {"向量数据库里的向量", {"向量数据库@0-5=向量数据库", "向量@7-9=向量"}},
      // An alias finds its entry, which is named as stored; each entry once.
      {"RAG，即检索增强生成，RAG", {"RAG@0-3=RAG"}},
      {"检索增强生成", {"RAG@0-6=检索增强生成"}},
      // A name of two words, across a line break in the text.
      {"use function\ncalling here", {"Function Calling@4-20=function\ncalling"}},
      {"vector database", {"向量数据库@0-15=vector database"}},
      // Order of first appearance.
      {"LLM 和 Embedding 和 LLM", {"LLM@0-3=LLM", "Embedding@6-15=Embedding"}},
      {"没有词条的一句话", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(found(c.text), c.terms) << c.text;
}

TEST_F(TermsInTextTest, PositionsCountCodePointsPastAstralCharactersAndCombiningMarks) {
  save("RAG", "检索增强生成");
  save("向量", "有方向的量");
  // 😀 is one code point of four bytes; é is written e + U+0301: two.
  EXPECT_EQ(found("\xF0\x9F\x98\x80 e\xCC\x81 RAG"), std::vector<std::string>{"RAG@5-8=RAG"});
  EXPECT_EQ(found("\xF0\xA0\x80\x80向量"), std::vector<std::string>{"向量@1-3=向量"});
  // A mark on the name's last letter stays with it and makes it another word.
  EXPECT_EQ(found("RAG\xCC\x81"), std::vector<std::string>{});
}

TEST_F(TermsInTextTest, StopsAtTheMostAndLeavesOutOneCharacterNames) {
  std::string text;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "词条" + std::to_string(i) + "号";
    save(name, "第 " + std::to_string(i) + " 个");
    text += name + "，";
  }
  save("锁", "一个字");
  text += "锁";
  auto all = found(text);
  ASSERT_EQ(all.size(), kMostTermsInText);
  EXPECT_EQ(all.front(), "词条0号@0-4=词条0号");
  EXPECT_EQ(found(text, 3).size(), 3u);
  EXPECT_EQ(found("锁"), std::vector<std::string>{});
}

TEST_F(TermsInTextTest, SavesDeletionsAndAnotherConnectionsWritesAreFollowed) {
  save("RAG", "检索增强生成");
  EXPECT_EQ(found("RAG 和 LLM"), std::vector<std::string>{"RAG@0-3=RAG"});
  // Saved through this service: found at once.
  save("LLM", "大语言模型");
  EXPECT_EQ(found("RAG 和 LLM"), (std::vector<std::string>{"RAG@0-3=RAG", "LLM@6-9=LLM"}));
  // Deleted: its name may linger in memory, but the store has no entry.
  auto rag = store_->find("RAG", "zh");
  ASSERT_TRUE(rag.ok() && rag.value().has_value());
  ASSERT_TRUE(store_->remove(std::stoll(rag.value()->id)).ok());
  EXPECT_EQ(found("RAG 和 LLM"), std::vector<std::string>{"LLM@6-9=LLM"});
  // Written by another program: read again in the background once the
  // store's refresh has seen it.
  auto other = TermStore::open(dir_.file("terms.sqlite3"), {});
  ASSERT_TRUE(other.ok()) << other.error().text();
  ASSERT_TRUE((*other)->save(TermDraft{"Agent", "zh", "term", {{"definition", "智能体"}}}).ok());
  names_->refresh();
  names_->wait_for_builds();
  EXPECT_EQ(found("LLM Agent"), std::vector<std::string>{"LLM@0-3=LLM"}) << "not before the store looked";
  ASSERT_TRUE(store_->refresh().ok());
  names_->refresh();
  names_->wait_for_builds();
  EXPECT_EQ(found("LLM Agent"), (std::vector<std::string>{"LLM@0-3=LLM", "Agent@4-9=Agent"}));
  EXPECT_EQ(names_->built_names(), 2u);  // llm, agent: the deleted name went with the rebuild

  // An import of ours: read again at the next look, without a refresh.
  auto imported =
      store_->import_file(R"({"term":"Prompt","lang":"zh","fields":{"definition":"提示词"},"aliases":["提示语"]})"
                          "\n",
                          TermFileFormat::kJsonLines);
  ASSERT_TRUE(imported.ok()) << imported.error().text();
  names_->refresh();
  names_->wait_for_builds();
  EXPECT_EQ(found("写好提示语"), std::vector<std::string>{"Prompt@2-5=提示语"});
}

}  // namespace
}  // namespace ruvo::desktop::store
