// The store under load: a write that cannot have the writer says busy while
// reads go on, exports in flight are bounded, a search keeps to its words
// and to its time budget.
#include "store/store.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <deque>
#include <string>
#include <vector>

namespace ruvo::desktop::store {
namespace {

using test::TempDir;

std::unique_ptr<TermStore> open_store(const std::string& path, StoreBounds bounds = {}) {
  auto opened = TermStore::open(path, {}, bounds);
  if (!opened) {
    ADD_FAILURE() << opened.error().text();
    return nullptr;
  }
  return std::move(opened.value());
}

TermDraft draft(std::string term, std::string definition = "d") {
  return TermDraft{std::move(term), "zh", "term", JsonValue{{"definition", std::move(definition)}}};
}

// Another program's connection that takes the store's write lock and keeps
// it until it is closed.
class OtherWriter {
 public:
  explicit OtherWriter(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
  }
  ~OtherWriter() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  OtherWriter(const OtherWriter&) = delete;
  OtherWriter& operator=(const OtherWriter&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

// What a person is told must not be SQLite's words.
void expect_busy_for_people(const common::Error& error, const std::string& what) {
  EXPECT_EQ(error.kind, common::ErrorKind::kBusy) << what << ": " << error.text();
  EXPECT_EQ(error.message, std::string(kStoreBusyMessage)) << what;
  for (const char* sql : {"BEGIN", "locked", "SQLITE", "database"}) {
    EXPECT_EQ(error.text().find(sql), std::string::npos) << what << ": " << error.text();
  }
}

TEST(TermStoreBoundsTest, WritesWhileAnotherProgramHoldsTheWriterAreBusyAndReadsGoOn) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  // A short wait: the test waits it out once per write.
  auto store = open_store(path, StoreBounds{std::chrono::milliseconds(100)});
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->save(draft("RAG", "检索增强生成")).ok());
  const auto id = std::stoll(store->find("RAG", "zh").value()->id);
  {
    OtherWriter other(path);
    auto saved = store->save(draft("Prompt"));
    ASSERT_FALSE(saved.ok());
    expect_busy_for_people(saved.error(), "save");
    auto added = store->save_if_absent(draft("Token"));
    ASSERT_FALSE(added.ok());
    expect_busy_for_people(added.error(), "save_if_absent");
    auto removed = store->remove(id);
    ASSERT_FALSE(removed.ok());
    expect_busy_for_people(removed.error(), "remove");
    auto imported = store->import_file("{\"term\":\"Agent\",\"lang\":\"zh\",\"categoryId\":\"term\"}\n",
                                       TermFileFormat::kJsonLines);
    ASSERT_FALSE(imported.ok());
    expect_busy_for_people(imported.error(), "import");

    // Reads do not need the writer.
    auto found = store->find("rag", "zh");
    ASSERT_TRUE(found.ok()) << found.error().text();
    ASSERT_TRUE(found->has_value());
    EXPECT_EQ((*found)->fields["definition"], "检索增强生成");
    EXPECT_EQ(store->known_count(), 1);
    auto page = store->search("rag", 10, 0);
    ASSERT_TRUE(page.ok()) << page.error().text();
    EXPECT_EQ(page->terms.size(), 1u);
    EXPECT_TRUE(store->suggest("ragg").ok());
    EXPECT_TRUE(store->get(id).ok());
    EXPECT_TRUE(store->misses(10).ok());
    // A miss is not worth a wait: not counted, and said so at once.
    EXPECT_FALSE(store->record_miss("无此词").ok());
  }
  // Once the other program is done, writes go through again.
  ASSERT_TRUE(store->save(draft("Prompt")).ok());
  EXPECT_EQ(store->known_count(), 2);
}

TEST(TermStoreBoundsTest, AtMostFourExportsAreOpenAtOnce) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->save(draft("RAG")).ok());
  std::deque<TermExport> open;
  for (int i = 0; i < kMaxExportsInFlight; ++i) {
    auto opened = store->open_export();
    ASSERT_TRUE(opened.ok()) << i << ": " << opened.error().text();
    open.push_back(std::move(opened).value());
  }
  auto fifth = store->open_export();
  ASSERT_FALSE(fifth.ok());
  EXPECT_EQ(fifth.error().kind, common::ErrorKind::kBusy) << fifth.error().text();
  // An export read to its end still counts until it is closed.
  auto first = open.front().next();
  ASSERT_TRUE(first.ok());
  EXPECT_TRUE(first->has_value());
  EXPECT_FALSE(store->open_export().ok());
  open.pop_front();
  auto again = store->open_export();
  ASSERT_TRUE(again.ok()) << again.error().text();
  auto record = again->next();
  ASSERT_TRUE(record.ok());
  ASSERT_TRUE(record->has_value());
  EXPECT_EQ((*record)->term, "RAG");
}

TEST(TermStoreBoundsTest, ASearchLooksForItsFirstSixteenDistinctWordsOnly) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  // Sixteen words the entry holds; any further word it does not.
  std::string held;
  for (char c = 'a'; c < 'a' + 16; ++c) held += std::string(c == 'a' ? "" : " ") + "w" + c + "x";
  ASSERT_TRUE(store->save(draft("Entry", held)).ok());
  struct Case {
    std::string query;
    std::size_t found;
  };
  const Case cases[] = {
      {held, 1},
      // A seventeenth word is ignored.
      {held + " absent", 1},
      // The same word again is looked for once and does not count.
      {"wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax absent", 0},
      {"wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wax wbx", 1},
      // Within the sixteen, every word is required.
      {"absent " + held, 0},
      // Each Chinese character is a word of its own, past the sixteen too.
      {held + " 检索增强", 1},
  };
  for (const auto& c : cases) {
    auto page = store->search(c.query, 10, 0);
    ASSERT_TRUE(page.ok()) << c.query << ": " << page.error().text();
    EXPECT_EQ(page->terms.size(), c.found) << c.query;
    EXPECT_FALSE(page->partial) << c.query;
  }
}

TEST(TermStoreBoundsTest, ASearchPastItsBudgetSaysPartialAndListsOnlyMatches) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  {
    auto store = open_store(path);
    ASSERT_TRUE(store);
    std::string lines;
    for (int i = 0; i < 3000; ++i) {
      lines += R"({"term":"common)" + std::to_string(i) + R"(","lang":"zh","categoryId":"term",)" +
               R"("fields":{"definition":"shared word"}})" + "\n";
    }
    auto imported = store->import_file(lines, TermFileFormat::kJsonLines);
    ASSERT_TRUE(imported.ok()) << imported.error().text();
    auto whole = store->search("shared", 20, 0);
    ASSERT_TRUE(whole.ok());
    EXPECT_FALSE(whole->partial);
    EXPECT_EQ(whole->terms.size(), 20u);
  }
  // A budget already spent when the search begins: the first look at the
  // clock stops it, whatever the machine's speed.
  StoreBounds none;
  none.search_budget = std::chrono::milliseconds(0);
  auto store = open_store(path, none);
  ASSERT_TRUE(store);
  for (const char* query : {"shared", "shared word", "common1"}) {
    auto page = store->search(query, 20, 0);
    ASSERT_TRUE(page.ok()) << query << ": " << page.error().text();
    EXPECT_TRUE(page->partial) << query;
    EXPECT_FALSE(page->total_exact) << query;
    for (const auto& entry : page->terms) EXPECT_EQ(entry.fields["definition"], "shared word") << query;
  }
}

}  // namespace
}  // namespace ruvo::desktop::store
