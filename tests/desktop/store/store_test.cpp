#include "store/store.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/damaged_store.hpp"
#include "support/outside_file.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <thread>

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

TermDraft draft(std::string term, JsonValue fields, std::string lang = "zh") {
  return TermDraft{std::move(term), std::move(lang), "term", std::move(fields)};
}

TermEntry saved(TermStore& store, const TermDraft& d) {
  auto result = store.save(d);
  if (!result) {
    ADD_FAILURE() << result.error().text();
    return {};
  }
  return result.value();
}

std::optional<TermEntry> found(Result<std::optional<TermEntry>> result) {
  if (!result) {
    ADD_FAILURE() << result.error().text();
    return std::nullopt;
  }
  return result.value();
}

std::int64_t count_of(TermStore& store) {
  auto result = store.count();
  return result.ok() ? result.value() : -1;
}

// Reads one value through a connection of its own, as another program would.
std::string pragma_value(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

TEST(TermKeyTest, FoldsSpaceCaseWidthAndTraditionalChinese) {
  const std::pair<std::string, std::string> cases[] = {
      {"RAG", "rag"},
      {"  Rag\t\n", "rag"},
      {"\xe3\x80\x80RAG\xe3\x80\x80", "rag"},  // ideographic spaces around
      {"ＲＡＧ", "rag"},                       // full width
      {"向量数据库", "向量数据库"},
      {"數據庫", "数据库"},
      {"ÉCOLE", "école"},
      {"Function  Calling", "function calling"},  // inner space kept, runs made one
  };
  for (const auto& [term, key] : cases) EXPECT_EQ(term_key(term), key) << term;
}

TEST(TermStoreTest, MigratesAVersionTwoStoreMergingWhatNowSharesAKey) {
  TempDir dir;
  std::string path = dir.file("terms.sqlite3");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* v2 =
        "CREATE TABLE terms (id INTEGER PRIMARY KEY, term TEXT NOT NULL, term_key TEXT NOT NULL,"
        " lang TEXT NOT NULL, category_id TEXT NOT NULL, fields TEXT NOT NULL, created_at INTEGER NOT NULL,"
        " updated_at INTEGER NOT NULL, source TEXT NOT NULL DEFAULT 'user', UNIQUE (term_key, lang));"
        "INSERT INTO terms VALUES (1, 'RAG', 'rag', 'zh', 'term', '{\"definition\":\"旧的\",\"来源\":\"论文\"}', 1, 1, "
        "'user');"
        "INSERT INTO terms VALUES (2, 'ＲＡＧ', 'ＲＡＧ', 'zh', 'term', '{\"definition\":\"新的\"}', 2, 2, 'user');"
        "INSERT INTO terms VALUES (3, '數據庫', '數據庫', 'zh', 'term', '{\"definition\":\"d\"}', 3, 3, 'user');"
        "INSERT INTO terms VALUES (4, 'Prompt', 'prompt', 'zh', 'term', '{\"definition\":\"p\"}', 4, 4, 'glossary');"
        "INSERT INTO terms VALUES (5, 'RAG', 'rag', 'en', 'term', '{\"definition\":\"english\"}', 5, 5, 'user');"
        "PRAGMA user_version = 2;";
    ASSERT_EQ(sqlite3_exec(db, v2, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  TermDraft prompt = draft("Prompt", {{"definition", "seed"}});
  prompt.source = std::string(kSourceGlossary);
  prompt.aliases = std::vector<std::string>{"提示词"};
  auto store = open_store(path, {prompt});
  ASSERT_TRUE(store);
  EXPECT_EQ(pragma_value(path, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
  EXPECT_EQ(count_of(*store), 4);  // the two zh RAGs are one now; nothing else goes
  auto rag = found(store->find("rag", "zh"));
  ASSERT_TRUE(rag);
  EXPECT_EQ(rag->id, "1");                                                        // the earlier id stays
  EXPECT_EQ(rag->term, "ＲＡＧ");                                                 // the later spelling wins
  EXPECT_EQ(rag->fields, JsonValue({{"definition", "新的"}, {"来源", "论文"}}));  // field by field
  auto english = found(store->find("RAG", "en"));
  ASSERT_TRUE(english);
  EXPECT_EQ(english->fields["definition"], "english");
  auto database = found(store->find("数据库", "zh"));
  ASSERT_TRUE(database);
  EXPECT_EQ(database->term, "數據庫");
  auto by_alias = found(store->find_any("提示词", "zh"));  // the glossary's aliases reach an old store
  ASSERT_TRUE(by_alias);
  EXPECT_EQ(by_alias->term, "Prompt");
  EXPECT_EQ(by_alias->fields["definition"], "p");  // and nothing else of it changes
}

TEST(TermStoreTest, AliasesFindTheirEntryAndASaveReplacesThem) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  TermDraft llm = draft("LLM", {{"definition", "大语言模型"}});
  llm.aliases = std::vector<std::string>{"大语言模型", "大語言模型", "Large Language Model"};
  TermEntry entry = saved(*store, llm);
  EXPECT_EQ(entry.aliases.size(), 3u);
  for (const char* name : {"大语言模型", "large language model", "ＬＬＭ"}) {
    auto hit = found(store->find_any(name, "zh"));
    ASSERT_TRUE(hit) << name;
    EXPECT_EQ(hit->id, entry.id) << name;
    EXPECT_EQ(hit->aliases, entry.aliases) << name;
  }
  // A save without aliases keeps them; one with aliases replaces them.
  saved(*store, draft("llm", {{"plain", "p"}}));
  EXPECT_TRUE(found(store->find_any("大语言模型", "zh")));
  TermDraft renamed = draft("LLM", {});
  renamed.aliases = std::vector<std::string>{"大模型"};
  saved(*store, renamed);
  EXPECT_FALSE(found(store->find_any("大语言模型", "zh")));
  EXPECT_TRUE(found(store->find_any("大模型", "zh")));
}

TEST(TermStoreTest, SuggestsWhatAMissMayHaveMeant) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  saved(*store, draft("RAG", {{"definition", "d"}}));
  saved(*store, draft("Embedding", {{"definition", "d"}}));
  TermDraft prompt = draft("Prompt", {{"definition", "d"}});
  prompt.aliases = std::vector<std::string>{"提示词"};
  saved(*store, prompt);
  saved(*store, draft("检索增强生成", {{"definition", "d"}}));
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"ragg", {"RAG"}},    {"embeding", {"Embedding"}},    {"promtp", {"Prompt"}},
      {"提示", {"Prompt"}}, {"检索增强", {"检索增强生成"}}, {"zzzz", {}},
      {"量子计算", {}},
  };
  for (const auto& [text, expected] : cases) {
    auto got = store->suggest(text);
    ASSERT_TRUE(got.ok()) << got.error().text();
    EXPECT_EQ(*got, expected) << text;
  }
  // A name saved after the first suggestion is offered too.
  saved(*store, draft("Agent", {{"definition", "d"}}));
  auto got = store->suggest("agnet");
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(*got, std::vector<std::string>{"Agent"});
}

// Texts one character past a stored name, beside generated names that
// differ only in their digits, and Chinese and mixed texts: the filters the
// names pass before an edit distance must keep what is near.
TEST(TermStoreTest, SuggestionsForATextOnePastAStoredNameOfferTheNearNames) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  for (const char* term : {"term1111111", "term0654321", "term0654329", "向量数据库", "检索增强生成", "RAG 检索",
                           "GPT-4o"}) {
    saved(*store, draft(term, {{"definition", "d"}}));
  }
  for (int i = 0; i < 500; ++i) saved(*store, draft("term" + std::to_string(2000000 + i * 7919), {{"definition", "d"}}));
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"term06543210", {"term0654321", "term0654329"}},
      {"term06543211", {"term0654321", "term0654329"}},
      {"term0654321x", {"term0654321", "term0654329"}},
      {"TERM0654321", {"term0654329"}},
      {"term065432", {"term0654329", "term0654321"}},  // begins both, the newer first
      {"term1111111x", {"term1111111"}},
      {"向量数据库们", {"向量数据库"}},
      {"向量数据库A", {"向量数据库"}},
      {"检索增强生成器", {"检索增强生成"}},
      {"RAG 检索器", {"RAG 检索"}},
      {"检索", {"检索增强生成", "RAG 检索"}},
      {"gpt-4", {"GPT-4o"}},
      {"gpt-4o-mini", {}},
  };
  for (const auto& [text, expected] : cases) {
    auto got = store->suggest(text);
    ASSERT_TRUE(got.ok()) << got.error().text();
    EXPECT_EQ(*got, expected) << text;
  }
}

TEST(TermStoreTest, MissesAreCountedBoundedAndForgottenOnceSaved) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  for (const char* text : {"Foo", " foo ", "ｂａｒ"}) ASSERT_TRUE(store->record_miss(text).ok());
  auto misses = store->misses(10);
  ASSERT_TRUE(misses.ok());
  ASSERT_EQ(misses->size(), 2u);
  EXPECT_EQ((*misses)[0].text, "foo");  // the latest spelling
  EXPECT_EQ((*misses)[0].count, 2);
  EXPECT_EQ((*misses)[1].text, "ｂａｒ");
  EXPECT_GT((*misses)[1].last_at, 0);

  TermDraft bar = draft("Bar", {{"definition", "d"}});
  saved(*store, bar);
  misses = store->misses(10);
  ASSERT_TRUE(misses.ok());
  ASSERT_EQ(misses->size(), 1u);
  EXPECT_EQ((*misses)[0].text, "foo");

  for (int i = 0; i < kMaxMisses + 5; ++i) ASSERT_TRUE(store->record_miss("miss " + std::to_string(i)).ok());
  misses = store->misses(kMaxMisses * 2);
  ASSERT_TRUE(misses.ok());
  EXPECT_EQ(static_cast<int>(misses->size()), kMaxMisses);
}

TEST(TermStoreTest, FindsSavedTermWhateverTheCaseAndSurroundingSpace) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  TermEntry entry = saved(*store, draft("RAG", {{"definition", "检索增强生成"}}));
  for (const char* query : {"RAG", "rag", "  Rag \t", "\xe3\x80\x80rAg"}) {
    auto hit = found(store->find(query, "zh"));
    ASSERT_TRUE(hit) << query;
    EXPECT_EQ(hit->id, entry.id);
    EXPECT_EQ(hit->term, "RAG");
    EXPECT_EQ(hit->fields, JsonValue({{"definition", "检索增强生成"}}));
  }
  EXPECT_FALSE(found(store->find("RAGS", "zh")));
  EXPECT_FALSE(found(store->find("RAG", "en")));
}

TEST(TermStoreTest, UpdateReplacesGivenFieldsKeepsOthersAndRemovesBlankOnes) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  TermEntry first = saved(*store, draft("token", {{"definition", "d1"}, {"plain", "p1"}, {"example", "e1"}}));
  TermEntry second = saved(*store, draft(" Token ", {{"plain", "p2"}, {"example", "  "}, {"note", "n"}}));
  EXPECT_EQ(second.id, first.id);
  EXPECT_EQ(second.term, " Token ");  // the store keeps what it is given; routes trim
  JsonValue expected = {{"definition", "d1"}, {"plain", "p2"}, {"note", "n"}};
  EXPECT_EQ(second.fields, expected);
  auto hit = found(store->find("TOKEN", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields, expected);
  EXPECT_EQ(count_of(*store), 1);
}

TEST(TermStoreTest, LanguagesAreSeparateEntriesAndFindAnyPrefersTheGivenOne) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  TermEntry zh = saved(*store, draft("API", {{"definition", "中文"}}, "zh"));
  TermEntry en = saved(*store, draft("api", {{"definition", "English"}}, "en"));
  EXPECT_NE(zh.id, en.id);
  EXPECT_EQ(count_of(*store), 2);
  auto prefer_zh = found(store->find_any("Api", "zh"));
  auto prefer_en = found(store->find_any("Api", "en"));
  ASSERT_TRUE(prefer_zh && prefer_en);
  EXPECT_EQ(prefer_zh->id, zh.id);
  EXPECT_EQ(prefer_en->id, en.id);
  auto only_en = found(store->find_any("api", "fr"));
  ASSERT_TRUE(only_en);
}

TEST(TermStoreTest, SavesSurviveReopeningAndTheFileIsPrivateWalWithSchemaVersion) {
  TempDir dir;
  std::string path = dir.file("terms.sqlite3");
  {
    auto store = open_store(path);
    ASSERT_TRUE(store);
    saved(*store, draft("LoRA", {{"definition", "低秩适配"}}));
  }
  EXPECT_EQ(platform::file_mode(path), 0600u);
  EXPECT_EQ(pragma_value(path, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(pragma_value(path, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
  auto store = open_store(path);
  ASSERT_TRUE(store);
  auto hit = found(store->find("lora", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields["definition"], "低秩适配");
}

// A link at the store or at a file SQLite keeps beside it would have SQLite
// read and write the link's target: the store is not opened.
TEST(TermStoreTest, ALinkAtTheStoreOrBesideItIsRefusedAndItsTargetKept) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    for (bool target_exists : {true, false}) {
      SCOPED_TRACE(std::string("link at terms.sqlite3") + suffix + (target_exists ? " to a file" : ", dangling"));
      TempDir dir;
      std::string path = dir.file("terms.sqlite3");
      test::OutsideFile outside(target_exists);
      outside.link_from(path + suffix);
      auto opened = TermStore::open(path, {});
      ASSERT_FALSE(opened.ok());
      EXPECT_EQ(opened.error().text(), path + suffix + " is a symbolic link; the store is not opened through one");
      EXPECT_EQ(outside.changes(), "");
    }
  }
}

// What a crash of a run with a wider umask leaves: the store and its -wal
// and -shm, not empty, readable and writable by all. (Empty ones SQLite
// itself sets to the store's mode.) Each open makes them 0600.
TEST(TermStoreTest, WideFilesACrashLeftBesideTheStoreAreMade0600) {
  TempDir dir;
  std::string running = dir.file("running.sqlite3");
  std::string path = dir.file("terms.sqlite3");
  {
    auto store = open_store(running);
    ASSERT_TRUE(store);
    saved(*store, draft("LoRA", {{"definition", "低秩适配"}}));
    // The files as a process killed now would leave them.
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::filesystem::copy_file(running + suffix, path + suffix);
      ASSERT_TRUE(platform::set_file_mode(path + suffix, 0666).ok());
    }
  }
  ASSERT_GT(platform::file_size(path + "-wal").value_or(0), 0u);
  auto store = open_store(path);
  ASSERT_TRUE(store);
  for (const char* suffix : {"", "-wal", "-shm"}) EXPECT_EQ(platform::file_mode(path + suffix), 0600u) << suffix;
  auto hit = found(store->find("lora", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields["definition"], "低秩适配");
}

// SQLITE_OPEN_NOFOLLOW alone would refuse a link anywhere in the path; a
// folder reached through one is its owner's choice and works.
TEST(TermStoreTest, OpensInAFolderReachedThroughALink) {
  TempDir dir;
  ASSERT_TRUE(platform::create_folders(dir.file("real")));
  std::filesystem::create_directory_symlink(dir.file("real"), dir.file("link"));
  {
    auto store = open_store(dir.file("link/terms.sqlite3"));
    ASSERT_TRUE(store);
    saved(*store, draft("RAG", {{"definition", "检索增强生成"}}));
  }
  EXPECT_TRUE(platform::is_regular_file(dir.file("real/terms.sqlite3")));
  EXPECT_FALSE(platform::is_symbolic_link(dir.file("real/terms.sqlite3")));
  auto store = open_store(dir.file("real/terms.sqlite3"));
  ASSERT_TRUE(store);
  EXPECT_TRUE(found(store->find("rag", "zh")));
}

TEST(TermStoreTest, SeedFillsOnlyANewStore) {
  TempDir dir;
  std::string path = dir.file("terms.sqlite3");
  std::vector<TermDraft> seed = {draft("RAG", {{"definition", "a"}}), draft("LLM", {{"definition", "b"}})};
  {
    auto store = open_store(path, seed);
    ASSERT_TRUE(store);
    EXPECT_EQ(count_of(*store), 2);
    saved(*store, draft("RAG", {{"definition", "mine"}}));
  }
  auto store = open_store(path, seed);
  ASSERT_TRUE(store);
  EXPECT_EQ(count_of(*store), 2);
  auto hit = found(store->find("RAG", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields["definition"], "mine");  // the user's edit is not overwritten
}

TEST(TermStoreTest, RefusesAStoreWrittenByANewerProgram) {
  TempDir dir;
  std::string path = dir.file("terms.sqlite3");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string sql = "PRAGMA user_version = " + std::to_string(kStoreSchemaVersion + 1);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  auto opened = TermStore::open(path, {});
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.error().text().find("比本程序新"), std::string::npos);
}

TEST(TermStoreTest, SaveIfAbsentAddsOnlyNewEntriesAndKeepsTheirSource) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  TermEntry mine = saved(*store, draft("Embedding", {{"definition", "我写的"}}));
  EXPECT_EQ(mine.source, kSourceUser);

  TermDraft answer = draft(" embedding ", {{"definition", "模型写的"}, {"plain", "p"}});
  answer.source = std::string(kSourceModel);
  auto kept = store->save_if_absent(answer);
  ASSERT_TRUE(kept.ok());
  EXPECT_FALSE(kept.value().has_value());
  auto hit = found(store->find("Embedding", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields, JsonValue({{"definition", "我写的"}}));
  EXPECT_EQ(hit->source, kSourceUser);

  answer.term = "向量";
  auto added = store->save_if_absent(answer);
  ASSERT_TRUE(added.ok());
  ASSERT_TRUE(added.value().has_value());
  auto remembered = found(store->find("向量", "zh"));
  ASSERT_TRUE(remembered);
  EXPECT_EQ(remembered->source, kSourceModel);
  EXPECT_EQ(remembered->fields["plain"], "p");

  // A person's save over a remembered answer makes the entry theirs.
  saved(*store, draft("向量", {{"example", "e"}}));
  auto taken_over = found(store->find("向量", "zh"));
  ASSERT_TRUE(taken_over);
  EXPECT_EQ(taken_over->source, kSourceUser);
  EXPECT_EQ(taken_over->fields["plain"], "p");
}

TEST(TermStoreTest, MigratesAVersionOneStoreKeepingItsEntriesAsTheUsers) {
  TempDir dir;
  std::string path = dir.file("terms.sqlite3");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* v1 =
        "CREATE TABLE terms (id INTEGER PRIMARY KEY, term TEXT NOT NULL, term_key TEXT NOT NULL,"
        " lang TEXT NOT NULL, category_id TEXT NOT NULL, fields TEXT NOT NULL, created_at INTEGER NOT NULL,"
        " updated_at INTEGER NOT NULL, UNIQUE (term_key, lang));"
        "INSERT INTO terms VALUES (1, 'RAG', 'rag', 'zh', 'term', '{\"definition\":\"旧的\"}', 1, 1);"
        "PRAGMA user_version = 1;";
    EXPECT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  auto store = open_store(path, {draft("LLM", {{"definition", "seed"}})});
  ASSERT_TRUE(store);
  EXPECT_EQ(pragma_value(path, "PRAGMA user_version"), std::to_string(kStoreSchemaVersion));
  EXPECT_EQ(count_of(*store), 1);  // an existing store is not seeded
  auto hit = found(store->find("rag", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields["definition"], "旧的");
  EXPECT_EQ(hit->source, kSourceUser);
}

TEST(TermStoreTest, ConcurrentSavesAreAllKept) {
  TempDir dir;
  auto store = open_store(dir.file("terms.sqlite3"));
  ASSERT_TRUE(store);
  constexpr int kThreads = 8;
  constexpr int kSaves = 25;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kSaves; ++i) {
        // Every thread writes its own terms and also its own field of one
        // shared term, so merges race with each other.
        auto own = store->save(draft("t" + std::to_string(t) + "-" + std::to_string(i), {{"definition", "x"}}));
        auto shared = store->save(draft("shared", {{"f" + std::to_string(t), std::to_string(i)}}));
        if (!own.ok() || !shared.ok()) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_EQ(count_of(*store), kThreads * kSaves + 1);
  auto shared = found(store->find("shared", "zh"));
  ASSERT_TRUE(shared);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(shared->fields["f" + std::to_string(t)], std::to_string(kSaves - 1)) << "thread " << t;
  }
}

TEST(TermStoreDamageTest, ASoundStoreIsNotDamaged) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  for (int round = 0; round < 2; ++round) {  // new, then reopened
    auto store = open_store(path, {draft("RAG", {{"definition", "d"}})});
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->damaged());
    EXPECT_EQ(store->damage_detail(), "");
  }
}

TEST(TermStoreDamageTest, AFileFailingTheQuickCheckOpensDamagedRefusesWritesAndStillReads) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  auto page = test::make_damaged_store(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;

  auto store = open_store(path);
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->damaged());
  EXPECT_NE(store->damage_detail(), "");
  EXPECT_EQ(store->damage_detail().find('\n'), std::string::npos) << store->damage_detail();

  // What SQLite can still reach is answered.
  auto hit = found(store->find_any("rag", "zh"));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->fields["definition"], "kept");

  auto refused = store->save(draft("新词", {{"definition", "d"}}));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text(), kStoreDamagedRefusal);
  auto remembered = store->save_if_absent(draft("又一个新词", {{"definition", "d"}}));
  ASSERT_FALSE(remembered.ok());
  EXPECT_EQ(remembered.error().text(), kStoreDamagedRefusal);
  auto updated = store->save(draft("RAG", {{"definition", "changed"}}));
  EXPECT_FALSE(updated.ok());
  store.reset();

  // Nothing of the refused saves reached the file.
  EXPECT_EQ(pragma_value(path, "SELECT COUNT(*) FROM terms WHERE term_key IN ('新词', '又一个新词')"), "0");
  EXPECT_EQ(pragma_value(path, "SELECT fields FROM terms WHERE term_key = 'rag'"), R"({"definition":"kept"})");
}

TEST(TermStoreDamageTest, DamageAStatementMeetsLaterMarksTheStore) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  auto store = open_store(path);
  ASSERT_TRUE(store);
  // Entries enough for several pages.
  for (int i = 0; i < 60; ++i) {
    std::string name = std::string("filler ") + (i < 10 ? "0" : "") + std::to_string(i);
    saved(*store, draft(name, {{"definition", std::string(200, static_cast<char>('a' + i % 26))}}));
  }
  saved(*store, draft("RAG", {{"definition", "kept"}}));
  EXPECT_FALSE(store->damaged());

  // The file is damaged under the open store, which has read it all before.
  ASSERT_TRUE(test::checkpoint_store(path));
  auto page = test::damage_store_page(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;
  const std::string victim = test::filler_on(page);
  ASSERT_NE(victim, "");

  auto lost = store->find(victim, "zh");
  EXPECT_FALSE(lost.ok());
  EXPECT_TRUE(store->damaged());
  EXPECT_NE(store->damage_detail(), "");
  auto hit = found(store->find("RAG", "zh"));
  EXPECT_TRUE(hit);
  auto refused = store->save(draft("新词", {{"definition", "d"}}));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().text(), kStoreDamagedRefusal);
}

TEST(TermStoreDamageTest, ADamagedStoreThatNeedsMigratingIsNotOpened) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string v1 =
        "CREATE TABLE terms (id INTEGER PRIMARY KEY, term TEXT NOT NULL, term_key TEXT NOT NULL,"
        " lang TEXT NOT NULL, category_id TEXT NOT NULL, fields TEXT NOT NULL, created_at INTEGER NOT NULL,"
        " updated_at INTEGER NOT NULL, UNIQUE (term_key, lang));"
        "INSERT INTO terms VALUES (1, 'RAG', 'rag', 'zh', 'term', '{\"definition\":\"旧的\"}', 1, 1);"
        "PRAGMA user_version = 1;";
    for (int i = 2; i < 60; ++i) {
      v1 += "INSERT INTO terms VALUES (" + std::to_string(i) + ", 'filler', 'filler" + std::to_string(i) +
            "', 'zh', 'term', '" + std::string(200, 'x') + "', 1, 1);";
    }
    EXPECT_EQ(sqlite3_exec(db, v1.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  auto page = test::damage_store_page(path, "RAG");
  ASSERT_NE(page.number, 0) << page.problem;
  auto opened = TermStore::open(path, {});
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.error().text().find("已损坏"), std::string::npos) << opened.error().text();
  EXPECT_EQ(pragma_value(path, "PRAGMA user_version"), "1");  // left as it was
}

TEST(TermStoreDamageTest, AFileThatIsNoDatabaseIsNotOpened) {
  TempDir dir;
  const std::string path = dir.file("terms.sqlite3");
  ASSERT_TRUE(platform::write_file_atomically(path, std::string(8192, 'x')).ok());
  auto opened = TermStore::open(path, {});
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.error().text().find("not a database"), std::string::npos) << opened.error().text();
}

}  // namespace
}  // namespace ruvo::desktop::store
