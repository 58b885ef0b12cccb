// Writing entries: saves, a model's answer kept only where nothing is, the
// misses, and deletion. Every write is one transaction on the writer, and
// none goes into a store SQLite has said is damaged. What a write commits is
// told to what the store keeps in memory: the count and the Latin names.
#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "store/connection_pool.hpp"
#include "store/latin_cache.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <string>

namespace ruvo::desktop::store {

namespace {

// Whether an entry of the draft's (key, lang) is stored: a save of it
// updates, one of a new pair adds. Inside the save's transaction.
Result<bool> exists(Connection& writer, const TermDraft& draft) {
  Statement st(writer.kept("SELECT 1 FROM terms WHERE term_key = ?1 AND lang = ?2"));
  if (!st.ok()) return sqlite_error(writer.db(), "prepare save");
  st.bind(1, term_key(draft.term));
  st.bind(2, draft.lang);
  const int rc = st.step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(writer.db(), "save");
  return rc == SQLITE_ROW;
}

}  // namespace

void TermStore::counted_by(std::int64_t delta) {
  std::int64_t now = count_.load();
  while (now >= 0 && !count_.compare_exchange_weak(now, now + delta)) {}
}

Result<TermEntry> TermStore::save(const TermDraft& draft) {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  Connection& db = **writer;
  bool added = false;
  auto saved = noted(in_transaction(db.db(), [&]() -> Result<TermEntry> {
    auto there = exists(db, draft);
    if (!there) return there.error();
    added = !*there;
    return save_in_transaction(db.db(), draft);
  }));
  if (!saved) return saved;
  if (added) counted_by(1);
  remember_names(*saved);
  return saved;
}

Result<std::optional<TermEntry>> TermStore::save_if_absent(const TermDraft& draft) {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  Connection& db = **writer;
  auto saved = noted(in_transaction(db.db(), [&] { return insert_if_absent_in_transaction(db.db(), draft); }));
  if (saved && *saved) {
    counted_by(1);
    remember_names(**saved);
  }
  return saved;
}

void TermStore::remember_names(const TermEntry& entry) {
  std::vector<std::string> keys{term_key(entry.term)};
  for (const auto& alias : entry.aliases) keys.push_back(term_key(alias));
  latin_->renamed(std::stoll(entry.id), std::move(keys));
}

Result<void> TermStore::record_miss(std::string_view text) {
  if (damaged()) return damaged_refusal();
  const std::string key = term_key(text);
  if (key.empty()) return {};
  // Not worth a wait: a lookup that missed answers now, counted or not.
  auto writer = writer_->lease_within(std::chrono::milliseconds(0));
  if (!writer) return writer.error();
  Connection& db = **writer;
  sqlite3_busy_timeout(db.db(), 0);
  auto counted = noted(in_transaction(db.db(), [&]() -> Result<void> {
    Statement upsert(db.kept(
        "INSERT INTO misses (text_key, text, count, last_at) VALUES (?1, ?2, 1, ?3) "
        "ON CONFLICT (text_key) DO UPDATE SET count = count + 1, text = excluded.text, last_at = excluded.last_at"));
    if (!upsert.ok()) return sqlite_error(db.db(), "prepare miss");
    upsert.bind(1, key);
    upsert.bind(2, common::trim_unicode_space(text));
    upsert.bind(3, platform::unix_seconds());
    if (upsert.step() != SQLITE_DONE) return sqlite_error(db.db(), "miss");
    static const std::string prune =
        "DELETE FROM misses WHERE text_key IN (SELECT text_key FROM misses "
        "ORDER BY last_at DESC, rowid DESC LIMIT -1 OFFSET " +
        std::to_string(kMaxMisses) + ")";
    Statement trim(db.kept(prune.c_str()));
    if (!trim.ok() || trim.step() != SQLITE_DONE) return sqlite_error(db.db(), "miss");
    return {};
  }));
  sqlite3_busy_timeout(db.db(), static_cast<int>(bounds_.writer_wait.count()));
  return counted;
}

Result<bool> TermStore::remove(std::int64_t id) {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  sqlite3* db = (*writer)->db();
  auto removed = noted(in_transaction(db, [&]() -> Result<bool> {
    Statement exists(db, "SELECT 1 FROM terms WHERE id = ?1");
    if (!exists.ok()) return sqlite_error(db, "prepare delete");
    exists.bind(1, id);
    int rc = exists.step();
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) return sqlite_error(db, "delete");
    if (auto out = unindex_row(db, id); !out) return out.error();
    for (const char* sql : {"DELETE FROM term_aliases WHERE term_id = ?1", "DELETE FROM terms WHERE id = ?1"}) {
      if (auto dropped = run_for_id(db, sql, id, "delete"); !dropped) return dropped.error();
    }
    return true;
  }));
  if (removed && *removed) {
    counted_by(-1);
    latin_->removed(id);
  }
  return removed;
}

}  // namespace ruvo::desktop::store
