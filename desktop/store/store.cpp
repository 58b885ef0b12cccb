// Opening the store: one connection as every connection of ours is set up,
// the file checked, migrated and made private; and its count of entries.
#include "store/store.hpp"

#include "platform/files.hpp"
#include "store/file_safety.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/schema.hpp"
#include "store/sql.hpp"

#include <sqlite3.h>

#include <utility>

namespace ruvo::desktop::store {

std::string term_key(std::string_view term) { return match_key(term); }

// A connection to the store at its resolved path, with what every
// connection of ours needs: the busy time-out, the index's SQL functions,
// WAL and synchronous=FULL.
Result<std::unique_ptr<TermStore>> TermStore::connect(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
      SQLITE_OK) {
    Error error = sqlite_error(db, "open " + path);
    sqlite3_close(db);
    return error;
  }
  std::unique_ptr<TermStore> store(new TermStore(db));
  sqlite3_busy_timeout(db, 5000);
  if (auto registered = register_index_functions(db); !registered) return registered.error();
  {
    Statement wal(db, "PRAGMA journal_mode = WAL");
    if (!wal.ok() || wal.step() != SQLITE_ROW || wal.text(0) != "wal") {
      return sqlite_error(db, "PRAGMA journal_mode = WAL");
    }
  }
  if (auto done = exec(db, "PRAGMA synchronous = FULL"); !done) return done.error();
  return store;
}

Result<std::unique_ptr<TermStore>> TermStore::open_another() {
  if (damaged()) return damaged_refusal();
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const char* name = sqlite3_db_filename(db_, "main");
    path = name ? name : "";
  }
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  return connect(path);
}

Result<std::unique_ptr<TermStore>> TermStore::open(const std::string& path, const std::vector<TermDraft>& seed) {
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  if (auto made = platform::make_private_file(path); !made) return made.error();
  auto resolved = resolved_store_path(path);
  if (!resolved) return resolved.error();
  auto connected = connect(*resolved);
  if (!connected) return connected.error();
  std::unique_ptr<TermStore> store = std::move(connected).value();
  sqlite3* db = store->db_;
  if (auto made = make_companions_private(path); !made) return made.error();

  auto version = schema_version(db);
  if (!version) return version.error();
  int current = *version;
  if (current > kStoreSchemaVersion) {
    return common::failure("词库 " + path + " 的版本 " + std::to_string(current) + " 比本程序新（" +
                           std::to_string(kStoreSchemaVersion) + "），不敢改动");
  }
  store->quick_check();
  if (current < kStoreSchemaVersion && store->damaged()) {
    return common::failure("词库 " + path + " 已损坏（" + store->damage_detail() + "），需要升级却不敢改动");
  }
  if (current < kStoreSchemaVersion) {
    if (auto migrated = migrate(db, seed); !migrated) return migrated.error();
  }
  // What an add or a removal cut off by a crash left is invisible already; it goes now. A store that
  // cannot take it out today (its folder read-only, say) still answers, and tries again next time.
  if (!store->damaged()) {
    [[maybe_unused]] const auto cleared = store->clear_unfinished_dictionaries();
  }
  return store;
}

TermStore::~TermStore() {
  for (auto& [sql, stmt] : kept_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

sqlite3_stmt* TermStore::kept_statement(const char* sql) {
  auto at = kept_.find(std::string_view(sql));
  if (at != kept_.end()) return at->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  kept_.emplace(sql, stmt);
  return stmt;
}

Result<std::int64_t> TermStore::count() {
  std::lock_guard<std::mutex> guard(mutex_);
  // Counting reads a whole index, which for a million entries costs more
  // than the rest of a ruvo command; health is asked at every command, so
  // the count is kept until a write (ours, or another connection's, which
  // moves data_version) changes it.
  return noted([&]() -> Result<std::int64_t> {
    Statement version(kept_statement("PRAGMA data_version"));
    if (!version.ok() || version.step() != SQLITE_ROW) return sqlite_error(db_, "PRAGMA data_version");
    const std::int64_t now = version.integer(0);
    if (counted_ >= 0 && counted_version_ == now) return counted_;
    // The person's, the glossary's and the model's: dictionaries are counted apart.
    Statement st(kept_statement("SELECT COUNT(*) FROM terms WHERE dictionary_id IS NULL"));
    if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db_, "count");
    counted_ = st.integer(0);
    counted_version_ = now;
    return counted_;
  }());
}

}  // namespace ruvo::desktop::store
