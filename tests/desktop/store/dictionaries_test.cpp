// Dictionaries in the store: added whole or not at all, side by side with the person's entries and
// each other, in the person's order, disabled, removed, left out of exports; and a store of the
// schema before dictionaries migrated with everything in it.
#include "store/entry_rules.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"
#include "store/terms_in_text.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace ruvo::desktop::store {
namespace {

using test::TempDir;

std::unique_ptr<TermStore> open_store(const std::string& path, const std::vector<TermDraft>& seed = {}) {
  auto opened = TermStore::open(path, seed);
  if (!opened) {
    ADD_FAILURE() << opened.error().text();
    return nullptr;
  }
  return std::move(opened.value());
}

TermDraft glossary_draft(std::string term, std::string definition, std::vector<std::string> aliases = {}) {
  TermDraft d{std::move(term), "zh", "term", JsonValue{{"definition", std::move(definition)}},
              std::string(kSourceGlossary)};
  d.aliases = std::move(aliases);
  return d;
}

DictionaryArticle article(std::string headword, std::string text, std::string lang = "en") {
  DictionaryArticle a;
  a.headword = std::move(headword);
  a.text = std::move(text);
  a.lang = std::move(lang);
  return a;
}

// Adds a dictionary of these articles whole; its row as the store lists it.
Dictionary add(TermStore& store, const std::string& name, const std::vector<DictionaryArticle>& articles,
               const std::string& format = "dictd") {
  auto begun = store.begin_dictionary(DictionarySource{name, format, "/dicts/" + name});
  if (!begun) {
    ADD_FAILURE() << begun.error().text();
    return {};
  }
  for (const auto& a : articles) {
    if (auto put = (*begun)->put(a); !put) ADD_FAILURE() << put.error().text();
  }
  auto finished = (*begun)->finish(DictionaryDetails{name, "info of " + name, ""});
  if (!finished) {
    ADD_FAILURE() << finished.error().text();
    return {};
  }
  return *finished;
}

// One integer through a connection of its own, as another program would read it.
std::int64_t sql_count(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::int64_t out = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      out = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// The value of a result, or a failure of the test saying why there is none.
template <typename T>
T ok(Result<T> result) {
  if (!result) {
    ADD_FAILURE() << result.error().text();
    return T{};
  }
  return std::move(result).value();
}

NamedEntries named(TermStore& store, std::string_view text, std::size_t most = 20, std::size_t bytes = 1 << 20) {
  auto got = store.entries_named(text, "zh", most, bytes);
  if (!got) {
    ADD_FAILURE() << got.error().text();
    return {};
  }
  return *got;
}

// Who each entry is: "term/source" or "term/dictionary name".
std::vector<std::string> who(const NamedEntries& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries.entries) {
    out.push_back(e.term + "/" + (e.dictionary_id != 0 ? e.dictionary_name : e.source));
  }
  return out;
}

std::string definition(const TermEntry& entry) {
  auto it = entry.fields.find("definition");
  return it != entry.fields.end() && it->is_string() ? it->get<std::string>() : std::string();
}

class DictionaryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("terms.sqlite3");
    store = open_store(path, {glossary_draft("mutex", "互斥锁：词表的", {"互斥量"})});
    ASSERT_TRUE(store);
  }
  TempDir dir;
  std::string path;
  std::unique_ptr<TermStore> store;
};

TEST_F(DictionaryStoreTest, EntriesStandSideBySideInTheOrderAnswersGiveThem) {
  ASSERT_TRUE(store->save(TermDraft{"Mutex", "zh", "term", JsonValue{{"definition", "我自己的"}}}));
  DictionaryArticle first = article("deadlock", "A state in which each waits.");
  first.see_also = {"livelock"};
  DictionaryArticle second = article("deadlock", "Also: a stuck negotiation.");
  second.see_also = {"livelock", "starvation"};
  const Dictionary foldoc = add(
      *store, "FOLDOC", {article("mutex", "mutual exclusion"), article("MuTeX", "TeX music notation"), first, second});
  const Dictionary jargon = add(*store, "Jargon", {article("mutex", "jargon's mutex")});
  EXPECT_EQ(foldoc.entries, 3);  // the two deadlock articles are one entry, the case variants two
  EXPECT_EQ(foldoc.position, 0);
  EXPECT_EQ(jargon.position, 1);

  // The person's first, then the glossary's, then the dictionaries in order, the exact case first.
  EXPECT_EQ(who(named(*store, "MuTeX")),
            (std::vector<std::string>{"Mutex/user", "mutex/glossary", "MuTeX/FOLDOC", "mutex/FOLDOC", "mutex/Jargon"}));
  EXPECT_EQ(who(named(*store, "mutex"))[2], "mutex/FOLDOC");
  // The person's and the glossary's entries are what they were.
  auto own = store->find_any("mutex", "zh");
  ASSERT_TRUE(own && *own);
  EXPECT_EQ((*own)->source, kSourceUser);
  EXPECT_EQ(ok(store->count()), 2);  // dictionaries' entries are counted apart
  auto counts = store->dictionary_counts();
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->count, 2);
  EXPECT_EQ(counts->entries, 4);

  auto deadlock = named(*store, "deadlock");
  ASSERT_EQ(deadlock.entries.size(), 1u);
  EXPECT_EQ(definition(deadlock.entries[0]), "A state in which each waits.\n\nAlso: a stuck negotiation.");
  EXPECT_EQ(deadlock.entries[0].see_also, (std::vector<std::string>{"livelock", "starvation"}));
  EXPECT_EQ(deadlock.entries[0].source, kSourceDictionary);
  // One id space: a dictionary's entry is read by its id like any other, and named.
  auto by_id = store->get(std::stoll(deadlock.entries[0].id));
  ASSERT_TRUE(by_id && *by_id);
  EXPECT_EQ((*by_id)->dictionary_name, "FOLDOC");
  // ...but never removed one by one.
  EXPECT_FALSE(ok(store->remove(std::stoll(deadlock.entries[0].id))));

  // Bounded: by number, and by the size of the fields (the first entry always given).
  auto two = named(*store, "mutex", 2);
  EXPECT_EQ(two.entries.size(), 2u);
  EXPECT_TRUE(two.truncated);
  auto small = named(*store, "mutex", 20, 10);
  EXPECT_EQ(small.entries.size(), 1u);
  EXPECT_TRUE(small.truncated);
  EXPECT_FALSE(named(*store, "mutex").truncated);
}

TEST_F(DictionaryStoreTest, TermsInATextAreTheDictionariesInThePersonsOrderAndOnlyEnabledOnes) {
  const Dictionary a = add(*store, "A", {article("deadlock", "A's deadlock.")});
  const Dictionary b = add(*store, "B", {article("deadlock", "B's deadlock.")});
  NameIndex names(*store);
  auto best = [&]() -> std::string {
    auto found = terms_in_text(*store, names, "When a deadlock happens", "en");
    if (!found || found->size() != 1) return "?";
    const TermEntry& entry = found->front().entry;
    return entry.dictionary_name + ": " + entry.fields.value("definition", "");
  };
  EXPECT_EQ(best(), "A: A's deadlock.");
  ASSERT_TRUE(store->change_dictionary(b.id, DictionaryChange{std::nullopt, 0, std::nullopt}));
  EXPECT_EQ(best(), "B: B's deadlock.");
  ASSERT_TRUE(store->change_dictionary(b.id, DictionaryChange{false, std::nullopt, std::nullopt}));
  EXPECT_EQ(best(), "A: A's deadlock.");
  ASSERT_TRUE(store->change_dictionary(a.id, DictionaryChange{false, std::nullopt, std::nullopt}));
  names.refresh();
  names.wait_for_builds();
  EXPECT_EQ(best(), "?");  // no source of that name is on
}

TEST_F(DictionaryStoreTest, AnEntryInTheLanguageAskedForComesFirst) {
  add(*store, "English", {article("锁", "lock")});
  add(*store, "Chinese", {article("锁", "锁：中文的解释", "zh")});
  const auto entries = named(*store, "锁");
  ASSERT_EQ(entries.entries.size(), 2u);
  EXPECT_EQ(entries.entries[0].lang, "zh");
  EXPECT_EQ(entries.entries[1].lang, "en");
}

TEST_F(DictionaryStoreTest, AnAddInProgressIsInvisibleAndAnAbandonedOneLeavesNothing) {
  {
    auto begun = store->begin_dictionary(DictionarySource{"Half", "dictd", "/dicts/half"});
    ASSERT_TRUE(begun);
    for (int i = 0; i < 50; ++i) ASSERT_TRUE((*begun)->put(article("word" + std::to_string(i), "text")));
    ASSERT_TRUE((*begun)->put(article("mutex", "half's mutex")));
    EXPECT_EQ((*begun)->entries(), 51);
    // Another add waits for this one.
    auto second = store->begin_dictionary(DictionarySource{"Other", "dictd", "/dicts/other"});
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind, common::ErrorKind::kBusy);

    EXPECT_EQ(who(named(*store, "mutex")), (std::vector<std::string>{"mutex/glossary"}));
    EXPECT_TRUE(ok(store->dictionaries()).empty());
    EXPECT_EQ(ok(store->search("word1", 10, 0)).total, 0);
    EXPECT_TRUE(ok(store->suggest("word")).empty());
    ASSERT_TRUE((*begun)->abandon());
  }
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM terms WHERE dictionary_id IS NOT NULL"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM dictionaries"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM term_aliases"), 1);  // the glossary's alias alone

  // An add dropped unfinished (a reader's error on the way) takes its rows with it.
  {
    auto begun = store->begin_dictionary(DictionarySource{"Dropped", "dictd", "/dicts/dropped"});
    ASSERT_TRUE(begun);
    ASSERT_TRUE((*begun)->put(article("dropped", "text")));
  }
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM terms WHERE dictionary_id IS NOT NULL"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM dictionaries"), 0);
}

TEST_F(DictionaryStoreTest, WhatACrashedAddLeftIsClearedAtTheNextOpen) {
  {
    auto begun = store->begin_dictionary(DictionarySource{"Crashed", "cedict", "/dicts/crashed"});
    ASSERT_TRUE(begun);
    // More than one batch, so some of it was committed when the process "died".
    for (std::size_t i = 0; i < kDictionaryBatch + 10; ++i) {
      DictionaryArticle a = article("w" + std::to_string(i), "text");
      a.aliases = {"alias" + std::to_string(i)};
      a.senses = {"gloss" + std::to_string(i)};
      ASSERT_TRUE((*begun)->put(a));
    }
    ASSERT_TRUE((*begun)->abandon(false));  // stops, leaving the rows as a crash would
  }
  EXPECT_GE(sql_count(path, "SELECT COUNT(*) FROM terms WHERE dictionary_id IS NOT NULL"),
            static_cast<std::int64_t>(kDictionaryBatch));
  EXPECT_TRUE(ok(store->dictionaries()).empty());  // invisible meanwhile
  store.reset();
  store = open_store(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM terms WHERE dictionary_id IS NOT NULL"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM dictionaries"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM glosses"), 0);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM term_aliases"), 1);
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM dictionary_names_fts WHERE dictionary_names_fts MATCH 'w1'"), 0);
  EXPECT_EQ(ok(store->count()), 1);
}

TEST_F(DictionaryStoreTest, TheOrderEnablingRenamingAndRemovalAreThePersons) {
  const Dictionary a = add(*store, "A", {article("lock", "a's lock")});
  const Dictionary b = add(*store, "B", {article("lock", "b's lock")});
  const Dictionary c = add(*store, "C", {article("lock", "c's lock"), article("latch", "c's latch")});
  auto order = [&] {
    std::vector<std::string> names;
    auto listed = store->dictionaries();
    if (!listed) return names;
    for (const auto& d : *listed) names.push_back(d.name + std::to_string(d.position));
    return names;
  };
  EXPECT_EQ(order(), (std::vector<std::string>{"A0", "B1", "C2"}));

  struct Move {
    std::int64_t id;
    int to;
    std::vector<std::string> after;
  };
  const Move moves[] = {
      {c.id, 0, {"C0", "A1", "B2"}},   // up to the first place
      {c.id, 2, {"A0", "B1", "C2"}},   // down to the last
      {a.id, 1, {"B0", "A1", "C2"}},   // down by one
      {c.id, 1, {"B0", "C1", "A2"}},   // up by one
      {b.id, 99, {"C0", "A1", "B2"}},  // past the last is last
  };
  for (const auto& m : moves) {
    DictionaryChange change;
    change.position = m.to;
    ASSERT_TRUE(store->change_dictionary(m.id, change));
    EXPECT_EQ(order(), m.after) << "moving " << m.id << " to " << m.to;
  }
  EXPECT_EQ(who(named(*store, "lock")), (std::vector<std::string>{"lock/C", "lock/A", "lock/B"}));

  DictionaryChange off;
  off.enabled = false;
  ASSERT_TRUE(store->change_dictionary(c.id, off));
  EXPECT_EQ(who(named(*store, "lock")), (std::vector<std::string>{"lock/A", "lock/B"}));
  EXPECT_EQ(ok(store->search("latch", 10, 0)).total, 0);
  EXPECT_TRUE(ok(store->suggest("latc")).empty());
  EXPECT_EQ(ok(store->dictionary_counts()).count, 2);
  DictionaryChange on;
  on.enabled = true;
  on.name = "  C renamed ";
  auto changed = store->change_dictionary(c.id, on);
  ASSERT_TRUE(changed && *changed);
  EXPECT_EQ((*changed)->name, "C renamed");
  EXPECT_EQ((*changed)->file_name, "C");
  EXPECT_EQ(ok(store->search("latch", 10, 0)).total, 1);

  DictionaryChange blank;
  blank.name = " ";
  auto refused = store->change_dictionary(c.id, blank);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, common::ErrorKind::kBadInput);
  EXPECT_FALSE(ok(store->change_dictionary(12345, on)).has_value());

  auto removed = store->remove_dictionary(a.id);
  ASSERT_TRUE(removed && *removed);
  EXPECT_EQ(order(), (std::vector<std::string>{"C renamed0", "B1"}));
  EXPECT_EQ(who(named(*store, "lock")), (std::vector<std::string>{"lock/C renamed", "lock/B"}));
  EXPECT_EQ(ok(store->removed_dictionary_paths()), std::vector<std::string>{"/dicts/A"});
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM terms WHERE dictionary_id = " + std::to_string(a.id)), 0);
  EXPECT_FALSE(ok(store->remove_dictionary(a.id)).has_value());
  // Added again by hand, it leaves the removed ones.
  add(*store, "A", {article("lock", "a's lock")});
  EXPECT_TRUE(ok(store->removed_dictionary_paths()).empty());
}

TEST_F(DictionaryStoreTest, SearchAndSuggestionsReachDictionariesAfterThePersons) {
  add(*store, "FOLDOC",
      {article("mutex", "mutual exclusion"), article("mutual exclusion", "see mutex"),
       article("semaphore", "a counter")});
  auto page = store->search("mutex", 10, 0);
  ASSERT_TRUE(page);
  // Both mutexes by name, the glossary's first; a dictionary's article text is not searched.
  ASSERT_EQ(page->terms.size(), 2u);
  EXPECT_EQ(page->terms[0].source, kSourceGlossary);
  EXPECT_EQ(page->terms[1].dictionary_name, "FOLDOC");
  EXPECT_EQ(page->terms[1].term, "mutex");
  EXPECT_EQ(page->total, 2);
  // A dictionary entry is found by its whole name (its names are in an index of their own, which
  // the search does not read yet: a word that only begins one finds nothing there).
  auto whole = ok(store->search("mutual exclusion", 10, 0));
  ASSERT_EQ(whole.terms.size(), 1u);
  EXPECT_EQ(whole.terms[0].term, "mutual exclusion");
  // A blank query lists the person's own store.
  EXPECT_EQ(ok(store->search("", 10, 0)).total, 1);
  EXPECT_EQ(ok(store->suggest("semaphor")), std::vector<std::string>{"semaphore"});
}

TEST_F(DictionaryStoreTest, GlossesLinkABilingualDictionaryBothWays) {
  add(*store, "FOLDOC", {article("deadlock", "each waits for the other")});
  DictionaryArticle silock = article("死锁", "sǐ suǒ\ndeadlock (computing)\nto lock up");
  silock.senses = {"deadlock (computing)", "to lock up"};
  silock.aliases = {"死鎖"};
  DictionaryArticle jiangju = article("僵局", "jiāng jú\nimpasse; deadlock");
  jiangju.senses = {"impasse; deadlock"};
  add(*store, "CC-CEDICT", {silock, jiangju}, "cedict");

  auto from_chinese = named(*store, "死锁");
  ASSERT_EQ(from_chinese.entries.size(), 1u);
  auto related = store->related_entries("死锁", from_chinese.entries, 10);
  ASSERT_TRUE(related);
  ASSERT_EQ(related->size(), 1u);
  EXPECT_EQ((*related)[0].entry.term, "deadlock");
  EXPECT_EQ((*related)[0].entry.dictionary_name, "FOLDOC");
  EXPECT_EQ((*related)[0].via, "deadlock");

  auto from_english = named(*store, "Deadlock");
  related = store->related_entries("Deadlock", from_english.entries, 10);
  ASSERT_TRUE(related);
  std::vector<std::string> terms;
  for (const auto& r : *related) terms.push_back(r.entry.term + "/" + r.entry.dictionary_name);
  EXPECT_EQ(terms, (std::vector<std::string>{"死锁/CC-CEDICT", "僵局/CC-CEDICT"}));
  EXPECT_TRUE(ok(store->related_entries("Deadlock", from_english.entries, 1)).size() == 1);

  // Removed, the bilingual dictionary links nothing any more.
  const auto dictionaries = ok(store->dictionaries());
  ASSERT_TRUE(store->remove_dictionary(dictionaries.back().id));
  EXPECT_TRUE(ok(store->related_entries("deadlock", named(*store, "deadlock").entries, 10)).empty());
  EXPECT_EQ(sql_count(path, "SELECT COUNT(*) FROM glosses"), 0);
}

TEST_F(DictionaryStoreTest, LongHeadwordsAndArticlesAreKeptWithinTheirBounds) {
  std::string headword_256;
  for (int i = 0; i < 256; ++i) headword_256 += "词";
  std::string long_text;
  while (long_text.size() < kMaxArticleBytes + 1000) long_text += "a line of the article\n";
  const Dictionary d =
      add(*store, "Long",
          {article(headword_256, "fits"), article(headword_256 + "多出来的", "cut"), article("big", long_text)});
  EXPECT_EQ(d.entries, 2);  // the over-long headword is cut to the same 256 characters: one entry
  auto found = named(*store, headword_256);
  ASSERT_EQ(found.entries.size(), 1u);
  EXPECT_EQ(definition(found.entries[0]), "fits\n\ncut");
  auto big = named(*store, "big");
  ASSERT_EQ(big.entries.size(), 1u);
  const std::string text = definition(big.entries[0]);
  EXPECT_LE(text.size(), kMaxArticleBytes);
  EXPECT_EQ(text.substr(text.size() - kArticleCutNote.size()), kArticleCutNote);
  EXPECT_EQ(text.substr(text.size() - kArticleCutNote.size() - 22, 22), "a line of the article\n");
  // A person may save a name as long, and no longer.
  EXPECT_TRUE(checked_term(headword_256));
  EXPECT_FALSE(checked_term(headword_256 + "x"));
}

TEST_F(DictionaryStoreTest, ExportHoldsOnlyEntriesThatAreNoDictionarys) {
  add(*store, "FOLDOC", {article("mutex", "mutual exclusion"), article("deadlock", "stuck")});
  std::vector<std::string> exported;
  ASSERT_TRUE(store->export_records([&](const TermRecord& r) -> Result<void> {
    exported.push_back(r.term + "/" + r.source);
    return {};
  }));
  EXPECT_EQ(exported, std::vector<std::string>{"mutex/glossary"});
  auto cursor = store->open_export();
  ASSERT_TRUE(cursor);
  std::size_t seen = 0;
  while (auto next = cursor->next()) {
    if (!*next) break;
    ++seen;
  }
  EXPECT_EQ(seen, 1u);
  // An import meets no dictionary's entry: a record of that name is the person's, beside it.
  auto summary = store->import_file(R"({"term":"deadlock","lang":"en","fields":{"definition":"mine"}})",
                                    TermFileFormat::kJsonLines);
  ASSERT_TRUE(summary) << summary.error().text();
  EXPECT_EQ(summary->added, 1u);
  EXPECT_EQ(who(named(*store, "deadlock")), (std::vector<std::string>{"deadlock/user", "deadlock/FOLDOC"}));
}

// The schema as the program before dictionaries left it, with a person's entry, a glossary entry
// with an alias and the indexes filled as that program filled them.
constexpr const char* kSchemaFive =
    "CREATE TABLE terms (id INTEGER PRIMARY KEY, term TEXT NOT NULL, term_key TEXT NOT NULL,"
    " lang TEXT NOT NULL, category_id TEXT NOT NULL, fields TEXT NOT NULL, created_at INTEGER NOT NULL,"
    " updated_at INTEGER NOT NULL, source TEXT NOT NULL DEFAULT 'user', aliases TEXT NOT NULL DEFAULT '[]',"
    " UNIQUE (term_key, lang));"
    "CREATE TABLE term_aliases (alias_key TEXT NOT NULL, term_id INTEGER NOT NULL,"
    " PRIMARY KEY (alias_key, term_id)) WITHOUT ROWID;"
    "CREATE INDEX term_aliases_by_term ON term_aliases (term_id);"
    "CREATE TABLE misses (text_key TEXT PRIMARY KEY, text TEXT NOT NULL, count INTEGER NOT NULL,"
    " last_at INTEGER NOT NULL);"
    "CREATE INDEX terms_by_update ON terms (updated_at DESC, id DESC);"
    "CREATE VIEW term_search (id, term, aliases, body) AS SELECT id, ruvo_index_text(term),"
    " ruvo_index_values(aliases), ruvo_index_values(fields) FROM terms;"
    "CREATE VIRTUAL TABLE terms_fts USING fts5(term, aliases, body, content='term_search', content_rowid='id');"
    "CREATE VIRTUAL TABLE names_fts USING fts5(term, aliases, content='term_search', content_rowid='id');"
    "INSERT INTO terms VALUES (3, 'RAG', 'rag', 'zh', 'term', '{\"definition\":\"检索增强生成\"}', 1, 5, 'glossary',"
    " '[\"检索增强\"]');"
    "INSERT INTO terms VALUES (7, 'Mutex', 'mutex', 'zh', 'term', '{\"definition\":\"我的互斥锁\"}', 2, 6, 'user', "
    "'[]');"
    "INSERT INTO term_aliases VALUES ('检索增强', 3);"
    "INSERT INTO terms_fts (rowid, term, aliases, body) VALUES (3, 'rag', '检 索 增 强', '检 索 增 强 生 成');"
    "INSERT INTO terms_fts (rowid, term, aliases, body) VALUES (7, 'mutex', '', '我 的 互 斥 锁');"
    "INSERT INTO names_fts (rowid, term, aliases) VALUES (3, 'rag', '检 索 增 强');"
    "INSERT INTO names_fts (rowid, term, aliases) VALUES (7, 'mutex', '');"
    "INSERT INTO misses VALUES ('foo', 'foo', 2, 9);"
    "PRAGMA user_version = 5;";

TEST(DictionaryMigrationTest, AStoreOfTheSchemaBeforeKeepsEveryEntryAndTakesDictionaries) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, kSchemaFive, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_close(db);
  }
  auto store = open_store(path, {glossary_draft("LLM", "seed")});
  ASSERT_TRUE(store);
  EXPECT_EQ(sql_count(path, "PRAGMA user_version"), kStoreSchemaVersion);
  EXPECT_EQ(ok(store->count()), 2);  // not seeded, nothing lost
  auto rag = ok(store->find_any("检索增强", "zh"));
  ASSERT_TRUE(rag);
  EXPECT_EQ(rag->id, "3");
  EXPECT_EQ(rag->source, kSourceGlossary);
  EXPECT_EQ(ok(store->search("互斥", 10, 0)).total, 1);  // the body index still serves
  EXPECT_EQ(ok(store->search("rag", 10, 0)).terms.at(0).id, "3");
  EXPECT_EQ(ok(store->misses(10)).size(), 1u);
  // A store that was there before only lists the system's dictionaries.
  EXPECT_FALSE(ok(store->system_dictionaries_pending()));

  // The person's save of the glossary's RAG is theirs beside it, and ids go on from the highest.
  auto mine = store->save(TermDraft{"rag", "zh", "term", JsonValue{{"plain", "我的说法"}}});
  ASSERT_TRUE(mine) << mine.error().text();
  EXPECT_EQ(mine->id, "8");
  EXPECT_EQ(mine->fields, (JsonValue{{"definition", "检索增强生成"}, {"plain", "我的说法"}}));
  EXPECT_EQ(ok(store->get(3))->fields, (JsonValue{{"definition", "检索增强生成"}}));
  add(*store, "FOLDOC", {article("RAG", "rag in foldoc")});
  EXPECT_EQ(who(named(*store, "RAG")), (std::vector<std::string>{"rag/user", "RAG/glossary", "RAG/FOLDOC"}));
}

TEST(DictionaryMigrationTest, ANewStoreIsOfferedTheSystemsDictionariesOnce) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  EXPECT_TRUE(ok(store->system_dictionaries_pending()));
  ASSERT_TRUE(store->mark_system_dictionaries_offered());
  EXPECT_FALSE(ok(store->system_dictionaries_pending()));
}

}  // namespace
}  // namespace ruvo::desktop::store
