// Imports, exports and searches over more entries than a person types in:
// what must hold when the store is filled from a file.
#include "store/store.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <string>
#include <vector>

namespace ruvo::desktop::store {
namespace {

using test::TempDir;

std::unique_ptr<TermStore> open_store(const std::string& path) {
  auto opened = TermStore::open(path, {});
  if (!opened) {
    ADD_FAILURE() << opened.error().text();
    return nullptr;
  }
  return std::move(opened.value());
}

TermRecord record(std::string term, std::string definition, std::vector<std::string> aliases = {},
                  std::string source = "user") {
  TermRecord r;
  r.term = std::move(term);
  r.fields = JsonValue{{"definition", std::move(definition)}};
  r.aliases = std::move(aliases);
  r.source = std::move(source);
  return r;
}

ImportSummary imported(TermStore& store, const std::vector<TermRecord>& records) {
  auto result = store.import_records(records);
  if (!result) {
    ADD_FAILURE() << result.error().text();
    return {};
  }
  return result.value();
}

std::vector<std::string> terms_of(TermStore& store, std::string_view query, int limit = 20, int offset = 0) {
  auto page = store.search(query, limit, offset);
  if (!page) {
    ADD_FAILURE() << page.error().text();
    return {};
  }
  std::vector<std::string> out;
  for (const auto& entry : page->terms) out.push_back(entry.term);
  return out;
}

TEST(TermImportTest, AnUpdateReplacesTheEntryAndItsPlaceInTheSearch) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  EXPECT_EQ(imported(*store, {record("Agent", "alpha planner", {"代理"})}).added, 1u);
  auto again = imported(*store, {record("agent", "beta worker", {"智能体"}), record("Agent", "gamma", {}, "model")});
  EXPECT_EQ(again.updated, 1u);
  EXPECT_EQ(again.kept, 1u) << "a model's entry does not replace a person's";

  EXPECT_EQ(terms_of(*store, "alpha"), std::vector<std::string>{}) << "the old text left the index";
  EXPECT_EQ(terms_of(*store, "beta"), std::vector<std::string>{"agent"});
  EXPECT_EQ(terms_of(*store, "gamma"), std::vector<std::string>{});
  auto old_alias = store->find("代理", "zh");
  auto new_alias = store->find("智能体", "zh");
  ASSERT_TRUE(old_alias.ok() && new_alias.ok());
  EXPECT_FALSE(old_alias->has_value());
  ASSERT_TRUE(new_alias->has_value());
  EXPECT_EQ((*new_alias)->fields["definition"], "beta worker");
  EXPECT_EQ(terms_of(*store, "智能"), std::vector<std::string>{"agent"});
}

TEST(TermImportTest, AFailureOfTheReaderLeavesTheStoreAsItWas) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  imported(*store, {record("RAG", "检索增强生成")});
  auto failed = store->import_records([](const TermStore::RecordSink& put) -> Result<void> {
    if (auto done = put(record("RAG", "被改了")); !done) return done;
    if (auto done = put(record("LLM", "大语言模型")); !done) return done;
    return common::failure("第 3 行：不是 JSON");
  });
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().text(), "第 3 行：不是 JSON");
  EXPECT_EQ(store->count().value(), 1);
  EXPECT_EQ(terms_of(*store, "被改了"), std::vector<std::string>{});
  EXPECT_EQ(terms_of(*store, "检索"), std::vector<std::string>{"RAG"});
}

TEST(TermExportTest, AnExportReadsTheStoreAsItWasWhenItBegan) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  imported(*store, {record("RAG", "检索增强生成"), record("LLM", "大语言模型")});
  auto exporting = store->open_export();
  ASSERT_TRUE(exporting.ok()) << exporting.error().text();
  // Written while the export is open: neither held back nor seen by it.
  ASSERT_TRUE(store->save(TermDraft{"Agent", "zh", "term", JsonValue{{"definition", "智能体"}}}).ok());
  ASSERT_TRUE(store->remove(std::stoll(store->find("RAG", "zh").value()->id)).value());
  std::vector<std::string> terms;
  for (;;) {
    auto next = exporting->next();
    ASSERT_TRUE(next.ok()) << next.error().text();
    if (!*next) break;
    terms.push_back((*next)->term);
  }
  EXPECT_EQ(terms, (std::vector<std::string>{"RAG", "LLM"}));
  auto after = exporting->next();
  ASSERT_TRUE(after.ok());
  EXPECT_FALSE(after->has_value()) << "an ended export stays ended";
}

// Another program writing the same file (ruvo-gui.exe --import beside the
// service): its entries are read at once, and what the store keeps in
// memory catches up at the next refresh.
TEST(TermImportTest, AnImportByAnotherProgramIsSeenByTheFirst) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  imported(*store, {record("Prompt", "给模型的指令")});
  ASSERT_EQ(store->suggest("Promtp").value(), std::vector<std::string>{"Prompt"});
  ASSERT_EQ(store->known_count(), 1);
  {
    auto other = open_store(dir.file("terms.sqlite3"));
    ASSERT_TRUE(other);
    imported(*other, {record("Kubernetes", "容器编排")});
  }
  EXPECT_TRUE(store->find("kubernetes", "zh").value().has_value()) << "readers see every commit";
  EXPECT_EQ(store->count().value(), 2);
  ASSERT_TRUE(store->refresh().ok());
  EXPECT_EQ(store->known_count(), 2) << "the count kept is counted again";
  ASSERT_TRUE(store->save(TermDraft{"Helm", "zh", "term", JsonValue{{"definition", "包管理"}}}).ok());
  EXPECT_EQ(store->known_count(), 3) << "and moved by our own writes from there";
  EXPECT_EQ(store->suggest("Kubernets").value(), std::vector<std::string>{"Kubernetes"})
      << "the names in memory are read again after another program wrote";
}

// More matches than are ranked: the named entry first, then matches in a
// term or alias, then those in the fields alone, and every match exactly
// once however the pages are cut.
TEST(TermSearchTest, ManyMatchesArePagedWholeNamedEntriesFirst) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  std::vector<TermRecord> records;
  for (int i = 0; i < 2100; ++i) records.push_back(record("w" + std::to_string(i), "a common word"));
  records.push_back(record("common sense", "常识"));
  records.push_back(record("Gemein", "gemeinsam", {"common ground"}));
  records.push_back(record("Common", "the word itself"));
  imported(*store, records);

  auto first = store->search("common", 3, 0);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->total, 2103);
  ASSERT_EQ(first->terms.size(), 3u);
  EXPECT_EQ(first->terms[0].term, "Common");
  EXPECT_EQ((std::set<std::string>{first->terms[1].term, first->terms[2].term}),
            (std::set<std::string>{"common sense", "Gemein"}));

  std::set<std::string> seen;
  for (int offset = 0; offset < 2103; offset += 199) {
    for (const auto& term : terms_of(*store, "common", 199, offset)) {
      EXPECT_TRUE(seen.insert(term).second) << term << " listed twice";
    }
  }
  EXPECT_EQ(seen.size(), 2103u);
  EXPECT_EQ(terms_of(*store, "common", 20, 2103), std::vector<std::string>{});
  EXPECT_EQ(terms_of(*store, "common", 5, 2101).size(), 2u);
}

// A store of the version before the index of names: opened, it gets that
// index built from what it holds, and searches rank names first again.
TEST(TermSearchTest, AStoreWithoutTheIndexOfNamesGetsItBuilt) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  {
    auto store = open_store(path);
    ASSERT_TRUE(store);
    imported(*store, {record("Tokenizer", "splits text"), record("BPE", "a kind of tokenizer")});
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE names_fts; PRAGMA user_version = 4;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  auto store = open_store(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(terms_of(*store, "tokeniz"), (std::vector<std::string>{"Tokenizer", "BPE"}));
}

TEST(TermSearchTest, PastTheCountedBoundTheTotalSaysSoAndTheListEndsThere) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  std::vector<TermRecord> records;
  for (int i = 0; i < kSearchCountedAtMost + 10; ++i)
    records.push_back(record("w" + std::to_string(i), "a common word"));
  imported(*store, records);
  auto page = store->search("common", 5, 0);
  ASSERT_TRUE(page.ok());
  EXPECT_EQ(page->total, kSearchCountedAtMost);
  EXPECT_FALSE(page->total_exact);
  EXPECT_EQ(terms_of(*store, "common", 5, kSearchCountedAtMost - 1).size(), 1u);
  EXPECT_EQ(terms_of(*store, "common", 5, kSearchCountedAtMost).size(), 0u);
  auto few = store->search("w17", 5, 0);
  ASSERT_TRUE(few.ok());
  EXPECT_TRUE(few->total_exact);
}

}  // namespace
}  // namespace ruvo::desktop::store
