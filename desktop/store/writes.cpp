// Writing entries: saves, a model's answer kept only where nothing is, the
// misses, and deletion. Every write is one transaction, and none goes into a
// store SQLite has said is damaged.
#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <string>

namespace ruvo::desktop::store {

Result<TermEntry> TermStore::save(const TermDraft& draft) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return damaged_refusal();
  auto saved = noted(in_transaction(db_, [&] { return save_in_transaction(db_, draft); }));
  if (saved) remember_names(*saved);
  return saved;
}

Result<std::optional<TermEntry>> TermStore::save_if_absent(const TermDraft& draft) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return damaged_refusal();
  auto saved = noted(in_transaction(db_, [&] { return insert_if_absent_in_transaction(db_, draft); }));
  if (saved && *saved) remember_names(**saved);
  return saved;
}

void TermStore::remember_names(const TermEntry& entry) {
  if (!latin_) return;
  const std::int64_t id = std::stoll(entry.id);
  latin_->forget(id);
  latin_->add(id, term_key(entry.term));
  for (const auto& alias : entry.aliases) latin_->add(id, term_key(alias));
  // Our own writes do not move data_version; only other connections' do.
}

Result<void> TermStore::record_miss(std::string_view text) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return damaged_refusal();
  const std::string key = term_key(text);
  if (key.empty()) return {};
  return noted(in_transaction(db_, [&]() -> Result<void> {
    Statement upsert(kept_statement(
        "INSERT INTO misses (text_key, text, count, last_at) VALUES (?1, ?2, 1, ?3) "
        "ON CONFLICT (text_key) DO UPDATE SET count = count + 1, text = excluded.text, last_at = excluded.last_at"));
    if (!upsert.ok()) return sqlite_error(db_, "prepare miss");
    upsert.bind(1, key);
    upsert.bind(2, common::trim_unicode_space(text));
    upsert.bind(3, platform::unix_seconds());
    if (upsert.step() != SQLITE_DONE) return sqlite_error(db_, "miss");
    static const std::string prune =
        "DELETE FROM misses WHERE text_key IN (SELECT text_key FROM misses "
        "ORDER BY last_at DESC, rowid DESC LIMIT -1 OFFSET " +
        std::to_string(kMaxMisses) + ")";
    Statement trim(kept_statement(prune.c_str()));
    if (!trim.ok() || trim.step() != SQLITE_DONE) return sqlite_error(db_, "miss");
    return {};
  }));
}

Result<bool> TermStore::remove(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return damaged_refusal();
  auto removed = noted(in_transaction(db_, [&]() -> Result<bool> {
    // A dictionary's entries go with their dictionary, never one by one.
    Statement exists(db_, "SELECT 1 FROM terms WHERE id = ?1 AND dictionary_id IS NULL");
    if (!exists.ok()) return sqlite_error(db_, "prepare delete");
    exists.bind(1, id);
    int rc = exists.step();
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) return sqlite_error(db_, "delete");
    if (auto out = unindex_row(db_, id); !out) return out.error();
    for (const char* sql : {"DELETE FROM term_aliases WHERE term_id = ?1", "DELETE FROM terms WHERE id = ?1"}) {
      if (auto dropped = run_for_id(db_, sql, id, "delete"); !dropped) return dropped.error();
    }
    return true;
  }));
  if (removed && *removed && latin_) latin_->forget(id);
  return removed;
}

}  // namespace ruvo::desktop::store
